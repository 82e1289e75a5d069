// The diagnostic log and the environment lookups behind it.
//
// The log opens at most once per process and the first entry consults the environment only once,
// so the tests that open a log, or that need that first consultation still ahead, can only run in
// a fresh process. Under ctest every test runs in its own process; when the whole program runs
// in one process, such tests skip themselves once an earlier test has used up the state.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "link/log.h"
#include "lumavex_core.h"
#include "platform/process.h"

namespace {

namespace fs = std::filesystem;

// Sets and unsets environment variables for one test and puts the old values back.
class EnvGuard {
 public:
  ~EnvGuard() {
    for (const auto &[name, value] : saved_) {
      value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
    }
  }
  void set(const std::string &name, const std::string &value) {
    save(name), setenv(name.c_str(), value.c_str(), 1);
  }
  void unset(const std::string &name) { save(name), unsetenv(name.c_str()); }

 private:
  void save(const std::string &name) {
    if (saved_.count(name) == 0) saved_[name] = lvx::platform::env_value(name.c_str());
  }
  std::map<std::string, std::optional<std::string>> saved_;
};

// A fresh empty directory, removed afterwards.
class ScratchDir {
 public:
  ScratchDir() {
    if (std::string pattern = "/tmp/lvx_log_test_XXXXXX"; mkdtemp(pattern.data())) path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);  // an empty path removes nothing
  }
  const std::string &path() const { return path_; }

 private:
  std::string path_;
};

// Runs the test inside a directory and returns to the old one.
class CwdGuard {
 public:
  explicit CwdGuard(const std::string &dir) : old_(fs::current_path()) { fs::current_path(dir); }
  ~CwdGuard() {
    std::error_code ignored;
    fs::current_path(old_, ignored);
  }

 private:
  fs::path old_;
};

