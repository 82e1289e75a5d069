// Message splitting and packing, long-message pieces, pacing, offsets and the message packet.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/message_split.h"
#include "control/messages.h"

namespace {

// A sink that records what would be sent and can fail chosen sends.
struct Recorder {
  std::vector<std::string> sent;
  std::vector<int> failures;  // result of the n-th send, 0 beyond the list
  lvx::LongMessageId id{0x2a, 0};

  lvx::MessageSink sink() {
    lvx::MessageSink s;
    s.send = [this](std::string_view text) {
      sent.emplace_back(text);
      size_t n = sent.size() - 1;
      return n < failures.size() ? failures[n] : 0;
    };
    s.next_long_id = [this] {
      ++id.count;
      return id;
    };
    return s;
  }
};

std::string letters(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += static_cast<char>('a' + i % 26);
  return s;
}

// Joins the texts of long-message pieces back together, checking their prefixes.
std::string rejoin(const std::vector<std::string> &lines, const std::string &id) {
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string prefix = (i == 0 ? "!V LONGMS_ST_" : "!V LONGMS_CONT_") + id + " ";
    EXPECT_EQ(lines[i].compare(0, prefix.size(), prefix), 0) << lines[i];
    EXPECT_LE(lines[i].size(), 247u);
    out += lines[i].substr(prefix.size());
  }
  return out;
}

