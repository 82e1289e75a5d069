// The local relay with real processes: this test is the master (connected to a simulated
// tracker), and the slaves are programs of their own (relay_slave.c, over the public header and
// the shared library) that it starts in the same temporary working folder. Trackers 770..789.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "integration/sim_fixture.h"
#include "relay/relay.h"
#include "sim/tracker_control.h"
#include "slave_process.h"

namespace {

using relaytest::ChildProcess;
using simtest::wait_until;

constexpr int kLineWaitMs = 10000;

class Relay : public simtest::SimTest {
 protected:
  void SetUp() override {
    std::error_code ec;
    home_ = std::filesystem::current_path(ec);
    std::string pattern = (std::filesystem::temp_directory_path() / "lvx_relay_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    ASSERT_EQ(chdir(folder_.c_str()), 0);
  }

  void TearDown() override {
    for (auto &child : children_) child->stop();
    simtest::SimTest::TearDown();
    if (chdir(home_.c_str()) != 0) ADD_FAILURE() << "cannot return to " << home_;
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }

  // Starts tracker n (streaming-capable, with keep-alives so that slaves hear from the master at
  // once) and becomes the relay master.
  void become_master(int n, lvxsim::Config c = {}) {
    c.keepalive_interval_ms = 20;
    start_tracker(n, c);
    ASSERT_EQ(open_lumavex_connection(LUMAVEX_OPEN_MASTER), 0);
    ASSERT_EQ(lvx::relay_mode(), 0);
  }

  ChildProcess &run(const std::vector<std::string> &args) {
    children_.push_back(std::make_unique<ChildProcess>());
    EXPECT_TRUE(children_.back()->start(LVX_RELAY_SLAVE, args));
    return *children_.back();
  }

  // Starts a slave and waits for its open result; true when it joined.
  ChildProcess &slave(const std::vector<std::string> &args, bool *joined = nullptr) {
    ChildProcess &c = run(args);
    std::optional<std::string> line = c.wait_line("open ", kLineWaitMs);
    EXPECT_TRUE(line.has_value());
    if (joined != nullptr) *joined = line && *line == "open 0";
    return c;
  }

  std::filesystem::path home_;
  std::string folder_;
  std::vector<std::unique_ptr<ChildProcess>> children_;
};

// The samples the master reads until the stream's closing marker, as the slave program prints
// them; lost-data records as "lost".
std::vector<std::string> master_samples() {
  std::vector<std::string> out;
  float_data slot;
  for (int i = 0; i < 100000; ++i) {
    int type = lumavex_get_next_data(nullptr);
    if (type == 0) {
      msec_delay(1);
      continue;
    }
    if (type == EV_SAMPLE_BLOCK_END) break;
    if (type == EV_LOST_DATA) out.push_back("lost");
    if (type != EV_SAMPLE) continue;
    lumavex_get_float_data(&slot);
    char line[64];
    std::snprintf(line, sizeof line, "s %u %.3f %.3f", slot.fs.time,
                  static_cast<double>(slot.fs.gaze_x[1]), static_cast<double>(slot.fs.gaze_y[1]));
    out.push_back(line);
  }
  return out;
}

std::vector<std::string> slave_samples(ChildProcess &c) {
  EXPECT_TRUE(c.wait_line("block end", kLineWaitMs).has_value());
  std::vector<std::string> out;
  for (const std::string &l : c.lines()) {
    if (l.rfind("s ", 0) == 0 || l == "lost") out.push_back(l);
  }
  return out;
}

void stream_for_ms(lvxsim::SimTracker &sim, int ms) {
  lvxsim::StreamConfig c;
  c.rate_hz = 1000;
  ASSERT_TRUE(sim.start_streaming(c));
  msec_delay(ms);
  sim.stop_streaming();
}

TEST_F(Relay, TwoSlavesReadExactlyTheMastersSamplesAndEndWithTheMaster) {
  become_master(770);
  ChildProcess &a = slave({"samples"});
  ChildProcess &b = slave({"samples"});
  ASSERT_TRUE(wait_until([] { return lvx::relay_slave_count() == 2; }));
  ASSERT_EQ(lumavex_data_switch(0x0C), 0);
  stream_for_ms(sim(), 1000);
  std::vector<std::string> mine = master_samples();
  // (About 1000; a sanitizer build on a loaded machine streams fewer. What counts is that every
  // reader has the same ones.)
  ASSERT_GE(mine.size(), 200u);
  EXPECT_EQ(std::count(mine.begin(), mine.end(), "lost"), 0);
  EXPECT_EQ(slave_samples(a), mine);
  EXPECT_EQ(slave_samples(b), mine);

  // The master closes while both are attached: each sees the link end and exits normally, and
  // the socket is gone, so that a later slave finds no master.
  close_lumavex_connection();
  EXPECT_EQ(a.wait_exit(kLineWaitMs), 0);
  EXPECT_EQ(b.wait_exit(kLineWaitMs), 0);
  EXPECT_FALSE(std::filesystem::exists("server.sock"));
  bool joined = true;
  slave({"hold"}, &joined);
  EXPECT_FALSE(joined);
}

TEST_F(Relay, SlaveMessagesKeepTheirTimesOnlyOnTheSharedClockAndCommandsStayLocal) {
  lumavex_set_clock_base(QX_CLOCK_BASE_MACHINE_LOCAL);
  become_master(771);
  // On the machine's clock the slave's times hold; on its own the master stamps its own time.
  ChildProcess &shared = slave({"--base1", "message"});
  EXPECT_EQ(shared.wait_line("command ", kLineWaitMs), "command 0");
  ASSERT_TRUE(sim().wait_for_messages(2, kLineWaitMs));
  ChildProcess &own = slave({"message"});
  EXPECT_EQ(own.wait_line("command ", kLineWaitMs), "command 0");
  ASSERT_TRUE(sim().wait_for_messages(4, kLineWaitMs));

  std::vector<lvxsim::RecordedMessage> m = sim().recorded_messages();
  ASSERT_EQ(m.size(), 4u);
  EXPECT_EQ(m[0].text, "slave now");
  EXPECT_NEAR(m[0].offset_ms, 0, 5);
  EXPECT_EQ(m[1].text, "slave early");
  EXPECT_NEAR(m[1].offset_ms, -200, 5);
  EXPECT_EQ(m[3].text, "slave early");
  EXPECT_NEAR(m[3].offset_ms, 0, 5);
  for (const std::string &c : sim().command_log()) EXPECT_NE(c, "slave_command");
}

TEST_F(Relay, AReadRequestIsAnsweredToTheSlaveThatMadeIt) {
  lvxsim::Config c;
  c.control.enabled = true;
  become_master(772, c);
  sim().control().set_variable("relay_probe", "0.88 0.83");
  ChildProcess &watcher = slave({"watch", "3"});
  ChildProcess &asker = slave({"request", "relay_probe"});
  EXPECT_EQ(asker.wait_line("request ", kLineWaitMs), "request 0");
  EXPECT_EQ(asker.wait_line("reply", kLineWaitMs), "reply 0.88 0.83");
  // The other slave was still watching when the reply came, and saw none.
  ASSERT_FALSE(watcher.wait_exit(0).has_value());
  EXPECT_EQ(watcher.wait_line("noreply", kLineWaitMs), "noreply");
}

TEST_F(Relay, AnEleventhSlaveIsRefusedAndADeadOneFreesItsSlot) {
  become_master(773);
  std::vector<ChildProcess *> held;
  for (int i = 0; i < lvx::kSlaveSlots; ++i) {
    bool joined = false;
    held.push_back(&slave({"hold"}, &joined));
    ASSERT_TRUE(joined) << "slave " << i;
  }
  ASSERT_TRUE(wait_until([] { return lvx::relay_slave_count() == lvx::kSlaveSlots; }));
  bool joined = true;
  ChildProcess &eleventh = slave({"hold"}, &joined);
  EXPECT_FALSE(joined);
  EXPECT_EQ(eleventh.wait_exit(kLineWaitMs), 1);
  EXPECT_EQ(lvx::relay_slave_count(), lvx::kSlaveSlots);

  held[3]->signal(SIGKILL);
  ASSERT_TRUE(wait_until([] { return lvx::relay_slave_count() == lvx::kSlaveSlots - 1; }));
  slave({"hold"}, &joined);
  EXPECT_TRUE(joined);
}

TEST_F(Relay, AStalledSlaveIsDroppedWhileTheOthersMissNothing) {
  lvx::set_relay_limits_for_testing(0, 1000);
  become_master(774);
  ChildProcess &reader = slave({"samples"});
  ChildProcess &stalled = slave({"hold"});
  ChildProcess &killed = slave({"hold"});
  ASSERT_TRUE(wait_until([] { return lvx::relay_slave_count() == 3; }));
  ASSERT_EQ(lumavex_data_switch(0x0C), 0);
  lvxsim::StreamConfig c;
  c.rate_hz = 1000;
  ASSERT_TRUE(sim().start_streaming(c));
  stalled.signal(SIGSTOP);
  msec_delay(200);
  killed.signal(SIGKILL);
  EXPECT_TRUE(wait_until([] { return lvx::relay_slave_count() == 1; }, 15000));
  sim().stop_streaming();

  std::vector<std::string> mine = master_samples();
  ASSERT_GE(mine.size(), 500u);
  EXPECT_EQ(std::count(mine.begin(), mine.end(), "lost"), 0);
  EXPECT_EQ(slave_samples(reader), mine);
  // Let go, the dropped slave finds its connection closed and ends normally.
  stalled.signal(SIGCONT);
  EXPECT_TRUE(stalled.wait_line("end", kLineWaitMs).has_value());
}

TEST_F(Relay, AStaleSocketIsTakenOverOwnerOnlyAndASecondMasterIsRefused) {
  // A socket left by a master that died: bound, never removed, nobody listening.
  {
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    std::snprintf(sa.sun_path, sizeof sa.sun_path, "./server.sock");
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa), 0);
    close(fd);
  }
  become_master(775);
  struct stat st {};
  ASSERT_EQ(stat("server.sock", &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  lvxsim::SimTracker other([] {
    lvxsim::Config c;
    c.ip = simtest::tracker_ip(776);
    return c;
  }());
  ASSERT_TRUE(other.start());
  ChildProcess &second = run(
      {"master", simtest::dotted(other.config().ip), std::to_string(other.udp_endpoint().port)});
  EXPECT_EQ(second.wait_line("master ", kLineWaitMs), "master -1");
  bool joined = false;
  slave({"hold"}, &joined);
  EXPECT_TRUE(joined);
  EXPECT_TRUE(wait_until([] { return lvx::relay_slave_count() == 1; }));
  other.stop();
}

}  // namespace
