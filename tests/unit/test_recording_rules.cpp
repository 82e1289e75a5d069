// Recording file names, the options text, the file-name utilities, the real-time decision table
// and the message file's queue.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "control/message_file.h"
#include "control/realtime.h"
#include "recording/file_names.h"

namespace {

using lvx::data_file_name_problem;
using lvx::open_data_file_command;

// ---- Recording file names ----

TEST(DataFileName, GoodNamesBecomeTheCommandWithTheBaseNameOnly) {
  EXPECT_EQ(open_data_file_command("test.qrd"), "open_data_file 'test.qrd'");
  EXPECT_EQ(open_data_file_command("TEST"), "open_data_file 'TEST.qrd'");
  EXPECT_EQ(open_data_file_command("data/run1.qrd"), "open_data_file 'run1.qrd'");
  EXPECT_EQ(open_data_file_command("C:\\exp\\data/run2.QrD"), "open_data_file 'run2.QrD'");
  for (const char *good : {"test.qrd", "TEST", "a_bc", "data/run1.qrd", "x1234567.QRD"}) {
    EXPECT_FALSE(data_file_name_problem(good, false)) << good;
  }
}

TEST(DataFileName, EachRuleHasItsAlert) {
  EXPECT_EQ(*data_file_name_problem("", false),
            "The QRD file name (without path or .qrd) may not be empty");
  EXPECT_EQ(*data_file_name_problem("dir/.qrd", false),
            "The QRD file name (without path or .qrd) may not be empty");
  EXPECT_EQ(*data_file_name_problem("test.txt", false), "name extension has to be qrd\n");
  EXPECT_EQ(*data_file_name_problem("test.qrdx", false), "name extension has to be qrd\n");
  // Base length 5, then the dot fails the character rule.
  EXPECT_EQ(*data_file_name_problem("ab.cd.qrd", false),
            "Invalid character '.'. The QRD file name can only include ASCII printable letters, "
            "numbers, and the underscore character.\n");
  EXPECT_NE(data_file_name_problem("a-b", false)->find("Invalid character '-'"), std::string::npos);
  EXPECT_NE(data_file_name_problem("caf\xc3\xa9", false), std::nullopt);
  EXPECT_EQ(*data_file_name_problem("_abc", false), "underscore can only appear after 1st place\n");
}

TEST(DataFileName, LengthLimitsWithAndWithoutTheLongNameOption) {
  EXPECT_FALSE(data_file_name_problem("abcdefgh", false));
  EXPECT_EQ(*data_file_name_problem("abcdefghi", false),
            "The QRD file name cannot exceed eight characters.\n");
  EXPECT_FALSE(data_file_name_problem("abcdefghi", true));
  EXPECT_FALSE(data_file_name_problem(std::string(78, 'a') + ".qrd", true));
  EXPECT_EQ(*data_file_name_problem(std::string(79, 'a'), true),
            "Long QRD base name may not exceed 78 bytes.\n");
}

// ---- The options text ----

TEST(LibraryOptions, TokensAreParsedWithEveryBase) {
  long v = -5;
  EXPECT_EQ(lvx::apply_library_options(nullptr, &v), 0);
  EXPECT_EQ(v, -5);
  EXPECT_EQ(lvx::apply_library_options("longname=1", &v), 1);
  EXPECT_EQ(v, 1);
  EXPECT_EQ(lvx::apply_library_options("LongName=0x10", &v), 1);
  EXPECT_EQ(v, 16);
  EXPECT_EQ(lvx::apply_library_options(" \tlongname=010\n", &v), 1);
  EXPECT_EQ(v, 8);
  EXPECT_EQ(lvx::apply_library_options("", &v), 1);
}

TEST(LibraryOptions, TheFirstBadTokenStopsButEarlierOnesStay) {
  long v = 0;
  EXPECT_EQ(lvx::apply_library_options("longname", &v), -1);
  EXPECT_EQ(lvx::apply_library_options("other=1", &v), -1);
  EXPECT_EQ(lvx::apply_library_options("longname=abc", &v), -1);
  EXPECT_EQ(v, 0);
  EXPECT_EQ(lvx::apply_library_options("longname=3 bad longname=4", &v), -1);
  EXPECT_EQ(v, 3);
}

// ---- File-name utilities ----

TEST(FileNameUtilities, SpliceUsesForwardSlashesAndInventsNoDrive) {
  EXPECT_EQ(lvx::splice_file_name("\\data\\x.qrd", "D:\\work", "/cwd"), "D:/data/x.qrd");
  EXPECT_EQ(lvx::splice_file_name("x.qrd", "D:/work", "/cwd"), "D:/work/x.qrd");
  EXPECT_EQ(lvx::splice_file_name("x.qrd", "/home/u/", "/cwd"), "/home/u/x.qrd");
  EXPECT_EQ(lvx::splice_file_name("sub\\x.qrd", "", "/cwd"), "/cwd/sub/x.qrd");
  EXPECT_EQ(lvx::splice_file_name("/abs/x.qrd", "/home/u", "/cwd"), "/abs/x.qrd");
  EXPECT_EQ(lvx::splice_file_name("C:\\x.qrd", "/home/u", "/cwd"), "C:/x.qrd");
  EXPECT_EQ(lvx::splice_file_name("", "/home/u", "/cwd"), "");
  EXPECT_EQ(lvx::splice_file_name(std::string(5000, 'a'), "/", "/").size(), lvx::kMaxPathText);
}

TEST(FileNameUtilities, ReservedNamesAndCharacters) {
  EXPECT_EQ(lvx::check_filename_characters("con"), -1);
  EXPECT_EQ(lvx::check_filename_characters("CON"), 0);
  EXPECT_EQ(lvx::check_filename_characters("lpt1"), -1);
  EXPECT_EQ(lvx::check_filename_characters("console"), 0);
  for (const char *bad : {"a?b", "a<b", "a>b", "a:b", "a\"b", "a|b", "a'b", "a*b"}) {
    EXPECT_EQ(lvx::check_filename_characters(bad), -1) << bad;
  }
  EXPECT_EQ(lvx::check_filename_characters("trial_1.qrd"), 0);
}

TEST(FileNameUtilities, CreatePathMakesEveryFolderOnTheWay) {
  char base_pattern[] = "/tmp/lvx_names_XXXXXX";
  ASSERT_NE(mkdtemp(base_pattern), nullptr);
  const std::string base = base_pattern;
  std::string deep = base + "\\a\\b/c";
  std::vector<char> text(deep.begin(), deep.end());
  text.push_back('\0');
  EXPECT_EQ(lvx::create_path(text.data(), 1), 1);
  EXPECT_EQ(std::string(text.data()), base + "/a/b/c");  // changed in place
  EXPECT_EQ(lvx::file_exists((base + "/a/b/c").c_str()), 1);
  EXPECT_EQ(lvx::create_path(text.data(), 1), 0);

  // A file name: only its folder is made.
  std::string file = base + "/d/e/trial.qrd";
  std::vector<char> f(file.begin(), file.end());
  f.push_back('\0');
  EXPECT_EQ(lvx::create_path(f.data(), 0), 1);
  EXPECT_EQ(lvx::file_exists((base + "/d/e").c_str()), 1);
  EXPECT_EQ(lvx::file_exists(file.c_str()), 0);

  // A folder inside a file cannot be made.
  std::ofstream(base + "/plain") << "x";
  std::string under = base + "/plain/sub";
  std::vector<char> u(under.begin(), under.end());
  u.push_back('\0');
  EXPECT_EQ(lvx::create_path(u.data(), 1), -1);
  EXPECT_EQ(lvx::file_exists(nullptr), -1);
  std::string cleanup = "rm -rf '" + base + "'";
  EXPECT_EQ(std::system(cleanup.c_str()), 0);
}

// ---- The real-time decision ----

TEST(RealtimeDecision, TheTableRowByRowAndTheReserve) {
  using lvx::PriorityClass;
  constexpr int kUnder = lvx::kThreadUnderRealtime;
  const struct {
    lvx::SystemVersion system;
    bool usable;
    lvx::RealtimePlan plan;  // class, thread priority, register, fall back, xp notice, settle
  } rows[] = {
      {{false, 4, 10},
       true,
       {PriorityClass::kHigh, lvx::kThreadAboveNormal, false, false, false, false}},
      {{true, 4, 0},
       true,
       {PriorityClass::kRealtime, lvx::kThreadBelowNormal, false, false, false, true}},
      {{true, 5, 0}, true, {PriorityClass::kRealtime, kUnder, false, false, false, true}},
      {{true, 5, 1}, true, {PriorityClass::kRealtime, kUnder, false, false, true, true}},
      {{true, 6, 0}, true, {PriorityClass::kRealtime, kUnder, false, false, false, true}},
      {{true, 10, 0}, true, {PriorityClass::kRealtime, kUnder, false, false, false, true}},
      {{true, 6, 1},
       true,
       {PriorityClass::kUnchanged, lvx::kThreadNormal, true, false, false, true}},
      {{true, 6, 2}, false, {PriorityClass::kRealtime, kUnder, false, true, false, true}},
  };
  for (const auto &r : rows) {
    EXPECT_TRUE(lvx::plan_realtime_mode(r.system, r.usable) == r.plan)
        << r.system.major << "." << r.system.minor << " " << r.usable;
  }

  // Registration needs the newest row and a reserve between 1 and 49 percent.
  const lvx::SystemVersion v61{true, 6, 1};
  for (int reserve : {1, 20, 49}) EXPECT_TRUE(lvx::registration_usable(v61, reserve));
  for (int reserve : {0, 50, 100, -1, -2}) EXPECT_FALSE(lvx::registration_usable(v61, reserve));
  for (lvx::SystemVersion v : {lvx::SystemVersion{true, 6, 0}, lvx::SystemVersion{true, 10, 0},
                               lvx::SystemVersion{true, 5, 2}, lvx::SystemVersion{false, 6, 1}})
    EXPECT_FALSE(lvx::registration_usable(v, 20));
  // The kernel's bandwidth as a reserve: 0.95 s of each second leaves 5 percent.
  EXPECT_EQ(lvx::reserved_percent(950000, 1000000), 5);
  EXPECT_EQ(lvx::reserved_percent(-1, 1000000), 0);
  EXPECT_EQ(lvx::reserved_percent(1000000, 1000000), 0);
  EXPECT_EQ(lvx::reserved_percent(5, 0), -2);
}

TEST(RealtimeDecision, FifoPrioritiesAndHostPrograms) {
  EXPECT_EQ(lvx::fifo_priority_for(16, 1, 99), 1);
  EXPECT_EQ(lvx::fifo_priority_for(31, 1, 99), 50);
  EXPECT_EQ(lvx::fifo_priority_for(0, 1, 99), 1);
  EXPECT_EQ(lvx::fifo_priority_for(40, 1, 99), 50);
  EXPECT_LT(lvx::fifo_priority_for(lvx::kRealtimeClassBase + lvx::kThreadUnderRealtime, 1, 99),
            lvx::fifo_priority_for(lvx::kRegisteredBase, 1, 99));

  EXPECT_TRUE(lvx::host_decides_registration("C:\\Protokor.exe run"));
  EXPECT_TRUE(lvx::host_decides_registration("ProtokorW.exe"));
  EXPECT_TRUE(lvx::host_decides_registration("pktestrun script.py"));
  EXPECT_FALSE(lvx::host_decides_registration("pktestrun other.py"));
  EXPECT_FALSE(lvx::host_decides_registration("./experiment"));
}

TEST(RealtimeDecision, TenRegistrationSlots) {
  lvx::RegistrationTable table;
  lvx::platform::ThreadSchedule saved;
  for (uint64_t t = 1; t <= lvx::RegistrationTable::kSlots; ++t) {
    saved.nice = static_cast<int>(t);
    EXPECT_TRUE(table.take(t, saved));
  }
  EXPECT_FALSE(table.take(11, saved));  // the eleventh thread stays unregistered
  EXPECT_FALSE(table.registered(11));
  EXPECT_FALSE(table.take(3, saved));  // registered already
  EXPECT_FALSE(table.take(0, saved));
  std::optional<lvx::platform::ThreadSchedule> back = table.release(3);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->nice, 3);
  EXPECT_FALSE(table.release(3));
  EXPECT_TRUE(table.take(11, saved));  // the freed slot is taken again
}

