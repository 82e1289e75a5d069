// The pure pieces of file transfer: the checksum, the time text, the name rules, the local-file
// handling (free names, temporary files renamed into place) and the file service's reply texts.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>

#include "files/checksum.h"
#include "files/host_time.h"
#include "files/local_files.h"
#include "files/service_reply.h"
#include "platform/files.h"

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> bytes_of(std::string_view s) {
  return {s.begin(), s.end()};
}

// A fresh folder under /tmp for one test, removed afterwards.
class TempDir {
 public:
  TempDir() {
    static int n = 0;
    path_ = fs::temp_directory_path() /
            ("lvx_files_" + std::to_string(getpid()) + "_" + std::to_string(n++));
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempDir() { fs::remove_all(path_); }
  std::string operator/(const std::string &name) const { return (path_ / name).string(); }
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto &e : fs::directory_iterator(path_)) out.push_back(e.path().filename());
    std::sort(out.begin(), out.end());
    return out;
  }

 private:
  fs::path path_;
};

void write_file(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  if (in) out << in.rdbuf();
  return out.str();
}

}  // namespace

TEST(FileChecksum, KnownVectors) {
  auto v = bytes_of("123456789");
  EXPECT_EQ(lvx::crc32_update(0, v.data(), v.size()), 0x89A1897Fu);
  uint8_t zeros[4] = {0, 0, 0, 0};
  EXPECT_EQ(lvx::crc32_update(0, zeros, 4), 0u);  // initial 0 and no complement
  uint8_t top = 0x80;
  EXPECT_EQ(lvx::crc32_update(0, &top, 1), 0x690CE0EEu);
  EXPECT_EQ(lvx::crc32_update(0, nullptr, 0), 0u);
}

TEST(FileChecksum, FastUpdateAgreesWithBytewiseForEveryLengthAndSplit) {
  std::mt19937 rng(42);
  std::vector<uint8_t> data(300);
  for (auto &b : data) b = static_cast<uint8_t>(rng());
  for (size_t len = 0; len <= data.size(); len += 7) {
    uint32_t slow = lvx::crc32_update_bytewise(0, data.data(), len);
    ASSERT_EQ(lvx::crc32_update(0, data.data(), len), slow) << len;
    // Folding in two pieces gives the same as one.
    size_t cut = len / 3;
    uint32_t split =
        lvx::crc32_update(lvx::crc32_update(0, data.data(), cut), data.data() + cut, len - cut);
    ASSERT_EQ(split, slow) << len;
  }
}

TEST(FileChecksum, WholeFile) {
  TempDir dir;
  std::string text(25000, 'x');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>(i * 31 + 7);
  write_file(dir / "f", text);
  auto sum = lvx::file_checksum(dir / "f");
  ASSERT_TRUE(sum);
  EXPECT_EQ(sum->length, text.size());
  auto b = bytes_of(text);
  EXPECT_EQ(sum->crc, lvx::crc32_update_bytewise(0, b.data(), b.size()));
  write_file(dir / "empty", "");
  auto empty = lvx::file_checksum(dir / "empty");
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->crc, 0u);
  EXPECT_EQ(empty->length, 0u);
  EXPECT_FALSE(lvx::file_checksum(dir / "missing"));
}

TEST(HostTime, FormatsUtcWithTheDayOfTheWeek) {
  EXPECT_EQ(lvx::format_host_time(0), "1970-01-01-04@00:00:00");  // a Thursday
  EXPECT_EQ(lvx::format_host_time(951782400 + 3723), "2000-02-29-02@01:02:03");
  EXPECT_EQ(lvx::format_host_time(1700000000), "2023-11-14-02@22:13:20");
}

TEST(HostTime, ParsesBothWaysAndRefusesImpossibleTimes) {
  for (int64_t t : {int64_t{0}, int64_t{951782400}, int64_t{1700000000}, int64_t{4102444799}}) {
    auto back = lvx::parse_host_time(lvx::format_host_time(t));
    ASSERT_TRUE(back) << t;
    EXPECT_EQ(*back, t);
  }
  EXPECT_EQ(lvx::parse_host_time("2023-11-14-2@22:13:20"), 1700000000);  // no leading zeros
  for (const char *bad :
       {"", "2023-11-14-02 22:13:20", "1899-12-31-00@00:00:00", "2023-13-01-00@00:00:00",
        "2023-02-29-00@00:00:00", "2023-01-01-00@24:00:00", "2023-01-01@00:00:00", "abc@def"})
    EXPECT_FALSE(lvx::parse_host_time(bad)) << bad;
}

