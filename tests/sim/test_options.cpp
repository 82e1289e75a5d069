// The stand-alone tracker's command line: each option lands in the configuration, each error has
// its text, and the help text lists every option the parser accepts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/options.h"

namespace {

using lvxsim::parse_program_options;
using lvxsim::ParsedOptions;
using Outcome = ParsedOptions::Outcome;
using Args = std::vector<std::string>;

lvxsim::ProgramOptions parse_ok(const Args &args) {
  ParsedOptions p = parse_program_options(args);
  EXPECT_EQ(p.outcome, Outcome::kRun) << p.error;
  return p.options;
}

TEST(SimOptions, NoArgumentsRunTheWholeTrackerOnItsDefaultAddress) {
  lvxsim::ProgramOptions o = parse_ok({});
  EXPECT_EQ(o.tracker.ip, (lvxsim::IPv4{127, 0, 0, 2}));
  EXPECT_EQ(o.tracker.udp_port, 589);
  EXPECT_FALSE(o.tracker.enable_tcp);
  EXPECT_FALSE(o.tracker.enable_file_service);
  EXPECT_EQ(o.tracker.file_service_port, 3873);
  EXPECT_TRUE(o.tracker.control.enabled);
  EXPECT_EQ(o.tracker.connect_reply, lvxsim::ConnectReply::kAccept);
  EXPECT_FALSE(o.print_commands);
  EXPECT_FALSE(o.print_connections);
  EXPECT_FALSE(o.stream_on_connect);
  EXPECT_EQ(o.stream.drop_rate, 0.0);
  EXPECT_EQ(o.stream.duplicate_rate, 0.0);
  EXPECT_EQ(o.stream.reorder_rate, 0.0);
  EXPECT_EQ(o.silence_after_ms, -1);
  EXPECT_EQ(o.restart_after_ms, -1);
}

TEST(SimOptions, EachOptionSetsItsField) {
  lvxsim::ProgramOptions o = parse_ok({"--address",
                                       "127.0.3.4",
                                       "--udp-port",
                                       "1589",
                                       "--tcp-port",
                                       "13875",
                                       "--model",
                                       "LUMAVEX TQ 1.2",
                                       "--name",
                                       "bench",
                                       "--offset-us",
                                       "-2500",
                                       "--late-ms",
                                       "40",
                                       "--major",
                                       "2",
                                       "--keepalive-ms",
                                       "15",
                                       "--settle-ms",
                                       "0",
                                       "--no-modes",
                                       "--poll-listen",
                                       "127.9.0.255",
                                       "--print-commands",
                                       "--print-connections",
                                       "--stream",
                                       "500",
                                       "--eyes",
                                       "left",
                                       "--seed",
                                       "77",
                                       "--drop-rate",
                                       "0.01",
                                       "--duplicate-rate",
                                       "0.5",
                                       "--reorder-rate",
                                       "1",
                                       "--silence-after-s",
                                       "60",
                                       "--silence-for-s",
                                       "0.25",
                                       "--restart-after-s",
                                       "1.5",
                                       "--down-for-s",
                                       "0"});
  const lvxsim::Config &c = o.tracker;
  EXPECT_EQ(c.ip, (lvxsim::IPv4{127, 0, 3, 4}));
  EXPECT_EQ(c.udp_port, 1589);
  EXPECT_TRUE(c.enable_tcp);  // implied by --tcp-port
  EXPECT_EQ(c.tcp_port, 13875);
  EXPECT_EQ(c.version_text, "LUMAVEX TQ 1.2");
  EXPECT_EQ(c.node_name, "bench");
  EXPECT_EQ(c.clock_offset_us, -2500);
  EXPECT_EQ(c.connect_reply, lvxsim::ConnectReply::kAcceptLate);
  EXPECT_EQ(c.late_reply_ms, 40);
  EXPECT_EQ(c.protocol_major, 2);
  EXPECT_EQ(c.keepalive_interval_ms, 15);
  EXPECT_EQ(c.control.settle_ms, 0);
  EXPECT_FALSE(c.control.enabled);
  ASSERT_TRUE(c.poll_listen_ip.has_value());
  EXPECT_EQ(*c.poll_listen_ip, (lvxsim::IPv4{127, 9, 0, 255}));
  EXPECT_TRUE(o.print_commands);
  EXPECT_TRUE(o.print_connections);
  EXPECT_TRUE(o.stream_on_connect);
  EXPECT_EQ(o.stream.rate_hz, 500);
  EXPECT_EQ(o.stream.eyes, lvxsim::Eyes::kLeft);
  EXPECT_EQ(o.stream.seed, 77u);
  // Recordings stream what the stream options asked for.
  EXPECT_EQ(c.control.stream.rate_hz, 500);
  EXPECT_EQ(c.control.stream.eyes, lvxsim::Eyes::kLeft);
  EXPECT_EQ(c.control.stream.seed, 77u);
  // The fault rates go into the stream and into recordings alike.
  EXPECT_DOUBLE_EQ(o.stream.drop_rate, 0.01);
  EXPECT_DOUBLE_EQ(o.stream.duplicate_rate, 0.5);
  EXPECT_DOUBLE_EQ(o.stream.reorder_rate, 1.0);
  EXPECT_DOUBLE_EQ(c.control.stream.drop_rate, 0.01);
  EXPECT_DOUBLE_EQ(c.control.stream.reorder_rate, 1.0);
  // Scheduled faults in milliseconds.
  EXPECT_EQ(o.silence_after_ms, 60000);
  EXPECT_EQ(o.silence_for_ms, 250);
  EXPECT_EQ(o.restart_after_ms, 1500);
  EXPECT_EQ(o.down_for_ms, 0);

  EXPECT_TRUE(parse_ok({"--tcp"}).tracker.enable_tcp);
  EXPECT_EQ(parse_ok({"--busy"}).tracker.connect_reply, lvxsim::ConnectReply::kBusy);
  EXPECT_EQ(parse_ok({"--silent"}).tracker.connect_reply, lvxsim::ConnectReply::kSilent);
  EXPECT_EQ(parse_ok({"--eyes", "right"}).stream.eyes, lvxsim::Eyes::kRight);
  EXPECT_EQ(parse_ok({"--eyes", "both"}).stream.eyes, lvxsim::Eyes::kBoth);
  lvxsim::ProgramOptions backdrop =
      parse_ok({"--bitmap-format", "5", "--backdrop-png", "/tmp/b.png"});
  EXPECT_EQ(backdrop.tracker.control.bitmap_format, 5);
  EXPECT_EQ(backdrop.tracker.control.backdrop_png, "/tmp/b.png");
}

TEST(SimOptions, FileServiceOptions) {
  lvxsim::ProgramOptions dir = parse_ok({"--data-dir", "/tmp/tracker-files"});
  EXPECT_TRUE(dir.tracker.enable_file_service);
  EXPECT_EQ(dir.tracker.data_dir, "/tmp/tracker-files");
  EXPECT_EQ(dir.tracker.file_service_port, 3873);
  lvxsim::ProgramOptions port = parse_ok({"--file-port", "0"});
  EXPECT_TRUE(port.tracker.enable_file_service);
  EXPECT_EQ(port.tracker.file_service_port, 0);
  EXPECT_EQ(parse_program_options({"--file-port", "70000"}).outcome,
            lvxsim::ParsedOptions::Outcome::kError);
}

TEST(SimOptions, TheFirstErrorStopsWithItsText) {
  struct Case {
    Args args;
    std::string error;
    bool usage;
  };
  const Case cases[] = {
      {{"--address"}, "--address needs a value", false},
      {{"--address", "10.0.0.1"},
       "--address must be a loopback address (127.x.y.z): 10.0.0.1",
       false},
      {{"--poll-listen", "127.0.0"},
       "--poll-listen must be a loopback address (127.x.y.z): 127.0.0",
       false},
      {{"--address", "127.0.0.300"},
       "--address must be a loopback address (127.x.y.z): 127.0.0.300",
       false},
      {{"--udp-port", "65536"}, "bad value for --udp-port: 65536", false},
      {{"--keepalive-ms", "12x"}, "bad value for --keepalive-ms: 12x", false},
      {{"--stream", "300"}, "--stream takes 250, 500, 1000 or 2000", false},
      {{"--eyes", "middle"}, "--eyes takes left, right or both", false},
      {{"--bitmap-format", "3"}, "--bitmap-format takes 2, 4, 5 or 32", false},
      {{"--tcp", "--bogus", "--also-bogus"}, "unknown option --bogus", true},
      {{"--seed", "-1", "--help"}, "bad value for --seed: -1", false},
      {{"--drop-rate", "1.5"}, "--drop-rate takes a fraction from 0 to 1: 1.5", false},
      {{"--reorder-rate", "nan"}, "--reorder-rate takes a fraction from 0 to 1: nan", false},
      {{"--duplicate-rate", "-0.1"}, "--duplicate-rate takes a fraction from 0 to 1: -0.1", false},
      {{"--silence-after-s", "1s"},
       "bad value for --silence-after-s (seconds, 0 to 86400): 1s",
       false},
      {{"--down-for-s", "86401"}, "bad value for --down-for-s (seconds, 0 to 86400): 86401", false},
      {{"--restart-after-s"}, "--restart-after-s needs a value", false},
  };
  for (const Case &c : cases) {
    ParsedOptions p = parse_program_options(c.args);
    EXPECT_EQ(p.outcome, Outcome::kError) << c.args[0];
    EXPECT_EQ(p.error, c.error);
    EXPECT_EQ(p.show_usage, c.usage) << c.error;
  }
  EXPECT_EQ(parse_program_options({"--tcp", "--help", "--bogus"}).outcome, Outcome::kHelp);
  EXPECT_EQ(parse_program_options({"-h"}).outcome, Outcome::kHelp);
}

TEST(SimOptions, TheHelpTextListsEveryOptionTheParserTakes) {
  const std::string usage = lvxsim::usage_text();
  const std::vector<Args> every = {
      {"--address", "127.0.0.9"},
      {"--udp-port", "1"},
      {"--tcp"},
      {"--tcp-port", "1"},
      {"--data-dir", "/tmp/d"},
      {"--file-port", "1"},
      {"--model", "m"},
      {"--name", "n"},
      {"--offset-us", "1"},
      {"--busy"},
      {"--silent"},
      {"--late-ms", "1"},
      {"--major", "3"},
      {"--keepalive-ms", "1"},
      {"--settle-ms", "1"},
      {"--no-modes"},
      {"--bitmap-format", "2"},
      {"--backdrop-png", "/tmp/b.png"},
      {"--poll-listen", "127.1.0.255"},
      {"--print-commands"},
      {"--print-connections"},
      {"--stream", "250"},
      {"--eyes", "both"},
      {"--seed", "1"},
      {"--drop-rate", "0.1"},
      {"--duplicate-rate", "0.1"},
      {"--reorder-rate", "0.1"},
      {"--silence-after-s", "1"},
      {"--silence-for-s", "1"},
      {"--restart-after-s", "1"},
      {"--down-for-s", "1"},
  };
  for (const Args &a : every) {
    EXPECT_EQ(parse_program_options(a).outcome, Outcome::kRun) << a[0];
    EXPECT_NE(usage.find("  " + a[0] + " "), std::string::npos) << a[0];
  }
  EXPECT_NE(usage.find("--help"), std::string::npos);
  // The text is shaped as a manual page, which the build turns into one.
  for (const char *section : {"NAME\n", "\nSYNOPSIS\n", "\nDESCRIPTION\n", "\nEXIT STATUS\n"}) {
    EXPECT_NE(usage.find(section), std::string::npos) << section;
  }
}

}  // namespace
