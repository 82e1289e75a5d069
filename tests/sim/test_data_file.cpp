// The simulated tracker's recording files: the names it takes, and the format written and read
// back.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/data_file.h"

namespace {

using lvxsim::tracker_file_name;

TEST(SimDataFile, TheNamesTheTrackerTakes) {
  EXPECT_EQ(tracker_file_name("open_data_file 'test.qrd'", false), "test.qrd");
  EXPECT_EQ(tracker_file_name("open_data_file TEST", false), "TEST.qrd");
  EXPECT_EQ(tracker_file_name("open_data_file = \"a_b.QRD\"", false), "a_b.QRD");
  EXPECT_EQ(tracker_file_name("open_data_file 'abcdefghij'", true), "abcdefghij.qrd");
  for (const char *bad :
       {"open_data_file", "open_data_file ''", "open_data_file 'x.txt'", "open_data_file '_ab'",
        "open_data_file 'a/b.qrd'", "open_data_file 'abcdefghi'", "open_data_file 'a.b.qrd'"}) {
    EXPECT_FALSE(tracker_file_name(bad, false)) << bad;
  }
  EXPECT_FALSE(tracker_file_name("open_data_file '" + std::string(79, 'a') + "'", true));
}

TEST(SimDataFile, WrittenRecordsReadBack) {
  const std::string path = "/tmp/lvxsim_file_" + std::to_string(getpid()) + ".qrd";
  {
    std::optional<lvxsim::DataFileWriter> w =
        lvxsim::DataFileWriter::create(path, "T.QRD", "LUMAVEX RX 5.7", 1000);
    ASSERT_TRUE(w);
    w->message(1001, "hello");
    w->recording_start(1002, true, false, true, false);
    w->data_packet({200, 1, 2, 3});
    w->recording_end(1500);
    EXPECT_TRUE(w->close());
  }
  std::optional<lvxsim::DataFileContents> c = lvxsim::read_data_file(path);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->header["name"], "T.QRD");
  EXPECT_EQ(c->header["opened"], "1000");
  ASSERT_EQ(c->records.size(), 4u);
  EXPECT_EQ(c->records[0].kind, lvxsim::kRecordMessage);
  EXPECT_EQ(c->records[0].time_ms(), 1001u);
  EXPECT_EQ(c->records[0].text(), "hello");
  EXPECT_EQ(c->records[1].payload, (std::vector<uint8_t>{0, 0, 3, 0xEA, 1, 0, 1, 0}));
  EXPECT_EQ(c->records[2].payload, (std::vector<uint8_t>{200, 1, 2, 3}));
  EXPECT_EQ(c->records[3].time_ms(), 1500u);

  // Cut short, or not one of ours: nothing.
  std::string bytes(static_cast<size_t>(std::filesystem::file_size(path)), '\0');
  std::ifstream(path, std::ios::binary)
      .read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes.substr(0, bytes.size() - 2);
  EXPECT_FALSE(lvxsim::read_data_file(path));
  std::ofstream(path, std::ios::trunc) << "something else\n\n";
  EXPECT_FALSE(lvxsim::read_data_file(path));
  std::remove(path.c_str());
  EXPECT_FALSE(lvxsim::DataFileWriter::create("/nonexistent_folder/x.qrd", "x", "t", 0));
}

}  // namespace