TEST(HostTime, OfALocalFile) {
  TempDir dir;
  write_file(dir / "f", "x");
  ASSERT_TRUE(lvx::platform::set_file_times(dir / "f", 1700000000));
  EXPECT_EQ(lvx::host_time_of_file(dir / "f"), "2023-11-14-02@22:13:20");
  EXPECT_EQ(lvx::host_time_of_file(dir / "missing"), "");
}

TEST(FileNames, HostNamesThatCouldLeaveTheFolderAreRefused) {
  using lvx::NameProblem;
  EXPECT_EQ(lvx::check_host_name("trial.qrd"), NameProblem::kOk);
  EXPECT_EQ(lvx::check_host_name("a..b"), NameProblem::kOk);
  EXPECT_EQ(lvx::check_host_name(""), NameProblem::kEmpty);
  EXPECT_EQ(lvx::check_host_name(".."), NameProblem::kDotName);
  EXPECT_EQ(lvx::check_host_name("."), NameProblem::kDotName);
  EXPECT_EQ(lvx::check_host_name("../x.qrd"), NameProblem::kSeparator);
  EXPECT_EQ(lvx::check_host_name("/etc/passwd"), NameProblem::kSeparator);
  EXPECT_EQ(lvx::check_host_name("..\\x.qrd"), NameProblem::kSeparator);
  EXPECT_EQ(lvx::check_host_name("a\nb"), NameProblem::kControl);
  EXPECT_EQ(lvx::check_host_name(std::string("a\x7f", 2)), NameProblem::kControl);
  EXPECT_EQ(lvx::check_host_name("C:x.qrd"), NameProblem::kDrive);
  EXPECT_EQ(lvx::check_host_name(std::string(256, 'a')), NameProblem::kTooLong);
  EXPECT_EQ(lvx::check_host_name(std::string(255, 'a')), NameProblem::kOk);
  EXPECT_FALSE(lvx::host_name_acceptable("../evil\x01", "tester"));
  EXPECT_TRUE(lvx::host_name_acceptable("trial.qrd", "tester"));
}

TEST(FileNames, PathsAndStamps) {
  EXPECT_EQ(lvx::base_of_host_path("/lvrx/data/trial.qrd"), "trial.qrd");
  EXPECT_EQ(lvx::base_of_host_path("c:\\data\\t.qrd"), "t.qrd");
  EXPECT_EQ(lvx::base_of_host_path("plain"), "plain");
  EXPECT_EQ(lvx::join_path("dir", "f"), "dir/f");
  EXPECT_EQ(lvx::join_path("dir\\", "f"), "dir\\f");
  EXPECT_EQ(lvx::join_path("", "f"), "f");
  EXPECT_EQ(lvx::stamped_name("d/trial.qrd", "_20240102_030405"), "d/trial_20240102_030405.qrd");
  EXPECT_EQ(lvx::stamped_name("trial.QrD", "_1"), "trial_1.QrD");
  EXPECT_EQ(lvx::stamped_name("notes.txt", "_1"), "notes.txt_1");
  EXPECT_TRUE(
      std::regex_match(lvx::time_stamp_suffix(1700000000), std::regex("_20231[14]1[45]_[0-9]{6}")));
  EXPECT_EQ(lvx::get_request_text("test"), "GET test.qrd");
  EXPECT_EQ(lvx::get_request_text("test.QrD"), "GET test.QrD");
  EXPECT_EQ(lvx::get_request_text(""), "GET ");
}

TEST(FileNames, FilenameSearchFindsAStampedFreeName) {
  TempDir dir;
  std::string path = dir / "trial.qrd";
  write_file(path, "old");
  std::string found = path;
  ASSERT_EQ(lvx::filename_search(found, 1), 0);
  EXPECT_TRUE(std::regex_match(found, std::regex(".*/trial_[0-9]{8}_[0-9]{6}\\.qrd")));
  EXPECT_FALSE(fs::exists(found));
  // Every name it could choose in the next seconds taken: it gives up, path unchanged.
  int64_t now = lvx::platform::utc_now_seconds();
  for (int64_t t = now - 1; t <= now + 3; ++t)
    write_file(lvx::stamped_name(path, lvx::time_stamp_suffix(t)), "");
  std::string again = path;
  EXPECT_EQ(lvx::filename_search(again, 1), 1);
  EXPECT_EQ(again, path);
}

TEST(PendingFile, DataAppearsUnderTheFinalNameOnlyOnCommit) {
  TempDir dir;
  auto f = lvx::PendingFile::open(dir / "a.qrd", false);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->write("hello", 5), 5u);
  EXPECT_FALSE(fs::exists(dir / "a.qrd"));
  EXPECT_TRUE(fs::exists(f->temp_path()));
  ASSERT_TRUE(f->commit(1700000000));
  EXPECT_EQ(read_file(dir / "a.qrd"), "hello");
  EXPECT_EQ(lvx::platform::file_write_time(dir / "a.qrd"), 1700000000);
  EXPECT_EQ(dir.names(), std::vector<std::string>{"a.qrd"});
}

