// The tracker's message store: lines, long messages joined from their pieces, and stamps.
#include <gtest/gtest.h>

#include <string>

#include "sim/message_store.h"

namespace {

using lvxsim::MessageStore;
using Positions = std::vector<size_t>;

TEST(SimMessageStore, EachNonEmptyLineIsOneMessageWithThePacketsStamp) {
  MessageStore store;
  EXPECT_EQ(store.add("TRIALID 1", 1000, 0, 1), (Positions{0}));
  EXPECT_EQ(store.add("\na\n\nb\n", 2000, -20, 2), (Positions{1, 2}));
  EXPECT_TRUE(store.add("", 3000, 0, 3).empty());
  EXPECT_TRUE(store.add("\n\n", 3000, 0, 4).empty());
  EXPECT_EQ(store.add(" \nlast", 4000, 5, 5), (Positions{3, 4}));  // a blank line is not empty

  const auto &m = store.messages();
  ASSERT_EQ(m.size(), 5u);
  EXPECT_EQ(m[0].text, "TRIALID 1");
  EXPECT_EQ(m[0].time_ms, 1000);
  EXPECT_EQ(m[1].text, "a");
  EXPECT_EQ(m[2].text, "b");
  for (size_t i : {1u, 2u}) {
    EXPECT_EQ(m[i].time_ms, 2000);
    EXPECT_EQ(m[i].offset_ms, -20);
    EXPECT_EQ(m[i].serial, 2u);
  }
  EXPECT_EQ(m[3].text, " ");
  EXPECT_EQ(m[4].text, "last");
  EXPECT_EQ(m[4].offset_ms, 5);
}

TEST(SimMessageStore, LongMessageOfThreePiecesInOnePacket) {
  MessageStore store;
  // Full pieces of 247 characters, as the display sends them.
  std::string a(247 - std::string("!V LONGMS_ST_3f1 ").size(), 'a');
  std::string b(247 - std::string("!V LONGMS_CONT_3f1 ").size(), 'b');
  std::string packet = "before\n!V LONGMS_ST_3f1 " + a + "\n!V LONGMS_CONT_3f1 " + b +
                       "\n!V LONGMS_CONT_3f1 tail end\nafter";
  EXPECT_EQ(store.add(packet, 500, 3, 9), (Positions{0, 1, 2}));
  const auto &m = store.messages();
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m[0].text, "before");
  EXPECT_EQ(m[1].text, a + b + "tail end");  // prefixes gone, nothing between the pieces
  EXPECT_EQ(m[1].time_ms, 500);
  EXPECT_EQ(m[2].text, "after");
}

TEST(SimMessageStore, LongMessageAcrossPacketsKeepsItsFirstStampAndPosition) {
  MessageStore store;
  EXPECT_EQ(store.add("!V LONGMS_ST_a2 first ", 100, 0, 10), (Positions{0}));
  EXPECT_EQ(store.add("between", 101, 0, 11), (Positions{1}));
  EXPECT_EQ(store.add("!V LONGMS_CONT_a2 second", 102, 7, 12), (Positions{0}));
  EXPECT_EQ(store.add("!V LONGMS_CONT_a2  third\nnext", 103, 0, 13), (Positions{0, 2}));
  const auto &m = store.messages();
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m[0].text, "first second third");  // only one blank after the id is the separator
  EXPECT_EQ(m[0].time_ms, 100);
  EXPECT_EQ(m[0].offset_ms, 0);
  EXPECT_EQ(m[0].serial, 10u);
  EXPECT_EQ(m[1].text, "between");
  EXPECT_EQ(m[2].text, "next");
  EXPECT_EQ(m[2].time_ms, 103);
}

TEST(SimMessageStore, InterleavedLongMessagesAndReopenedIdsStayApart) {
  MessageStore store;
  store.add("!V LONGMS_ST_11 one", 1, 0, 1);
  store.add("!V LONGMS_ST_12 two", 2, 0, 2);
  store.add("!V LONGMS_CONT_12 -B\n!V LONGMS_CONT_11 -A", 3, 0, 3);
  // Opening an id again starts a new long message; continuations then go to the new one.
  store.add("!V LONGMS_ST_11 three", 4, 0, 4);
  store.add("!V LONGMS_CONT_11 -C", 5, 0, 5);
  const auto &m = store.messages();
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m[0].text, "one-A");
  EXPECT_EQ(m[1].text, "two-B");
  EXPECT_EQ(m[2].text, "three-C");
  EXPECT_EQ(m[2].time_ms, 4);
}

TEST(SimMessageStore, OrphanAndMalformedPiecesAreStoredAsTheyStand) {
  MessageStore store;
  store.add("!V LONGMS_ST_5 open", 1, 0, 1);
  const char *as_is[] = {
      "!V LONGMS_CONT_6 other id",    // no long message 6 is open
      "!V LONGMS_CONT_55 longer id",  // ids match whole, not by prefix
      "!V LONGMS_ST_AB upper case",   // ids are lower-case hex
      "!V LONGMS_ST_xy not hex",
      "!V LONGMS_ST_ no id",
      "!V LONGMS_ST_12no blank",
      "!V LONGMS_CONT_5",  // the id must be followed by a blank
      " !V LONGMS_CONT_5 leading blank",
  };
  for (const char *line : as_is) store.add(line, 2, 0, 2);
  const auto &m = store.messages();
  ASSERT_EQ(m.size(), 1 + std::size(as_is));
  EXPECT_EQ(m[0].text, "open");
  for (size_t i = 0; i < std::size(as_is); ++i) EXPECT_EQ(m[i + 1].text, as_is[i]);

  // After clear() no long message is open any more.
  store.clear();
  EXPECT_EQ(store.size(), 0u);
  store.add("!V LONGMS_CONT_5 late", 3, 0, 3);
  ASSERT_EQ(store.size(), 1u);
  EXPECT_EQ(store.messages()[0].text, "!V LONGMS_CONT_5 late");
}

}  // namespace