// ---- The message file ----

class MessageFileQueue : public testing::Test {
 protected:
  void SetUp() override {
    path_ = "/tmp/lvx_msgfile_" + std::to_string(getpid()) + ".txt";
    file_ = std::make_unique<lvx::MessageFile>(lvx::MessageFileServices{
                                                   [this] { return now_us_; },
                                                   [this] { return realtime_; },
                                                   [this](const std::string &text) {
                                                     sent_.push_back(text);
                                                     return int16_t{0};
                                                   },
                                               },
                                               max_queued_);
  }
  void TearDown() override {
    file_.reset();
    std::remove(path_.c_str());
  }
  std::string contents() const {
    std::ifstream in(path_);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  void rebuild(size_t max_queued) {
    max_queued_ = max_queued;
    SetUp();
  }

  std::string path_;
  uint64_t now_us_ = 10'000'000;  // 10 s
  bool realtime_ = false;
  size_t max_queued_ = lvx::kMaxQueuedLines;
  std::vector<std::string> sent_;
  std::unique_ptr<lvx::MessageFile> file_;
};

TEST_F(MessageFileQueue, WithoutAFileLinesGoToTheTrackerWithTheirDelay) {
  EXPECT_EQ(file_->line(0, "now"), 0);
  EXPECT_EQ(file_->line(10'000 - 50, "late"), 0);
  EXPECT_EQ(file_->line(10'000 - 1, "close"), 0);
  EXPECT_EQ(sent_, (std::vector<std::string>{"now", "50 late", "close"}));
  EXPECT_EQ(file_->line(0, std::string(256, 'x')), -1);
  EXPECT_EQ(sent_.size(), 3u);
}

TEST_F(MessageFileQueue, LinesAreWrittenAtOnceOutsideRealtimeMode) {
  ASSERT_EQ(file_->open(path_.c_str()), 0);
  EXPECT_EQ(file_->line(1234, "first"), 0);
  EXPECT_EQ(file_->line(0, "second"), 0);
  EXPECT_EQ(contents(), "1234\tfirst\n10000\tsecond\n");
  EXPECT_TRUE(sent_.empty());
  EXPECT_EQ(file_->open("/nonexistent_folder/x.txt"), -1);
  EXPECT_FALSE(file_->is_open());
}

TEST_F(MessageFileQueue, RealtimeLinesWaitAndKeepTheirOrder) {
  ASSERT_EQ(file_->open(path_.c_str()), 0);
  realtime_ = true;
  for (uint32_t i = 1; i <= 3; ++i)
    EXPECT_EQ(file_->line(100 + i, std::string("q").append(std::to_string(i))), 0);
  EXPECT_EQ(file_->queued(), 3u);
  EXPECT_EQ(contents(), "");  // the file is not touched
  realtime_ = false;
  EXPECT_EQ(file_->line(200, "after"), 0);
  EXPECT_EQ(contents(), "101\tq1\n102\tq2\n103\tq3\n200\tafter\n");

  realtime_ = true;
  EXPECT_EQ(file_->line(300, "left"), 0);
  file_->close();  // writes the queue although real-time mode is on
  EXPECT_EQ(contents(), "101\tq1\n102\tq2\n103\tq3\n200\tafter\n300\tleft\n");
  EXPECT_EQ(file_->queued(), 0u);
}

TEST_F(MessageFileQueue, AFullQueueIsWrittenOutNotDropped) {
  rebuild(3);
  ASSERT_EQ(file_->open(path_.c_str()), 0);
  realtime_ = true;
  for (uint32_t i = 1; i <= 5; ++i)
    EXPECT_EQ(file_->line(i, std::string("l").append(std::to_string(i))), 0);
  // The fourth line found the queue full: the three went out, then the fourth itself; the fifth
  // waits again.
  EXPECT_EQ(contents(), "1\tl1\n2\tl2\n3\tl3\n4\tl4\n");
  EXPECT_EQ(file_->queued(), 1u);
  file_->close();
  EXPECT_EQ(contents(), "1\tl1\n2\tl2\n3\tl3\n4\tl4\n5\tl5\n");
}

TEST_F(MessageFileQueue, LinesThatCannotBeWrittenAtCloseGoToTheTrackerLater) {
  ASSERT_EQ(file_->open("/dev/full"), 0);
  realtime_ = true;
  EXPECT_EQ(file_->line(10'000 - 100, "a"), 0);
  EXPECT_EQ(file_->line(10'000 - 90, "b"), 0);
  realtime_ = false;
  file_->close();
  EXPECT_FALSE(file_->is_open());
  EXPECT_EQ(file_->queued(), 2u);  // kept, not dropped
  EXPECT_EQ(file_->line(0, "c"), 0);
  EXPECT_EQ(sent_, (std::vector<std::string>{"100 a", "90 b", "c"}));
  EXPECT_EQ(file_->queued(), 0u);
}

}  // namespace
