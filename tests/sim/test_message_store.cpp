// The tracker's message store, where it could hide a faulty display: long messages kept apart by
// id and reopened, exactly one blank taken after the id, and pieces that do not belong to an
// open long message stored as they stand.
#include <gtest/gtest.h>

#include <string>

#include "sim/message_store.h"

namespace {

TEST(SimMessageStore, LongMessagePiecesJoinOnlyByTheirOpenId) {
  lvxsim::MessageStore store;
  EXPECT_EQ(store.add("!V LONGMS_ST_11 one", 1, 0, 1), (std::vector<size_t>{0}));
  EXPECT_EQ(store.add("!V LONGMS_ST_12 two\n\nbetween", 2, 0, 2), (std::vector<size_t>{1, 2}));
  EXPECT_EQ(store.add("!V LONGMS_CONT_12 -B\n!V LONGMS_CONT_11  -A", 3, 7, 3),
            (std::vector<size_t>{1, 0}));
  store.add("!V LONGMS_ST_11 three", 4, 0, 4);  // opening an id again starts a new one
  const char *as_is[] = {
      "!V LONGMS_CONT_11 -C",          // (joins the new one)
      "!V LONGMS_CONT_6 other id",     // no long message 6 is open
      "!V LONGMS_CONT_111 longer id",  // ids match whole, not by prefix
      "!V LONGMS_ST_AB upper case",    // ids are lower-case hex
      "!V LONGMS_ST_12no blank",
      "!V LONGMS_CONT_11",  // the id must be followed by a blank
      " !V LONGMS_CONT_11 leading blank",
  };
  for (const char *line : as_is) store.add(line, 5, 0, 5);
  const auto &m = store.messages();
  ASSERT_EQ(m.size(), 4 + std::size(as_is) - 1);
  EXPECT_EQ(m[0].text, "one -A");  // only one blank after the id is the separator
  EXPECT_EQ(m[0].time_ms, 1);      // the first piece's stamp
  EXPECT_EQ(m[1].text, "two-B");
  EXPECT_EQ(m[2].text, "between");
  EXPECT_EQ(m[3].text, "three-C");
  for (size_t i = 1; i < std::size(as_is); ++i) EXPECT_EQ(m[i + 3].text, as_is[i]);
}

}  // namespace