std::vector<std::string> lines_of(const std::string &packet) {
  std::vector<std::string> out;
  size_t start = 0;
  while (true) {
    size_t end = packet.find('\n', start);
    out.push_back(packet.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return out;
}

TEST(MessageSplit, A248CharacterMessage) {
  std::string text = letters(248);
  Recorder large;
  EXPECT_EQ(lvx::split_and_send(text, 992, large.sink()), 0);
  EXPECT_EQ(large.sent, std::vector<std::string>{text});

  Recorder small;
  EXPECT_EQ(lvx::split_and_send(text, 248, small.sink()), 0);
  ASSERT_EQ(small.sent.size(), 2u);
  EXPECT_EQ(small.sent[0].size(), 247u);  // every full piece is 247 characters
  EXPECT_EQ(rejoin(small.sent, "2a1"), text);
  EXPECT_EQ(lvx::split_and_send(letters(247), 248, small.sink()), 0);
  EXPECT_EQ(small.sent.back(), letters(247));  // the longest plain message
}

TEST(MessageSplit, SixHundredCharactersOnALargePacketTrackerIsOnePacketOfThreePieces) {
  std::string text = letters(600);
  Recorder r;
  EXPECT_EQ(lvx::split_and_send(text, 992, r.sink()), 0);
  ASSERT_EQ(r.sent.size(), 1u);
  std::vector<std::string> pieces = lines_of(r.sent[0]);
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[0].size(), 247u);
  EXPECT_EQ(pieces[1].size(), 247u);
  EXPECT_EQ(rejoin(pieces, "2a1"), text);
}

TEST(MessageSplit, FourFullPiecesFillOnePacket) {
  std::string text = letters(2000);
  Recorder r;
  EXPECT_EQ(lvx::split_and_send(text, 992, r.sink()), 0);
  ASSERT_GE(r.sent.size(), 2u);
  EXPECT_EQ(r.sent[0].size(), 991u);
  std::vector<std::string> all;
  for (const std::string &p : r.sent) {
    EXPECT_LE(p.size() + 1, 992u);
    for (const std::string &l : lines_of(p)) all.push_back(l);
  }
  EXPECT_EQ(rejoin(all, "2a1"), text);
}

TEST(MessageSplit, MultiLineTexts) {
  Recorder small;
  EXPECT_EQ(lvx::split_and_send("a\n\nb", 248, small.sink()), 0);
  EXPECT_EQ(small.sent, (std::vector<std::string>{"a", "b"}));

  Recorder large;
  EXPECT_EQ(lvx::split_and_send("a\n\nb\n", 992, large.sink()), 0);
  EXPECT_EQ(large.sent, std::vector<std::string>{"a\nb"});  // packed, empty lines dropped

  // Lines are packed until the next would not fit; a line too long for one stored message goes
  // out as a long message of its own, after the lines before it.
  std::string forty(200, 'x');
  std::string text;
  for (int i = 0; i < 6; ++i) text += forty + "\n";
  text += letters(300) + "\nend";
  Recorder packed;
  EXPECT_EQ(lvx::split_and_send(text, 992, packed.sink()), 0);
  ASSERT_EQ(packed.sent.size(), 4u);
  EXPECT_EQ(lines_of(packed.sent[0]).size(), 4u);  // 4 x 200 + 3 line feeds
  EXPECT_EQ(lines_of(packed.sent[1]).size(), 2u);
  EXPECT_EQ(rejoin(lines_of(packed.sent[2]), "2a1"), letters(300));
  EXPECT_EQ(packed.sent[3], "end");
}

TEST(MessageSplit, TextWithoutALineEndingANonEmptyLineIsOneLongMessage) {
  std::string text(1, '\n');
  text += letters(1000);
  Recorder r;
  lvx::split_and_send(text, 992, r.sink());
  std::vector<std::string> all;
  for (const std::string &p : r.sent)
    for (const std::string &l : lines_of(p)) all.push_back(l);
  // The leading line feed travels inside the first piece.
  std::string joined;
  for (size_t i = 0; i < all.size(); ++i) joined += (i ? "\n" : "") + all[i];
  EXPECT_NE(joined.find("!V LONGMS_ST_2a1 \n"), std::string::npos);
}

TEST(MessageSplit, FailuresAreReported) {
  Recorder lines;
  lines.failures = {0, -5, 0};
  EXPECT_EQ(lvx::split_and_send("a\nb\nc", 248, lines.sink()), -5);  // the last failure
  EXPECT_EQ(lines.sent.size(), 3u);

  Recorder pieces;
  pieces.failures = {-5, 0};
  // A long message returns the result of its last send.
  EXPECT_EQ(lvx::split_and_send(letters(400), 248, pieces.sink()), 0);

  Recorder packed;
  packed.failures = {-7, -9};
  // Packed lines report their own failure; a long line's failure does not count.
  EXPECT_EQ(lvx::split_and_send("a\n" + letters(300), 992, packed.sink()), -7);
}

TEST(MessagePacer, BurstsWaitAMillisecond) {
  lvx::MessagePacer p;
  EXPECT_FALSE(p.admit(100));  // opens the window
  for (int i = 2; i <= 16; ++i) EXPECT_FALSE(p.admit(100)) << i;
  EXPECT_TRUE(p.admit(100));  // the 17th in the window's first millisecond
  p.restart(101);

  lvx::MessagePacer spread;
  spread.admit(200);
  for (int i = 2; i <= 41; ++i) EXPECT_FALSE(spread.admit(201)) << i;
  EXPECT_TRUE(spread.admit(202));  // the 42nd within the window

  lvx::MessagePacer late;
  late.admit(300);
  for (int i = 2; i <= 16; ++i) late.admit(301);
  EXPECT_FALSE(late.admit(304));  // at 4 ms a busy window restarts without waiting
  for (int i = 2; i <= 16; ++i) EXPECT_FALSE(late.admit(304));
  EXPECT_TRUE(late.admit(304));  // ... and counts afresh from there

  lvx::MessagePacer quiet;
  quiet.admit(400);
  for (int i = 0; i < 100; ++i) EXPECT_FALSE(quiet.admit(static_cast<uint32_t>(405 + 5 * i)));
}

TEST(MessagePacket, OffsetsRoundHalfUpTowardZero) {
  double now = 5'000'000.0;
  EXPECT_EQ(lvx::message_offset_ms(now + 20000.0, now), 20);
  EXPECT_EQ(lvx::message_offset_ms(now - 20000.0, now), -19);        // -19.5 cut toward zero
  EXPECT_EQ(lvx::message_offset_ms(now - 20000.0, now + 600), -20);  // 0.6 ms later
  EXPECT_EQ(lvx::message_offset_ms(now, now + 300), 0);
  EXPECT_EQ(lvx::message_offset_ms(now, now + 700), 0);
  EXPECT_EQ(lvx::message_offset_ms(now, now + 1600), -1);
  EXPECT_EQ(lvx::message_offset_ms(1e18, 0), INT32_MAX);
}

TEST(MessagePacket, GoldenBytes) {
  std::vector<uint8_t> p = lvx::encode_message_packet(0x0A0B0C0D, -2, "hi");
  std::vector<uint8_t> want(33, 0);
  want[0] = 5;  // MESSAGE_PKT
  want[1] = 20;
  want[4] = 0x0A, want[5] = 0x0B, want[6] = 0x0C, want[7] = 0x0D;
  want[20] = 0xFF, want[21] = 0xFF, want[22] = 0xFF, want[23] = 0xFE;
  want[24] = 1;
  want[27] = 3;
  want[28] = 'h', want[29] = 'i';
  EXPECT_EQ(p, want);
}

}  // namespace
