// Command texts: line splitting, quoted parts, the pieces eyecmd_printf sends, waited commands,
// and the bytes of a command packet.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/command_text.h"
#include "control/commands.h"

namespace {

using Pieces = std::vector<std::string>;

TEST(CommandText, LineBreaksNeedANonEmptyLine) {
  EXPECT_TRUE(lvx::has_line_break("a\nb"));
  EXPECT_TRUE(lvx::has_line_break("abc\n"));
  EXPECT_FALSE(lvx::has_line_break("\nabc"));  // ends only an empty line
  EXPECT_FALSE(lvx::has_line_break("\n\n"));
  EXPECT_FALSE(lvx::has_line_break("abc"));
  EXPECT_EQ(lvx::split_lines("\na\n\n\nb\n"), (std::vector<std::string_view>{"a", "b"}));
}

TEST(CommandText, QuotedPartsNeedAPairOfOneKind) {
  EXPECT_TRUE(lvx::has_quoted_part("x \"a\nb\""));
  EXPECT_TRUE(lvx::has_quoted_part("x 'a\nb'"));
  EXPECT_FALSE(lvx::has_quoted_part("it's \"one"));  // one of each kind is no pair
}

TEST(CommandText, PiecesSplitOnlyOnSmallPacketTrackers) {
  EXPECT_EQ(lvx::command_pieces("a\nb", 248), (Pieces{"a", "b"}));
  EXPECT_EQ(lvx::command_pieces("a\n\nb", 248), (Pieces{"a", "b"}));
  EXPECT_EQ(lvx::command_pieces("a\nb", 992), (Pieces{"a\nb"}));
  EXPECT_EQ(lvx::command_pieces("x 'a\nb'", 248), (Pieces{"x 'a\nb'"}));
  EXPECT_EQ(lvx::command_pieces("\nabc", 248), (Pieces{"\nabc"}));
  // Every line is kept, even beyond the 248 lines a piece table would hold.
  std::string many;
  for (int i = 0; i < 300; ++i) many += "c\n";
  EXPECT_EQ(lvx::command_pieces(many, 248).size(), 300u);
}

TEST(CommandText, WaitedCommands) {
  using lvx::WaitedCommand;
  EXPECT_EQ(lvx::classify_command("enable_eye_video_stream = yes", false),
            WaitedCommand::kEyeVideoOn);
  EXPECT_EQ(lvx::classify_command("ENABLE_EYE_VIDEO_STREAM 1", false), WaitedCommand::kEyeVideoOn);
  EXPECT_EQ(lvx::classify_command("enable_eye_video_stream = no", false), WaitedCommand::kNone);
  EXPECT_EQ(lvx::classify_command("sample_rate 2000", true), WaitedCommand::kSampleRate);
  EXPECT_EQ(lvx::classify_command("Sample_Rate 2000", false), WaitedCommand::kNone);
  EXPECT_EQ(lvx::waited_command_timeout_ms(WaitedCommand::kEyeVideoOn), 10000u);
  EXPECT_EQ(lvx::waited_command_timeout_ms(WaitedCommand::kSampleRate), 30000u);
}

TEST(CommandPacket, GoldenBytes) {
  std::vector<uint8_t> p = lvx::encode_command_packet(0x01020304, lvx::CMD_COMMAND, "ab", 0);
  std::vector<uint8_t> want(33, 0);
  want[0] = 1;  // COMMAND_PKT
  want[1] = 20;
  want[4] = 1, want[5] = 2, want[6] = 3, want[7] = 4;
  want[25] = 22;
  want[27] = 3;  // "ab" and its zero
  want[28] = 'a', want[29] = 'b';
  EXPECT_EQ(p, want);

  std::vector<uint8_t> file =
      lvx::encode_command_packet(7, lvx::CMD_FILE_CONTROL, nullptr, 0xA0B0C0D0);
  ASSERT_EQ(file.size(), 30u);
  EXPECT_EQ(file[20], 0xA0);
  EXPECT_EQ(file[23], 0xD0);
  EXPECT_EQ(file[26] * 256 + file[27], 0);
  std::vector<uint8_t> ack = lvx::encode_command_packet(8, lvx::CMD_IMAGE_ACK, nullptr, 0);
  ASSERT_EQ(ack.size(), 31u);  // one data byte
  EXPECT_EQ(ack[27], 1);
}

TEST(CommandPacket, LongestTextFillsALargePacket) {
  std::string text(991, 'x');
  EXPECT_EQ(lvx::encode_command_packet(1, lvx::CMD_COMMAND, text.c_str(), 0).size(), 1022u);
}

}  // namespace