TEST(PendingFile, DiscardedOrAbandonedLeavesNothing) {
  TempDir dir;
  {
    auto f = lvx::PendingFile::open(dir / "a.qrd", false);
    ASSERT_TRUE(f);
    f->write("part", 4);
    EXPECT_TRUE(f->discard());
  }
  {
    auto f = lvx::PendingFile::open(dir / "b.qrd", true);
    ASSERT_TRUE(f);
    f->write("part", 4);
  }  // destroyed without commit
  EXPECT_TRUE(dir.names().empty());
}

TEST(PendingFile, ExistingFilesAreKeptUnlessReplaceIsAsked) {
  TempDir dir;
  write_file(dir / "a.qrd", "mine");
  auto keep = lvx::PendingFile::open(dir / "a.qrd", false);
  ASSERT_TRUE(keep);
  EXPECT_NE(keep->final_path(), dir / "a.qrd");
  keep->write("new", 3);
  ASSERT_TRUE(keep->commit(std::nullopt));
  EXPECT_EQ(read_file(dir / "a.qrd"), "mine");
  EXPECT_EQ(read_file(keep->final_path()), "new");

  auto replace = lvx::PendingFile::open(dir / "a.qrd", true);
  ASSERT_TRUE(replace);
  replace->write("newer", 5);
  EXPECT_EQ(read_file(dir / "a.qrd"), "mine");  // untouched until the commit
  ASSERT_TRUE(replace->commit(std::nullopt));
  EXPECT_EQ(read_file(dir / "a.qrd"), "newer");
  EXPECT_EQ(dir.names().size(), 2u);
  EXPECT_FALSE(lvx::PendingFile::open(dir.operator/(""), true));  // a folder is not a file
}

TEST(ServiceReply, SplitsTheReplyFromTheFileBytesAfterIt) {
  const uint8_t raw[] = {'G', 'E', 'T', 0, 1, 2, 3};
  auto s = lvx::split_reply(raw, sizeof raw);
  EXPECT_EQ(s.text, "GET");
  EXPECT_EQ(s.surplus_offset, 4u);
  EXPECT_EQ(s.surplus_size, 3u);
  auto whole = lvx::split_reply(raw, 3);
  EXPECT_EQ(whole.text, "GET");
  EXPECT_EQ(whole.surplus_size, 0u);
}

TEST(ServiceReply, GetReady) {
  auto r = lvx::parse_get_ready(
      "GET_Ready trial.qrd 18446744073709551615 2023-11-14-2@1:2:3 "
      "4294967295");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->name, "trial.qrd");
  EXPECT_EQ(r->size, UINT64_MAX);
  EXPECT_EQ(r->time, "2023-11-14-2@1:2:3");
  EXPECT_EQ(r->checksum, UINT32_MAX);
  auto bare = lvx::parse_get_ready("GET_Ready t.qrd 10");
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->time, "");
  EXPECT_EQ(bare->checksum, 0u);
  for (const std::string &bad : std::vector<std::string>{
           "GET_Error t 1", "GET_Ready", "GET_Ready t.qrd", "GET_Ready t.qrd -1", "GET_Ready t x",
           "GET_Ready t 18446744073709551616", "GET_Ready t 1 x 4294967296", "GET_Ready t 1 x y",
           "GET_Ready " + std::string(128, 'n') + " 1", "GET_Ready t 1 " + std::string(64, 't')})
    EXPECT_FALSE(lvx::parse_get_ready(bad)) << bad;
  EXPECT_TRUE(lvx::parse_get_ready("GET_Ready " + std::string(127, 'n') + " 1"));
}

TEST(ServiceReply, VideoListAndUploadAcceptance) {
  auto v = lvx::parse_video_list("QXGETVS_Ready trial 3 a.evf;;b.evf;c.evf");
  ASSERT_TRUE(v);
  EXPECT_EQ(v->folder, "trial");
  EXPECT_EQ(v->count, 3);
  EXPECT_EQ(v->names, (std::vector<std::string>{"a.evf", "b.evf", "c.evf"}));
  EXPECT_FALSE(lvx::parse_video_list("QXGETVS_Error"));
  EXPECT_FALSE(lvx::parse_video_list("QXGETVS_Ready trial x a"));

  const uint8_t ready[] = "PUT_Ready";
  EXPECT_TRUE(lvx::is_put_ready(ready, sizeof ready));
  const uint8_t more[] = "PUT_ReadyX";
  EXPECT_FALSE(lvx::is_put_ready(more, sizeof more));
  EXPECT_FALSE(lvx::is_put_ready(ready, 9));
}