std::vector<std::string> read_lines(const std::string &path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool command_line_has_switch() {
  return lvx::platform::command_line().find("-PK_DEBUG_LOG") != std::string::npos;
}

std::string header_line(const std::string &path) {
  return path + " for lumavex_core created on " + lvx::platform::build_date() + " " +
         lvx::platform::build_time();
}

const std::regex kEntryPrefix(R"(^[0-9]+\.[0-9]{3} - )");

// ---- Pure pieces ----

TEST(LogPrefix, MillisecondsWithThreeDecimals) {
  EXPECT_EQ(lvx::format_log_prefix(1234567.8), "1234.568 - ");
  EXPECT_EQ(lvx::format_log_prefix(0.0), "0.000 - ");
  EXPECT_EQ(lvx::format_log_prefix(999.4), "0.999 - ");
  EXPECT_EQ(lvx::format_log_prefix(1.0), "0.001 - ");
  EXPECT_EQ(lvx::format_log_prefix(86400e6), "86400000.000 - ");
}

TEST(EnvValue, MissingEmptyPresentAndTooLong) {
  EnvGuard env;
  env.unset("LVX_TEST_VALUE");
  EXPECT_FALSE(lvx::get_env_value("LVX_TEST_VALUE"));
  env.set("LVX_TEST_VALUE", "");
  EXPECT_EQ(lvx::get_env_value("LVX_TEST_VALUE"), "");  // set, to nothing
  env.set("LVX_TEST_VALUE", "some value");
  EXPECT_EQ(lvx::get_env_value("LVX_TEST_VALUE"), "some value");
  EXPECT_FALSE(lvx::get_env_value(nullptr));
  const std::string longest(lvx::kEnvValueLimit - 1, 'x');
  env.set("LVX_TEST_VALUE", longest);
  EXPECT_EQ(lvx::get_env_value("LVX_TEST_VALUE"), longest);
  env.set("LVX_TEST_VALUE", longest + "x");
  EXPECT_FALSE(lvx::get_env_value("LVX_TEST_VALUE"));
}

TEST(TempDir, FirstSetVariableInOrderPassingOverSkip) {
  EnvGuard env;
  auto set_all = [&env] {
    env.set("TEMP", "/temp-dir");
    env.set("TMPDIR", "/tmpdir-dir");
    env.set("HOME", "/home-dir");
  };
  set_all();
  EXPECT_EQ(lvx::get_temp_dir(nullptr), "/temp-dir");
  env.unset("TEMP");
  EXPECT_EQ(lvx::get_temp_dir(nullptr), "/tmpdir-dir");
  env.unset("TMPDIR");
  EXPECT_EQ(lvx::get_temp_dir(nullptr), "/home-dir");
  env.unset("HOME");
  EXPECT_FALSE(lvx::get_temp_dir(nullptr));

  // An empty value names no directory: passed over like an unset one.
  set_all();
  env.set("TEMP", "");
  EXPECT_EQ(lvx::get_temp_dir(nullptr), "/tmpdir-dir");

  set_all();
  EXPECT_EQ(lvx::get_temp_dir("TEMP"), "/tmpdir-dir");
  EXPECT_EQ(lvx::get_temp_dir("TMPDIR"), "/temp-dir");
  // The comparison is exact.
  EXPECT_EQ(lvx::get_temp_dir("temp"), "/temp-dir");
  EXPECT_EQ(lvx::get_temp_dir("TEMP "), "/temp-dir");
  env.unset("TMPDIR");
  EXPECT_EQ(lvx::get_temp_dir("TEMP"), "/home-dir");
  env.unset("HOME");
  EXPECT_FALSE(lvx::get_temp_dir("TEMP"));
}

// ---- The process-wide log ----

// Needs a process whose first entry is still ahead.
TEST(Log, NoFileWithoutSwitches) {
  if (lvx::log_is_open() || lvx::log_auto_open_tried())
    GTEST_SKIP() << "an earlier test in this process used up the automatic log";
  if (command_line_has_switch()) GTEST_SKIP() << "run with -PK_DEBUG_LOG";
  ScratchDir temp;
  ScratchDir cwd;
  EnvGuard env;
  env.unset("LVKDEBUG_MODE");
  env.set("TEMP", temp.path());
  CwdGuard in_cwd(cwd.path());

  add_to_lumavex_log("nothing to see %d\n", 1);
  add_to_lumavex_log("still nothing\n");

  EXPECT_TRUE(lvx::log_auto_open_tried());
  EXPECT_TRUE(fs::is_empty(temp.path()));
  EXPECT_TRUE(fs::is_empty(cwd.path()));

  // The environment is consulted once only: switching it on now changes nothing.
  env.set("LVKDEBUG_MODE", "1");
  add_to_lumavex_log("too late\n");
  EXPECT_FALSE(lvx::log_is_open());
  EXPECT_TRUE(fs::is_empty(temp.path()));
}

// Needs a process whose first entry is still ahead.
TEST(Log, DebugModeOpensTheLogInTemp) {
  if (lvx::log_is_open() || lvx::log_auto_open_tried())
    GTEST_SKIP() << "an earlier test in this process used up the automatic log";
  ScratchDir temp;
  EnvGuard env;
  env.set("LVKDEBUG_MODE", "0");  // any value switches it on
  env.set("TEMP", temp.path());
  env.set("TMPDIR", "/nonexistent-tmpdir");

  const double before = current_double_usec();
  add_to_lumavex_log("first entry %d %s\n", 42, "text");
  const double after = current_double_usec();
  add_to_lumavex_log("second entry\n");
  ASSERT_TRUE(lvx::log_is_open());

  const std::string path = temp.path() + "/lumavex_core.log";
  const std::vector<std::string> lines = read_lines(path);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], header_line(path));
  EXPECT_EQ(lines[1], "CommandLine:" + lvx::platform::command_line());
  std::smatch m;
  ASSERT_TRUE(std::regex_search(lines[2], m, kEntryPrefix)) << lines[2];
  EXPECT_EQ(m.suffix().str(), "first entry 42 text");
  // The stamp is the local time of the entry, in milliseconds.
  const double stamp = std::stod(lines[2]);
  EXPECT_GE(stamp, before * 0.001 - 0.0005);
  EXPECT_LE(stamp, after * 0.001 + 0.0005);
  ASSERT_TRUE(std::regex_search(lines[3], m, kEntryPrefix)) << lines[3];
  EXPECT_EQ(m.suffix().str(), "second entry");
  EXPECT_GE(std::stod(lines[3]), stamp);
}

