// Downloads and uploads against the simulated tracker: over its file service and over the link
// (single blocks and windows), video folders, the transport choice, progress and cancelling, and
// every fault and hostile name, each checking the result and that nothing partial stays behind.
// Trackers 127.0.1.244 .. (test numbers 500..599) and 127.0.2.88 .. (600..607).
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <regex>
#include <sstream>

#include "common/wire_reader.h"
#include "files/file_service.h"
#include "files/link_transfer.h"
#include "link/alert.h"
#include "platform/files.h"
#include "platform/net.h"
#include "sim/tracker_control.h"
#include "sim_fixture.h"

namespace fs = std::filesystem;

namespace {

using simtest::read_file;

std::string random_bytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char &c : s) c = static_cast<char>(rng());
  return s;
}

void write_file(const fs::path &path, const std::string &bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// Every regular file under a folder, as paths relative to it, sorted.
std::vector<std::string> tree(const fs::path &dir) {
  std::vector<std::string> out;
  if (!fs::exists(dir)) return out;
  for (const auto &e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) out.push_back(fs::relative(e.path(), dir).string());
  std::sort(out.begin(), out.end());
  return out;
}

// Progress calls seen by the callbacks below (one download at a time per process).
std::vector<std::pair<uint64_t, uint64_t>> g_progress;
int g_cancel_after = -1;  // the callback answers LUMAVEX_PROGRESS_CANCEL from this call on

int record_progress(const char *, uint64_t total, uint64_t received) {
  g_progress.emplace_back(total, received);
  if (g_cancel_after >= 0 && static_cast<int>(g_progress.size()) > g_cancel_after)
    return LUMAVEX_PROGRESS_CANCEL;
  return 0;
}

int record_progress32(uint32_t total, uint32_t received) {
  g_progress.emplace_back(total, received);
  return 0;
}

std::vector<std::pair<uint32_t, uint32_t>> g_upload;
int record_upload(uint32_t total, uint32_t sent) {
  g_upload.emplace_back(total, sent);
  return 0;
}

// The tracker stores an upload once the last byte is in: waits (bounded) for the whole file.
bool arrives(const fs::path &path, const std::string &bytes) {
  return simtest::wait_until([&] { return fs::exists(path) && read_file(path) == bytes; }, 3000);
}

void expect_monotonic_to(uint64_t total) {
  ASSERT_FALSE(g_progress.empty());
  for (size_t i = 1; i < g_progress.size(); ++i)
    EXPECT_LE(g_progress[i - 1].second, g_progress[i].second);
  EXPECT_EQ(g_progress.back().first, total);
  EXPECT_EQ(g_progress.back().second, total);
}

class FileTransfer : public simtest::SimTest {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("lvx_xfer_" + std::to_string(getpid()));
    fs::remove_all(root_);
    data_ = root_ / "tracker";
    local_ = root_ / "local";
    fs::create_directories(data_);
    fs::create_directories(local_);
    g_progress.clear();
    g_upload.clear();
    g_cancel_after = -1;
  }
  void TearDown() override {
    SimTest::TearDown();
    lvx::set_file_service_wait_ms_for_testing(0);
    lvx::set_file_block_wait_ms_for_testing(0);
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  // Starts tracker n serving data_ with the given version and connects.
  void connect(int n, const std::string &version = "LUMAVEX RX 5.7", int block = 1024) {
    lvxsim::Config c;
    c.version_text = version;
    c.data_dir = data_.string();
    c.enable_file_service = true;
    c.file_block_bytes = block;
    c.control.enabled = true;
    start_tracker(n, c);
    lvx::transport_options().file_service_port = sim().file_service_port();
    ASSERT_EQ(open_lumavex_connection(0), 0);
  }

  // Puts a recording into the tracker's data folder; returns its bytes.
  std::string put_recording(const std::string &name, size_t size, uint32_t seed = 1) {
    std::string bytes = random_bytes(size, seed);
    write_file(data_ / name, bytes);
    lvx::platform::set_file_times((data_ / name).string(), 1700000000);
    return bytes;
  }

  std::string local(const std::string &name = "") const { return (local_ / name).string(); }

  // Downloads `name` into the local folder.
  int32_t fetch(const char *name, int32_t options, download_progress_fn progress = nullptr) {
    return receive_data_file_feedback64(name, local().c_str(), options, progress);
  }

  fs::path root_, data_, local_;
};

// ---- over the file service ----

TEST_F(FileTransfer, ServiceDownloadIntoAFolderKeepsBytesTimeAndReportsProgress) {
  connect(500);
  std::string bytes = put_recording("trial.qrd", 700000);
  int32_t r = fetch("trial", RECEIVE_FILE_TO_DIR, record_progress);
  ASSERT_EQ(r, 700000);
  EXPECT_EQ(tree(local_), std::vector<std::string>{"trial.qrd"});
  EXPECT_TRUE(read_file(local_ / "trial.qrd") == bytes);
  EXPECT_EQ(lvx::platform::file_write_time(local("trial.qrd")), 1700000000);
  expect_monotonic_to(700000);
  EXPECT_EQ(sim().file_stats().service_requests, 1u);
  EXPECT_EQ(sim().file_stats().link_blocks_sent, 0u);
}

TEST_F(FileTransfer, ServiceDownloadKeepsAnExistingFileUnlessReplaceIsAskedOrUsesItsNameHere) {
  connect(501);
  std::string bytes = put_recording("trial.qrd", 5000);
  write_file(local_ / "trial.qrd", "mine");
  ASSERT_EQ(receive_data_file("trial.qrd", local("trial.qrd").c_str(), 0), 5000);
  std::vector<std::string> files = tree(local_);
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(read_file(local_ / "trial.qrd"), "mine");
  EXPECT_TRUE(std::regex_match(files[1], std::regex("trial_[0-9]{8}_[0-9]{6}\\.qrd"))) << files[1];
  EXPECT_TRUE(read_file(local_ / files[1]) == bytes);

  ASSERT_EQ(receive_data_file_feedback64("trial", local("trial.qrd").c_str(),
                                         RECEIVE_FILE_ONLY | RECEIVE_FILE_REPLACE, nullptr),
            5000);
  EXPECT_TRUE(read_file(local_ / "trial.qrd") == bytes);
  EXPECT_EQ(tree(local_).size(), 2u);

  // Without a destination the tracker's name is used, here.
  std::string here = put_recording("here.qrd", 100);
  fs::path was = fs::current_path();
  fs::current_path(local_);
  int32_t r = receive_data_file_feedback("here", nullptr, 0, record_progress32);
  fs::current_path(was);
  ASSERT_EQ(r, 100);
  EXPECT_TRUE(read_file(local_ / "here.qrd") == here);
  expect_monotonic_to(100);
}

// Each fault: the result code, and no file (partial or temporary) left in the folder.
struct Fault {
  const char *what;
  lvxsim::FileFaults faults;
  int32_t expected;
};

template <class Set>
lvxsim::FileFaults with(Set set) {
  lvxsim::FileFaults f;
  set(f);
  return f;
}

TEST_F(FileTransfer, ServiceFaultsLeaveNothingBehindAndAnEmptyFileArrives) {
  connect(504, "LUMAVEX T 1.2");
  put_recording("trial.qrd", 200000);
  lvx::set_file_service_wait_ms_for_testing(400);
  const Fault faults[] = {
      {"not found", with([](auto &f) { f.not_found = true; }), -6},
      {"dropped after 50000 bytes", with([](auto &f) { f.drop_after_bytes = 50000; }), -4},
      {"dropped in the first segment", with([](auto &f) { f.drop_after_bytes = 10; }), -4},
      {"wrong checksum", with([](auto &f) { f.wrong_checksum = true; }), -4},
      {"size one more", with([](auto &f) { f.size_delta = 1; }), -4},
      {"size one less", with([](auto &f) { f.size_delta = -1; }), -4},
      {"stalls after 70000 bytes", with([](auto &f) { f.stall_after_bytes = 70000; }), -2},
  };
  for (const Fault &f : faults) {
    sim().set_file_faults(f.faults);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(fetch("trial", 1), f.expected) << f.what;
    EXPECT_LT(simtest::ms_since(start), 5000) << f.what;
    EXPECT_TRUE(tree(local_).empty()) << f.what;
  }
  sim().set_file_faults({});
  EXPECT_EQ(fetch("trial", 1), 200000);
  // An empty file is a file, with no progress call.
  put_recording("empty.qrd", 0);
  EXPECT_EQ(fetch("empty", 1, record_progress), 0);
  EXPECT_TRUE(g_progress.empty());
  EXPECT_TRUE(fs::exists(local_ / "empty.qrd"));
}

TEST_F(FileTransfer, ServiceHostileNamesAreRefused) {
  connect(505, "LUMAVEX T 1.2");
  put_recording("trial.qrd", 3000);
  for (std::string name : {"../evil.qrd", "/tmp/evil.qrd", "..\\evil.qrd", "sub/evil.qrd", "..",
                           "evil\x01.qrd", "C:evil.qrd"}) {
    lvxsim::FileFaults f;
    f.reply_name = name;
    sim().set_file_faults(f);
    EXPECT_EQ(fetch("trial", 1), -6) << name;
    EXPECT_EQ(receive_data_file("trial", nullptr, 0), -6) << name;
    EXPECT_TRUE(tree(root_ / "local").empty()) << name;
  }
  EXPECT_FALSE(fs::exists(root_ / "evil.qrd"));
  EXPECT_FALSE(fs::exists("/tmp/evil.qrd"));
  // With an explicit file name the tracker's name is not used at all.
  EXPECT_EQ(receive_data_file("trial", local("mine.qrd").c_str(), 0), 3000);
}

TEST_F(FileTransfer, Uploads) {
  connect(506);
  std::string bytes = random_bytes(100000, 9);
  write_file(local_ / "up.bin", bytes);
  EXPECT_EQ(send_data_file_feedback(local("up.bin").c_str(), "up.dat", 0, record_upload), 100000);
  EXPECT_TRUE(arrives(data_ / "recv" / "up.dat", bytes));
  ASSERT_FALSE(g_upload.empty());
  EXPECT_EQ(g_upload.back(), std::make_pair(100000u, 100000u));

  EXPECT_EQ(send_data_file_mem(bytes.data(), "mem.dat", 40000, nullptr), 40000);
  EXPECT_TRUE(arrives(data_ / "recv" / "mem.dat", bytes.substr(0, 40000)));
  write_file(local_ / "empty", "");
  EXPECT_EQ(send_data_file(local("empty").c_str(), "empty.dat", 0), 0);

  EXPECT_EQ(send_data_file(local("up.bin").c_str(), std::string(21, 'n').c_str(), 0), -3);
  EXPECT_EQ(send_data_file(local("up.bin").c_str(), std::string(20, 'n').c_str(), 0), 100000);
  EXPECT_EQ(send_data_file("", "x", 0), -3);
  EXPECT_EQ(send_data_file(local("missing").c_str(), "x", 0), -2);

  lvxsim::FileFaults refuse;
  refuse.refuse_put = true;
  sim().set_file_faults(refuse);
  EXPECT_EQ(send_data_file(local("up.bin").c_str(), "no.dat", 0), -5);
  EXPECT_EQ(send_data_file_mem(bytes.data(), "no.dat", 10, nullptr), -3);
  EXPECT_FALSE(fs::exists(data_ / "recv" / "no.dat"));
}

// ---- over the link ----

TEST_F(FileTransfer, LinkBlocksOneAtATime) {
  // A 2500-byte file in blocks of 992: acknowledged at 0, 992 and 1984, then done.
  connect(510, "LUMAVEX RX 4.0", 992);
  std::string bytes = put_recording("small.qrd", 2500);
  ASSERT_EQ(lumavex_request_file_read("small.qrd"), 0);
  char buf[1024];
  int32_t offset = -1;
  ASSERT_EQ(lumavex_get_file_block(buf, &offset), 999);
  EXPECT_STREQ(buf, "/lvrx/data/small.qrd");
  EXPECT_EQ(offset, 2500);
  std::string got;
  for (int expect : {992, 992, 516}) {
    ASSERT_EQ(lumavex_get_file_block(buf, &offset), expect);
    EXPECT_EQ(offset, static_cast<int32_t>(got.size()));
    got.append(buf, static_cast<size_t>(expect));
  }
  EXPECT_EQ(got, bytes);
  EXPECT_EQ(lumavex_get_file_block(buf, &offset), -110);
  EXPECT_EQ(lumavex_get_file_block(nullptr, &offset), -3);
  // Acknowledgements leave after the receive thread lets go of the link lock, so the last may
  // still be on its way; a block may be acknowledged twice (on arrival and when read), never
  // out of order.
  auto acks = [&] {
    std::vector<uint32_t> offsets;
    for (const auto &p : sim().received())
      if (p.bytes.size() >= 30 && p.bytes[0] == COMMAND_PKT && p.bytes[25] == 60)
        offsets.push_back(lvx::WireReader(p.bytes).u32_at(20));
    return offsets;
  };
  EXPECT_TRUE(simtest::wait_until([&] {
    std::vector<uint32_t> a = acks();
    return !a.empty() && a.back() == 1984;
  }));
  std::vector<uint32_t> seen = acks();
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
  EXPECT_EQ(seen, (std::vector<uint32_t>{0, 992, 1984}));
  EXPECT_EQ(lumavex_request_file_block(5), 0);
}

TEST_F(FileTransfer, LinkDownloadSingleAndWindowed) {
  for (const char *version : {"LUMAVEX RX 4.0", "LUMAVEX RX 4.50"}) {
    SCOPED_TRACE(version);
    connect(std::string(version).size() == 14 ? 511 : 512, version);
    std::string bytes = put_recording("trial.qrd", 300000, 3);
    int32_t r = fetch("trial.qrd", RECEIVE_FILE_TO_DIR, record_progress);
    ASSERT_EQ(r, 300000);
    EXPECT_TRUE(read_file(local_ / "trial.qrd") == bytes);
    expect_monotonic_to(300000);
    // The tracker counts a block once its send returns, which may be after the display has it.
    EXPECT_TRUE(simtest::wait_until([&] {
      lvxsim::FileStats now = sim().file_stats();
      return now.link_blocks_sent >= 293u && now.link_windows >= 1u;
    }));
    lvxsim::FileStats s = sim().file_stats();
    EXPECT_EQ(s.service_requests, 0u);
    EXPECT_GE(s.link_blocks_sent, 293u);
    if (std::string(version) == "LUMAVEX RX 4.50") {
      EXPECT_LT(s.link_windows * 4, s.link_blocks_sent);  // whole windows per acknowledgement
    } else {
      EXPECT_GE(s.link_windows, 293u);
    }
    SimTest::TearDown();
    sim_.reset();
    fs::remove_all(local_);
    fs::create_directories(local_);
    g_progress.clear();
  }
}

TEST_F(FileTransfer, LinkBlocksOf1000BytesAreDataAnd999IsNeverABlock) {
  // 1000 is also the reader's "nothing yet" answer; 999 marks the file information, so the
  // tracker never sends a block of that length (it splits it).
  connect(520, "LUMAVEX RX 4.0");
  for (size_t size : {size_t{3 * 1024 + 999}, size_t{2 * 1024 + 1000}, size_t{999}}) {
    std::string bytes = put_recording("odd.qrd", size, static_cast<uint32_t>(size));
    ASSERT_EQ(fetch("odd.qrd", RECEIVE_FILE_TO_DIR | RECEIVE_FILE_REPLACE),
              static_cast<int32_t>(size));
    EXPECT_TRUE(read_file(local_ / "odd.qrd") == bytes) << size;
  }
}

TEST_F(FileTransfer, LinkFaultsLeaveNothingBehind) {
  connect(513, "LUMAVEX RX 4.50");
  put_recording("trial.qrd", 60000);
  lvx::set_file_block_wait_ms_for_testing(150);
  const Fault faults[] = {
      {"not found", with([](auto &f) { f.not_found = true; }), -1},
      {"error -113 after 20000 bytes", with([](auto &f) {
         f.link_error = -113;
         f.link_error_after = 20000;
       }),
       -4},
      {"stalls after 30000 bytes", with([](auto &f) { f.stall_after_bytes = 30000; }), -4},
      {"5000 bytes longer", with([](auto &f) { f.size_delta = 5000; }), -4},
      {"announced again after every block", with([](auto &f) { f.reannounce_each_block = true; }),
       -4},
  };
  for (const Fault &f : faults) {
    sim().set_file_faults(f.faults);
    EXPECT_EQ(fetch("trial.qrd", 1), f.expected) << f.what;
    EXPECT_TRUE(tree(local_).empty()) << f.what;
  }
}

TEST_F(FileTransfer, LinkHostileNamesAreRefusedOrReducedToTheirLastPart) {
  connect(514, "LUMAVEX RX 4.0");
  std::string bytes = put_recording("trial.qrd", 4000);
  for (const char *name : {"/lvrx/data/..", "evil\x02.qrd"}) {
    lvxsim::FileFaults f;
    f.reply_name = name;
    sim().set_file_faults(f);
    EXPECT_EQ(fetch("trial.qrd", 1), -1);
    EXPECT_TRUE(tree(root_).empty() ||
                tree(root_) == std::vector<std::string>{"tracker/trial.qrd"});
  }
  lvxsim::FileFaults f;
  f.reply_name = "../../escape.qrd";
  sim().set_file_faults(f);
  EXPECT_EQ(fetch("trial.qrd", 1), 4000);
  EXPECT_EQ(tree(local_), std::vector<std::string>{"escape.qrd"});
  EXPECT_FALSE(fs::exists(root_ / "escape.qrd"));
}

// ---- choice of transport, video folders ----

TEST_F(FileTransfer, Version515UsesTheLinkAndHasNoVideo) {
  connect(515, "LUMAVEX RX 5.15");
  std::string bytes = put_recording("trial.qrd", 20000);
  ASSERT_EQ(receive_data_file("trial.qrd", local("a.qrd").c_str(), 0), 20000);
  EXPECT_EQ(sim().file_stats().service_requests, 0u);
  EXPECT_GT(sim().file_stats().link_blocks_sent, 0u);
  EXPECT_TRUE(read_file(local_ / "a.qrd") == bytes);
  // Video options need a tracker that records video.
  EXPECT_EQ(fetch("trial", RECEIVE_VIDEO_ONLY_TO_DIR), -5);
}

TEST_F(FileTransfer, ThirdGenerationFallsBackToTheLinkWhenTheServiceFails) {
  connect(516);
  std::string bytes = put_recording("trial.qrd", 20000);
  lvx::transport_options().file_service_port = 1;  // nothing listens there
  // The alerts about the service's connect, which the user sees.
  static std::atomic<int> connect_alerts{0};
  lvx::set_alert_sink([](const char *text) {
    if (std::strstr(text, "open_ftpd_socket") != nullptr) connect_alerts.fetch_add(1);
    return true;
  });
  std::unique_ptr<void, void (*)(void *)> restore(&connect_alerts,
                                                  [](void *) { lvx::set_alert_sink(nullptr); });
  ASSERT_EQ(receive_data_file("trial.qrd", local("b.qrd").c_str(), 0), 20000);
  EXPECT_TRUE(read_file(local_ / "b.qrd") == bytes);
  EXPECT_GT(sim().file_stats().link_blocks_sent, 0u);
  // The link delivered: the failed connect on the way is no news.
  EXPECT_EQ(connect_alerts.load(), 0);
  // Neither way delivers: the user hears that the service could not be reached.
  EXPECT_LT(receive_data_file("absent.qrd", local("c.qrd").c_str(), 0), 0);
  EXPECT_EQ(connect_alerts.load(), 1);
}

TEST_F(FileTransfer, VideoFoldersMoveIntoPlaceWithoutOverwriting) {
  connect(517, "LUMAVEX T 1.2");
  std::string qrd = put_recording("trial.qrd", 9000);
  std::string a = random_bytes(30000, 5), b = random_bytes(100, 6);
  write_file(data_ / "vfiles" / "trial" / "a.evf", a);
  write_file(data_ / "vfiles" / "trial" / "b.evf", b);
  ASSERT_EQ(fetch("trial", RECEIVE_FILE_AND_VIDEO_TO_DIR, record_progress), 9000);
  EXPECT_EQ(tree(local_), (std::vector<std::string>{"trial.qrd", "trial/a.evf", "trial/b.evf"}));
  EXPECT_TRUE(read_file(local_ / "trial" / "a.evf") == a);
  EXPECT_TRUE(read_file(local_ / "trial.qrd") == qrd);

  // Again: the targets are in use, so everything lands in a time-stamped folder beside them.
  ASSERT_EQ(fetch("trial", RECEIVE_FILE_AND_VIDEO_TO_DIR), 9000);
  std::vector<std::string> files = tree(local_);
  ASSERT_EQ(files.size(), 6u);
  EXPECT_TRUE(std::regex_match(files[3], std::regex("trial_[0-9]{8}_[0-9]{6}/trial.qrd")))
      << files[3];
  EXPECT_TRUE(read_file(local_ / "trial.qrd") == qrd);

  // Video only, replacing.
  ASSERT_EQ(fetch("trial", RECEIVE_VIDEO_ONLY_TO_DIR | RECEIVE_FILE_REPLACE), 1);
  EXPECT_TRUE(read_file(local_ / "trial" / "b.evf") == b);
}

TEST_F(FileTransfer, VideoFaultsAndCancel) {
  connect(518, "LUMAVEX T 1.2");
  put_recording("trial.qrd", 9000);
  write_file(data_ / "vfiles" / "trial" / "a.evf", random_bytes(300000, 5));
  write_file(data_ / "vfiles" / "trial" / "b.evf", random_bytes(300000, 6));
  g_cancel_after = 0;
  EXPECT_EQ(fetch("trial", RECEIVE_VIDEO_ONLY_TO_DIR, record_progress), -3);
  EXPECT_TRUE(tree(local_).empty());
  g_cancel_after = -1;
  lvxsim::FileFaults hostile;
  hostile.reply_name = "..";
  sim().set_file_faults(hostile);
  EXPECT_EQ(fetch("trial", RECEIVE_VIDEO_ONLY_TO_DIR), -6);
  EXPECT_TRUE(tree(local_).empty());
  sim().set_file_faults({});
  EXPECT_EQ(fetch("none", RECEIVE_VIDEO_ONLY_TO_DIR), -6);
  EXPECT_EQ(fetch("trial", 7), -5);
  EXPECT_EQ(fetch(nullptr, 0), -5);
  EXPECT_TRUE(tree(local_).empty());
}

// ---- bounded waits, and no download that lost data reports success (trackers 600..607) ----

TEST_F(FileTransfer, AServiceThatDoesNotAnswerTricklesOrStopsReadingIsGivenUpOnWithinTheWait) {
  connect(600, "LUMAVEX T 1.2");
  put_recording("trial.qrd", 1000);
  lvx::set_file_service_wait_ms_for_testing(300);
  // A service whose queue of connections is full: the system leaves a connect unanswered.
  int err = 0;
  lvx::platform::Socket full = lvx::platform::Socket::tcp(&err);
  ASSERT_EQ(full.bind({simtest::tracker_ip(600), 0}), 0);
  ASSERT_EQ(full.listen(0), 0);
  std::vector<lvx::platform::Socket> queued;
  for (int i = 0; i < 3; ++i) {
    queued.push_back(lvx::platform::Socket::tcp(&err));
    queued.back().set_blocking(false);
    queued.back().connect_start(full.local_endpoint());
  }
  const uint16_t service_port = lvx::transport_options().file_service_port;
  lvx::transport_options().file_service_port = full.local_endpoint().port;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(fetch("trial", 1), -1);
  EXPECT_LT(simtest::ms_since(start), 3000);
  lvx::transport_options().file_service_port = service_port;
  lvxsim::FileFaults trickle;
  trickle.trickle_ms = 10;  // a byte every 10 ms: the file would take 10 s
  sim().set_file_faults(trickle);
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(fetch("trial", 1), -2);
  EXPECT_LT(simtest::ms_since(start), 3000);
  EXPECT_TRUE(tree(local_).empty());
  // An upload to a service that takes the request and then reads nothing.
  lvxsim::FileFaults deaf;
  deaf.stop_reading_upload = true;
  sim().set_file_faults(deaf);
  std::string big(32 << 20, 'b');
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(send_data_file_mem(big.data(), "big.dat", static_cast<uint32_t>(big.size()), nullptr),
            -4);
  EXPECT_LT(simtest::ms_since(start), 3000);
}

TEST_F(FileTransfer, RepliesThatComeInSeveralSegmentsAreReadWhole) {
  connect(601, "LUMAVEX T 1.2");
  std::string bytes = put_recording("trial.qrd", 30000);
  lvx::set_file_service_wait_ms_for_testing(2000);
  lvxsim::FileFaults split;
  split.split_reply_ms = 50;
  sim().set_file_faults(split);
  EXPECT_EQ(fetch("trial", 1), 30000);
  EXPECT_TRUE(read_file(local_ / "trial.qrd") == bytes);
  EXPECT_EQ(send_data_file(local("trial.qrd").c_str(), "up.dat", 0), 30000);
  EXPECT_TRUE(arrives(data_ / "recv" / "up.dat", bytes));
}

TEST_F(FileTransfer, NamesThatCannotGoWholeAndFilesOf2GiBAreRefusedBeforeAnythingIsSent) {
  connect(602, "LUMAVEX RX 4.0");
  put_recording("trial.qrd", 100);
  ASSERT_TRUE(sim().wait_for_commands(1, 2000));  // the connection's own
  sim().clear_received();
  EXPECT_EQ(fetch("tri\nal", 1), -5);
  EXPECT_EQ(lumavex_request_file_read("tri\nal"), -3);
  EXPECT_EQ(send_data_file(local("x").c_str(), "up\n.dat", 0), -3);
  // Sparse: 2 GiB on the file system's books, nothing on its disk.
  write_file(local_ / "huge.bin", "");
  fs::resize_file(local_ / "huge.bin", uint64_t{1} << 31);
  EXPECT_EQ(send_data_file(local("huge.bin").c_str(), "huge.dat", 0), -3);
  EXPECT_EQ(sim().file_stats().service_requests, 0u);
  EXPECT_TRUE(sim().command_log().empty());
}

TEST_F(FileTransfer, AVideoFileThatDoesNotArriveWholeFailsTheDownloadAndTheRestIsKept) {
  connect(603, "LUMAVEX T 1.2");
  put_recording("trial.qrd", 9000);
  write_file(data_ / "vfiles" / "trial" / "a.evf", random_bytes(30000, 5));
  write_file(data_ / "vfiles" / "trial" / "b.evf", random_bytes(30000, 6));
  auto fault = [](auto set) {
    lvxsim::FileFaults f;
    f.only_file = "b.evf";
    set(f);
    return f;
  };
  const Fault faults[] = {
      {"wrong checksum", fault([](auto &f) { f.wrong_checksum = true; }), -4},
      {"cut short", fault([](auto &f) { f.drop_after_bytes = 10000; }), -4},
      {"missing", fault([](auto &f) { f.not_found = true; }), -6},
  };
  for (const Fault &f : faults) {
    sim().set_file_faults(f.faults);
    EXPECT_EQ(fetch("trial", RECEIVE_FILE_AND_VIDEO_TO_DIR), f.expected) << f.what;
    EXPECT_EQ(tree(local_), (std::vector<std::string>{"trial.qrd", "trial/a.evf"})) << f.what;
    fs::remove_all(local_);
    fs::create_directories(local_);
  }
}

TEST_F(FileTransfer, AVideoListingIsRefusedWithRepeatsAndTheFolderHasOneWait) {
  connect(604, "LUMAVEX T 1.2");
  put_recording("trial.qrd", 100);
  for (char c = 'a'; c <= 'h'; ++c)
    write_file(data_ / "vfiles" / "trial" / (std::string(1, c) + ".evf"), random_bytes(3000, 5));
  lvx::set_file_service_wait_ms_for_testing(300);
  lvxsim::FileFaults repeats;
  repeats.video_names = "a.evf";
  for (int i = 1; i < 60; ++i) *repeats.video_names += ";a.evf";
  sim().set_file_faults(repeats);
  EXPECT_EQ(fetch("trial", RECEIVE_VIDEO_ONLY_TO_DIR), -6);
  EXPECT_EQ(sim().file_stats().service_requests, 1u);  // the listing alone
  EXPECT_TRUE(tree(local_).empty());
  // Eight names whose files each stall: the folder's one wait is spent on the first.
  lvxsim::FileFaults stalls;
  stalls.stall_after_bytes = 0;
  sim().set_file_faults(stalls);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(fetch("trial", RECEIVE_VIDEO_ONLY_TO_DIR), -2);
  EXPECT_LT(simtest::ms_since(start), 1500);
  EXPECT_EQ(sim().file_stats().service_requests, 3u);  // and the listing and the first file
  EXPECT_TRUE(tree(local_).empty());
}

TEST_F(FileTransfer, LinkDownloadsThatLoseDataEndNegative) {
  connect(605, "LUMAVEX RX 4.0");
  std::string bytes = put_recording("trial.qrd", 5000);
  lvx::set_file_block_wait_ms_for_testing(150);
  // The longest name the file system takes works; one longer cannot be made.
  const std::string longest(255, 'n');
  EXPECT_EQ(receive_data_file("trial.qrd", local(longest).c_str(), 0), 5000);
  EXPECT_TRUE(read_file(local_ / longest) == bytes);
  EXPECT_EQ(receive_data_file("trial.qrd", local(longest + "n").c_str(), 0), -2);
  EXPECT_EQ(tree(local_), std::vector<std::string>{longest});
}

TEST_F(FileTransfer, LinkDownloadClosesTheTrackersFileWaitsForItsAnswerAndStartsFromIdle) {
  connect(606, "LUMAVEX RX 4.0");
  put_recording("trial.qrd", 3000);
  sim().set_command_rule("close_data_file", {0, 400, true, {}});
  // The operator opens the setup menu as the file is closed: the transfer starts outside idle
  // mode, and is started again once the tracker is offline.
  sim().set_observer([this](const lvxsim::ReceivedPacket &p) {
    if (simtest::is_command(p, "close_data_file"))
      sim().control().enter_mode(lvxsim::kModeSetupMenu);
  });
  sim().clear_received();
  ASSERT_EQ(receive_data_file("trial.qrd", local("t.qrd").c_str(), 0), 3000);
  const std::vector<std::string> commands = sim().command_log();
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "start_file_transfer trial.qrd"), 2);
  int64_t closed = -1;
  int64_t started = -1;
  for (const auto &p : sim().received()) {
    if (simtest::is_command(p, "close_data_file")) closed = p.tracker_time_us;
    if (started < 0 && simtest::is_command(p, "start_file_transfer trial.qrd"))
      started = p.tracker_time_us;
  }
  ASSERT_GE(closed, 0);
  ASSERT_GE(started, 0);
  EXPECT_GE(started - closed, 390000);
}

TEST_F(FileTransfer, DownloadsIntoAFolderOnAnotherFileSystem) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs for the destination needs root";
  const fs::path mnt = root_ / "mnt";
  fs::create_directories(mnt);
  if (mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=8m") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  struct Unmount {
    fs::path at;
    ~Unmount() { umount2(at.c_str(), MNT_DETACH); }
  } unmount{mnt};
  connect(607, "LUMAVEX T 1.2");
  put_recording("trial.qrd", 9000);
  write_file(data_ / "vfiles" / "trial" / "a.evf", random_bytes(30000, 5));
  ASSERT_EQ(
      receive_data_file_feedback64("trial", mnt.c_str(), RECEIVE_FILE_AND_VIDEO_TO_DIR, nullptr),
      9000);
  EXPECT_EQ(tree(mnt), (std::vector<std::string>{"trial.qrd", "trial/a.evf"}));
  EXPECT_EQ(std::distance(fs::directory_iterator(mnt), fs::directory_iterator()), 2);
}

}  // namespace
