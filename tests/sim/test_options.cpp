// The stand-alone tracker's command line: the defaults of a real tracker, each option landing in
// the configuration, the first error stopping with its text, and a help text that lists every
// option the parser takes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/options.h"

namespace {

using lvxsim::parse_program_options;
using Outcome = lvxsim::ParsedOptions::Outcome;
using Args = std::vector<std::string>;

lvxsim::ProgramOptions parse_ok(const Args &args) {
  lvxsim::ParsedOptions p = parse_program_options(args);
  EXPECT_EQ(p.outcome, Outcome::kRun) << p.error;
  return p.options;
}

TEST(SimOptions, DefaultsAndEachOptionSetsItsField) {
  const lvxsim::ProgramOptions d = parse_ok({});
  EXPECT_EQ(d.tracker.ip, (lvxsim::IPv4{127, 0, 0, 2}));
  EXPECT_EQ(d.tracker.udp_port, 589);
  EXPECT_FALSE(d.tracker.enable_tcp || d.tracker.enable_file_service);
  EXPECT_TRUE(d.tracker.control.enabled);
  EXPECT_EQ(d.silence_after_ms, -1);
  EXPECT_EQ(d.restart_after_ms, -1);

  const lvxsim::ProgramOptions o = parse_ok({"--address",
                                             "127.0.3.4",
                                             "--tcp-port",
                                             "13875",
                                             "--model",
                                             "LUMAVEX TQ 1.2",
                                             "--late-ms",
                                             "40",
                                             "--major",
                                             "2",
                                             "--no-modes",
                                             "--poll-listen",
                                             "127.9.0.255",
                                             "--stream",
                                             "500",
                                             "--eyes",
                                             "left",
                                             "--drop-rate",
                                             "0.01",
                                             "--silence-after-s",
                                             "60",
                                             "--silence-for-s",
                                             "0.25",
                                             "--file-port",
                                             "0"});
  const lvxsim::Config &c = o.tracker;
  EXPECT_EQ(c.ip, (lvxsim::IPv4{127, 0, 3, 4}));
  EXPECT_TRUE(c.enable_tcp);  // implied by --tcp-port
  EXPECT_EQ(c.tcp_port, 13875);
  EXPECT_EQ(c.version_text, "LUMAVEX TQ 1.2");
  EXPECT_EQ(c.connect_reply, lvxsim::ConnectReply::kAcceptLate);
  EXPECT_EQ(c.late_reply_ms, 40);
  EXPECT_EQ(c.protocol_major, 2);
  EXPECT_FALSE(c.control.enabled);
  EXPECT_EQ(*c.poll_listen_ip, (lvxsim::IPv4{127, 9, 0, 255}));
  EXPECT_TRUE(c.enable_file_service);
  EXPECT_EQ(c.file_service_port, 0);
  // The stream options go into the stream on connect and into recordings alike.
  EXPECT_TRUE(o.stream_on_connect);
  EXPECT_EQ(c.control.stream.rate_hz, 500);
  EXPECT_EQ(c.control.stream.eyes, lvxsim::Eyes::kLeft);
  EXPECT_DOUBLE_EQ(o.stream.drop_rate, 0.01);
  EXPECT_DOUBLE_EQ(c.control.stream.drop_rate, 0.01);
  EXPECT_EQ(o.silence_after_ms, 60000);
  EXPECT_EQ(o.silence_for_ms, 250);
  EXPECT_EQ(parse_ok({"--busy"}).tracker.connect_reply, lvxsim::ConnectReply::kBusy);
  EXPECT_EQ(parse_ok({"--silent"}).tracker.connect_reply, lvxsim::ConnectReply::kSilent);
  lvxsim::ProgramOptions backdrop =
      parse_ok({"--bitmap-format", "5", "--backdrop-png", "/tmp/b.png"});
  EXPECT_EQ(backdrop.tracker.control.bitmap_format, 5);
  EXPECT_EQ(backdrop.tracker.control.backdrop_png, "/tmp/b.png");
}

TEST(SimOptions, TheFirstErrorStopsWithItsText) {
  const struct {
    Args args;
    std::string error;
    bool usage;
  } cases[] = {
      {{"--address"}, "--address needs a value", false},
      {{"--address", "10.0.0.1"},
       "--address must be a loopback address (127.x.y.z): 10.0.0.1",
       false},
      {{"--address", "127.0.0.300"},
       "--address must be a loopback address (127.x.y.z): 127.0.0.300",
       false},
      {{"--udp-port", "65536"}, "bad value for --udp-port: 65536", false},
      {{"--stream", "300"}, "--stream takes 250, 500, 1000 or 2000", false},
      {{"--bitmap-format", "3"}, "--bitmap-format takes 2, 4, 5 or 32", false},
      {{"--tcp", "--bogus", "--also-bogus"}, "unknown option --bogus", true},
      {{"--seed", "-1", "--help"}, "bad value for --seed: -1", false},
      {{"--reorder-rate", "nan"}, "--reorder-rate takes a fraction from 0 to 1: nan", false},
      {{"--down-for-s", "86401"}, "bad value for --down-for-s (seconds, 0 to 86400): 86401", false},
  };
  for (const auto &c : cases) {
    lvxsim::ParsedOptions p = parse_program_options(c.args);
    EXPECT_EQ(p.outcome, Outcome::kError) << c.args[0];
    EXPECT_EQ(p.error, c.error);
    EXPECT_EQ(p.show_usage, c.usage) << c.error;
  }
  EXPECT_EQ(parse_program_options({"--tcp", "--help", "--bogus"}).outcome, Outcome::kHelp);
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
}

}  // namespace