// Needs a process whose first entry is still ahead.
TEST(Log, EmptyDebugModeSwitchesTheLogOnAndAnEmptyTempIsPassedOver) {
  if (lvx::log_is_open() || lvx::log_auto_open_tried())
    GTEST_SKIP() << "an earlier test in this process used up the automatic log";
  ScratchDir tmpdir;
  EnvGuard env;
  env.set("LVKDEBUG_MODE", "");
  env.set("TEMP", "");  // names no directory: the log goes to TMPDIR, not to the root
  env.set("TMPDIR", tmpdir.path());

  add_to_lumavex_log("entry\n");
  ASSERT_TRUE(lvx::log_is_open());
  const std::string path = tmpdir.path() + "/lumavex_core.log";
  const std::vector<std::string> lines = read_lines(path);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], header_line(path));
}

// Needs a process without an open log.
TEST(Log, SecondSetLogIsRefusedAndTheFirstStaysInUse) {
  if (lvx::log_is_open()) GTEST_SKIP() << "an earlier test in this process opened the log";
  ScratchDir dir;
  const std::string first = dir.path() + "/first.log";
  const std::string second = dir.path() + "/second.log";
  {
    std::ofstream old(first);
    old << "old contents that opening must empty\n";
  }
  ASSERT_EQ(lumavex_set_log(first.c_str()), 0);
  EXPECT_EQ(lumavex_set_log(second.c_str()), -1);
  EXPECT_EQ(lumavex_set_log(first.c_str()), -1);
  EXPECT_EQ(lumavex_set_log(nullptr), -1);
  EXPECT_FALSE(fs::exists(second));

  add_to_lumavex_log("after the refusals\n");
  const std::vector<std::string> lines = read_lines(first);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], header_line(first));
  std::smatch m;
  ASSERT_TRUE(std::regex_search(lines[2], m, kEntryPrefix)) << lines[2];
  EXPECT_EQ(m.suffix().str(), "after the refusals");
}

// Needs a process without an open log.
TEST(Log, NoPathOrAnUnopenableFileLeavesTheLogClosed) {
  if (lvx::log_is_open()) GTEST_SKIP() << "an earlier test in this process opened the log";
  if (command_line_has_switch()) GTEST_SKIP() << "run with -PK_DEBUG_LOG";
  ScratchDir cwd;
  CwdGuard in_cwd(cwd.path());
  EXPECT_EQ(lumavex_set_log(nullptr), -1);
  EXPECT_FALSE(lvx::log_is_open());
  EXPECT_TRUE(fs::is_empty(cwd.path()));

  const std::string path = "/nonexistent-lvx-dir/sub/x.log";
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  EXPECT_EQ(lumavex_set_log(path.c_str()), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Unable to open log file '" + path + "'\n");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_FALSE(lvx::log_is_open());
}

// Needs a process without an open log.
TEST(Log, EntriesFromSeveralThreadsStayWhole) {
  if (lvx::log_is_open()) GTEST_SKIP() << "an earlier test in this process opened the log";
  ScratchDir dir;
  const std::string path = dir.path() + "/threads.log";
  ASSERT_EQ(lumavex_set_log(path.c_str()), 0);

  constexpr int kThreads = 4, kEntries = 300;
  const std::string payload(120, 'p');
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &payload] {
      for (int i = 0; i < kEntries; ++i)
        add_to_lumavex_log("thread %d entry %d %s\n", t, i, payload.c_str());
    });
  }
  for (std::thread &thread : threads) thread.join();

  const std::vector<std::string> lines = read_lines(path);
  ASSERT_EQ(lines.size(), 2u + kThreads * kEntries);
  const std::regex whole(R"(^[0-9]+\.[0-9]{3} - thread [0-3] entry [0-9]+ p{120}$)");
  std::vector<int> next(kThreads, 0);
  for (size_t i = 2; i < lines.size(); ++i) {
    ASSERT_TRUE(std::regex_match(lines[i], whole)) << lines[i];
    // Each thread's entries appear in the order it wrote them.
    const int t = lines[i][lines[i].find("thread ") + 7] - '0';
    const int entry = std::stoi(lines[i].substr(lines[i].find("entry ") + 6));
    EXPECT_EQ(entry, next[static_cast<size_t>(t)]++);
  }
}

}  // namespace
