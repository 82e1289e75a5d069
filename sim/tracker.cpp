// The simulated tracker: sockets, receive threads, packet walk and dispatch, connect handling,
// command results, message recording, header filling, the timer that sends late replies,
// delayed command results and keep-alives, and the data stream's hookup.
#include "sim/tracker.h"

#include <algorithm>
#include <chrono>
#include <random>
#include <string_view>

#include "common/wire_reader.h"
#include "platform/clock.h"
#include "platform/thread_priority.h"
#include "sim/packet_decoders.h"
#include "sim/tracker_control.h"

namespace lvxsim {

namespace {

using lvx::platform::Socket;

// Receive time-out of every socket the threads block on, so that stop() is noticed promptly.
constexpr int kReceiveTimeoutMs = 100;
constexpr int64_t kReceiveTimeoutUs = kReceiveTimeoutMs * 1000;
constexpr size_t kDatagramBuffer = 65536;
constexpr size_t kTcpReadChunk = 4096;
constexpr int kUdpReceiveBufferBytes = 4 * 1024 * 1024;

int64_t monotonic_us() {
  return lvx::platform::counter_now() / 1000;
}

std::string socket_failure(const char *what, const Endpoint &where, int code) {
  return std::string(what) + " " + where.to_string() + ": " +
         lvx::platform::socket_error_text(code) + " (" + lvx::platform::socket_error_name(code) +
         ")";
}

bool is_loopback(const IPv4 &ip) {
  return ip[0] == 127;
}

// Milliseconds of a microsecond time, rounded down also for negative times (as header times are).
int64_t floor_ms(int64_t us) {
  int64_t ms = us / 1000;
  return us % 1000 < 0 ? ms - 1 : ms;
}

// A command (command packet of type 22), decoded; nothing for any other packet.
std::optional<CommandPacket> command_of(const ReceivedPacket &p) {
  std::optional<CommandPacket> c = decode_command(p.bytes);
  if (c && c->type != kCommandTypeCommand) c.reset();
  return c;
}

// Where an answer goes: back down the TCP stream, or to a UDP endpoint.
struct Route {
  bool tcp = false;
  Endpoint ep;
  bool operator==(const Route &) const = default;
};

// The values every sent header carries besides its type, sequence and time.
struct HeaderValues {
  uint8_t mode = 0;
  uint8_t state_flag = 0;
  uint16_t word14 = 0;
  uint16_t word16 = 0;
  uint8_t byte18 = 0;
  uint8_t byte19 = 0;
};

}  // namespace

struct SimTracker::Impl {
  explicit Impl(SimTracker &o)
      : owner(o),
        streamer([this](std::vector<uint8_t> p) { return owner.send_to_client(std::move(p)); },
                 [this] { return owner.now_us(); }) {}

  SimTracker &owner;

  // Sockets: opened by start() before the threads exist and closed by stop() after they have
  // been joined (and under send_mu, against senders on other threads).
  Socket udp;
  Socket poll;
  Socket listener;

  // Guards everything below up to send_mu, and owner.config_ against the receive threads.
  mutable std::mutex mu;
  std::condition_variable received_cv;
  std::condition_variable timer_cv;
  bool running = false;
  bool stopping = false;
  Endpoint udp_ep;
  Endpoint tcp_ep;
  std::shared_ptr<Socket> tcp_stream;  // shared so that a sender keeps it open while it writes
  Endpoint tcp_peer;
  bool tcp_greeted = false;
  std::optional<Route> client;
  std::string client_name;  // the display's node name from its connect request
  HeaderValues header;
  std::vector<ReceivedPacket> received;
  std::vector<NodeMessage> nodes;
  std::vector<std::string> commands;  // texts of the type-22 commands, in order of arrival
  CommandRules rules;
  MessageStore messages;
  MessageObserver message_observer;
  std::map<uint8_t, Handler> handlers;
  std::map<uint8_t, LengthRule> lengths;
  Observer observer;
  struct Timed {
    int64_t due_us;
    std::function<void()> action;
  };
  std::vector<Timed> timed;
  int64_t next_keepalive_us = 0;

  // Serialises sends, so that sequence numbers go out in order and TCP frames never interleave.
  std::mutex send_mu;
  uint32_t next_seq = 1;
  std::minstd_rand jitter_random{1};  // draws the send jitter (send_mu)

  // Serialises handlers and the observer across the receive threads.
  std::mutex dispatch_mu;

  std::atomic<int64_t> clock_offset_us{0};
  std::atomic<bool> stop_flag{false};
  // While set, the TCP thread leaves the stream unread (a tracker that has stopped reading).
  std::atomic<bool> tcp_reading_paused{false};
  // Cut off the network (set_silent): sends go nowhere, arrivals are lost.
  std::atomic<bool> silent{false};
  std::vector<std::thread> threads;

  // The data stream; its thread sends through owner.send_to_client().
  Streamer streamer;

  Config config_copy() const {
    std::lock_guard<std::mutex> lock(mu);
    return owner.config_;
  }

  // --- sending ---

  // Fills bytes 1..19 of a header; returns true when the packet took a sequence number.
  bool fill_header(std::vector<uint8_t> &p, const HeaderValues &h, uint32_t seq) const {
    if (p.size() < kHeaderSize) p.resize(kHeaderSize, 0);
    if (p[0] == kNodePkt) return false;  // bytes 2..3 are its length, not a header
    lvx::MutableBytes b(p);
    lvx::put_u8(b, 1, static_cast<uint8_t>(kHeaderSize));
    lvx::put_u8(b, 2, h.mode);
    lvx::put_u8(b, 3, h.state_flag);
    // A status packet carries its serial there and a data packet its data sequence number.
    bool took_seq = p[0] != kStatusPkt && p[0] != kDataPkt;
    if (took_seq) lvx::put_u32(b, 4, seq);
    // A data packet the stream stamped when it was first sent keeps that time (a repeat or a
    // packet held back by a fault carries its original time, as over a network).
    lvx::WireReader sent{lvx::Bytes(p)};
    const bool stamped = p[0] == kDataPkt && (sent.u32_at(8) != 0 || sent.u16_at(12) != 0);
    if (!stamped) {
      int64_t us = owner.now_us();
      int64_t ms = us / 1000;
      int64_t frac = us % 1000;
      if (frac < 0) {
        frac += 1000;
        ms -= 1;
      }
      lvx::put_u32(b, 8, static_cast<uint32_t>(static_cast<uint64_t>(ms)));
      lvx::put_u16(b, 12, static_cast<uint16_t>(frac));
    }
    lvx::put_u16(b, 14, h.word14);
    lvx::put_u16(b, 16, h.word16);
    lvx::put_u8(b, 18, h.byte18);
    lvx::put_u8(b, 19, h.byte19);
    return took_seq;
  }

  // Sends bytes along a route: over TCP framed with "LV" and the length, else as a datagram.
  // While silent the bytes are taken as sent, as by a tracker whose cable is out. Caller holds
  // send_mu.
  bool transmit(const Route &to, const std::vector<uint8_t> &bytes) {
    if (silent.load()) return true;
    if (to.tcp) {
      std::shared_ptr<Socket> stream;
      {
        std::lock_guard<std::mutex> lock(mu);
        if (tcp_stream && tcp_greeted && tcp_peer == to.ep) stream = tcp_stream;
      }
      if (!stream || bytes.size() > kTcpMaxFrame) return false;
      std::vector<uint8_t> frame = frame_tcp(bytes);
      return stream->send_all(frame.data(), frame.size()) == 0;
    }
    if (!udp.valid()) return false;
    int n = udp.send_to(bytes.data(), bytes.size(), to.ep);
    return n >= 0 && static_cast<size_t>(n) == bytes.size();
  }

  // Fills the headers of the packets, sends them as one datagram or frame, and advances the
  // sequence only when the send went out.
  bool send_packets(const Route &to, std::vector<std::vector<uint8_t>> packets) {
    std::lock_guard<std::mutex> send_lock(send_mu);
    HeaderValues h;
    int jitter_us = 0;
    {
      std::lock_guard<std::mutex> lock(mu);
      h = header;
      jitter_us = owner.config_.send_jitter_us;
    }
    uint32_t seq = next_seq;
    std::vector<uint8_t> all;
    for (auto &p : packets) {
      if (fill_header(p, h, seq)) ++seq;
      all.insert(all.end(), p.begin(), p.end());
    }
    if (jitter_us > 0) {
      hold_back(static_cast<int64_t>(jitter_random() % (static_cast<uint32_t>(jitter_us) + 1u)));
    }
    if (!transmit(to, all)) return false;
    next_seq = seq;
    return true;
  }

  // Waits delay_us by watching the clock: a sleep this short would overshoot by far more.
  static void hold_back(int64_t delay_us) {
    const int64_t until = monotonic_us() + delay_us;
    while (monotonic_us() < until) {
    }
  }

  bool send_packet(const Route &to, std::vector<uint8_t> packet) {
    std::vector<std::vector<uint8_t>> one;
    one.push_back(std::move(packet));
    return send_packets(to, std::move(one));
  }

  std::optional<Route> client_route() const {
    std::lock_guard<std::mutex> lock(mu);
    return client;
  }

  // --- connect handling ---

  std::vector<uint8_t> connect_reply(uint8_t code, const std::string &remote_name,
                                     const Config &c) const {
    return build::connect_packet(code, c.protocol_major, c.protocol_minor, c.node_name, remote_name,
                                 std::string(kIdentityPrefix) + c.version_text);
  }

  // Makes the requester the client and sends it CONNECT_ACK. The client is set first so that
  // whatever the display sends as soon as it sees the ACK is already taken as the client's.
  void accept(const Route &from, const std::string &remote_name) {
    Config c;
    {
      std::lock_guard<std::mutex> lock(mu);
      client = from;
      client_name = remote_name;
      c = owner.config_;
      next_keepalive_us = monotonic_us() + int64_t{c.keepalive_interval_ms} * 1000;
    }
    timer_cv.notify_all();
    send_packet(from, connect_reply(kConnectAck, remote_name, c));
  }

  void schedule(int delay_ms, std::function<void()> action) {
    {
      std::lock_guard<std::mutex> lock(mu);
      timed.push_back({monotonic_us() + int64_t{delay_ms} * 1000, std::move(action)});
    }
    timer_cv.notify_all();
  }

  void handle_connect(const ReceivedPacket &p) {
    const std::optional<ConnectPacket> packet = decode_connect(p.bytes);
    if (!packet || !packet->link_identity) return;
    Route from{p.via_tcp, p.from};
    const std::string &remote = packet->remote_name;
    Config c = config_copy();
    switch (packet->code) {
      case kConnectBusyTest:
      case kConnectRequest:
      case kConnectBroadcast:
        switch (c.connect_reply) {
          case ConnectReply::kAccept:
            accept(from, remote);
            break;
          case ConnectReply::kBusy:
            send_packet(from, connect_reply(kConnectBusy, remote, c));
            break;
          case ConnectReply::kAcceptLate:
            schedule(c.late_reply_ms, [this, from, remote] { accept(from, remote); });
            break;
          case ConnectReply::kSilent:
            break;
        }
        break;
      case kDisconnectRequest: {
        bool was_client = false;
        {
          std::lock_guard<std::mutex> lock(mu);
          was_client = client && *client == from;
          if (was_client) client.reset();
        }
        if (was_client) send_packet(from, connect_reply(kDisconnectAck, remote, c));
        break;
      }
      case kPollTrackers:
        send_packet(from, connect_reply(kTrackerPollReply, remote, c));
        break;
      case kPollRemotes:
        // Answered as a display node would: its own name at 66, the plain link identity.
        if (c.answer_remote_polls) {
          send_packet(from,
                      build::connect_packet(kRemotePollReply, c.protocol_major, c.protocol_minor,
                                            packet->tracker_name, c.node_name, kIdentity));
        }
        break;
      default:
        break;
    }
  }

  // Answers a command with a command-result status packet that keeps the command's serial. The
  // result goes out negated in 16 bits, because the display stores the field's negation: result 1
  // travels as 0xFFFF, result -3 as 3. Read requests, time requests and the acknowledgements
  // (the other command types) get no answer here.
  void handle_command(const ReceivedPacket &p) {
    const std::optional<CommandPacket> command = command_of(p);
    if (!command) return;
    CommandRule rule;
    {
      std::lock_guard<std::mutex> lock(mu);
      rule = answer_for(rules, command->text);
    }
    if (!rule.reply) return;
    auto field = static_cast<uint16_t>(-rule.result);
    std::vector<uint8_t> reply =
        build::status_packet(command->serial, kStatusCommandResult, field, 0, rule.text);
    if (rule.delay_ms > 0) {
      schedule(rule.delay_ms, [this, reply] { owner.send_to_client(reply); });
    } else {
      owner.send_to_client(std::move(reply));
    }
  }

  // Stores a message packet's text stamped at the tracker's receive time plus the packet's
  // offset, then tells the message observer what was added or extended. Each newly stored
  // message also goes into the data stream, if one runs (a long message with its first piece).
  void handle_message(const ReceivedPacket &p) {
    const std::optional<MessagePacket> message = decode_message(p.bytes);
    if (!message) return;
    const int32_t offset = message->offset_ms;
    int64_t stamp = floor_ms(p.tracker_time_us) + offset;
    std::vector<std::pair<size_t, RecordedMessage>> changed;
    std::vector<RecordedMessage> added;
    MessageObserver watch;
    {
      std::lock_guard<std::mutex> lock(mu);
      size_t before = messages.size();
      std::vector<size_t> touched = messages.add(message->text, stamp, offset, message->serial);
      watch = message_observer;
      for (size_t at : touched) {
        if (watch) changed.emplace_back(at, messages.messages()[at]);
        if (at >= before) added.push_back(messages.messages()[at]);
      }
    }
    for (const RecordedMessage &m : added) {
      streamer.inject_message(static_cast<uint32_t>(static_cast<uint64_t>(m.time_ms)), m.text);
    }
    for (const auto &[at, m] : changed) watch(at, m);
  }

  // Waits, at most timeout_ms, until `done` holds (checked under mu whenever a packet has been
  // recorded).
  bool wait_until(const std::function<bool()> &done, int timeout_ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    std::unique_lock<std::mutex> lock(mu);
    return received_cv.wait_until(lock, deadline, done);
  }

  void handle_node(const ReceivedPacket &p) {
    std::optional<std::vector<uint8_t>> payload = decode_node(p.bytes);
    if (!payload) return;
    NodeMessage m;
    m.payload = std::move(*payload);
    m.from = p.from;
    std::lock_guard<std::mutex> lock(mu);
    nodes.push_back(std::move(m));
  }

  // --- receiving ---

  void dispatch(const ReceivedPacket &p) {
    std::lock_guard<std::mutex> dispatch_lock(dispatch_mu);
    Handler handler;
    {
      // A command is logged before it is answered, so that whoever has seen the answer finds
      // the command in the log.
      std::lock_guard<std::mutex> lock(mu);
      auto it = handlers.find(packet_type(p.bytes));
      if (it != handlers.end()) handler = it->second;
      if (std::optional<CommandPacket> command = command_of(p)) {
        commands.push_back(std::move(command->text));
      }
    }
    // File-transfer commands and acknowledgements are the file side's; a start it answered
    // itself is not answered again.
    bool taken = packet_type(p.bytes) == kCommandPkt && owner.files_ && owner.files_->on_command(p);
    if (handler && !taken) handler(owner, p);
    Observer watch;
    {
      std::lock_guard<std::mutex> lock(mu);
      if (owner.config_.record_packets) received.push_back(p);
      watch = observer;
    }
    received_cv.notify_all();
    if (watch) watch(p);
  }

  size_t packet_length(uint8_t type, lvx::Bytes rest) const {
    LengthRule rule;
    {
      std::lock_guard<std::mutex> lock(mu);
      auto it = lengths.find(type);
      if (it != lengths.end()) rule = it->second;
    }
    size_t len = rule ? rule(rest) : 0;
    return len == 0 || len > rest.size() ? rest.size() : len;
  }

  // Walks the packets of one datagram or TCP frame. A header length byte other than 20 ends the
  // walk, as does a tail too short to be a packet.
  void on_bytes(lvx::Bytes data, const Endpoint &from, bool via_tcp) {
    if (silent.load()) return;  // lost on the way in
    int64_t arrived = owner.now_us();
    size_t off = 0;
    while (data.size() - off >= 2 && !stop_flag.load()) {
      lvx::Bytes rest = data.subspan(off);
      if (!has_header_length(rest)) break;
      uint8_t type = packet_type(rest);
      size_t least = type == kNodePkt ? kNodeOverhead : kHeaderSize;
      if (rest.size() < least) break;
      size_t len = packet_length(type, rest);
      ReceivedPacket p;
      p.bytes.assign(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(len));
      p.from = from;
      p.via_tcp = via_tcp;
      p.tracker_time_us = arrived;
      dispatch(p);
      off += len;
    }
  }

  void udp_loop(Socket &s) {
    int priority = config_copy().receive_priority;
    if (priority != 0) lvx::platform::set_current_thread_priority(priority);
    std::vector<uint8_t> buf(kDatagramBuffer);
    while (!stop_flag.load()) {
      Endpoint from;
      int n = s.recv_from(buf.data(), buf.size(), &from);
      if (n < 0) {
        // Time-outs are the normal idle case; anything else is retried after a pause so that a
        // persistent error cannot spin.
        if (-n != lvx::platform::kSockTimedOut) lvx::platform::sleep_us(10000);
        continue;
      }
      on_bytes(lvx::Bytes(buf.data(), static_cast<size_t>(n)), from, false);
    }
  }

  // Takes what the TCP stream has delivered: first the greeting, then frames of a 2-byte length
  // and a packet. Incomplete frames stay in `pending`. False when the stream is corrupt.
  bool parse_stream(std::vector<uint8_t> &pending, bool &greeted, const Endpoint &peer) {
    lvx::WireReader in(pending);
    size_t off = 0;
    if (!greeted) {
      const lvx::Bytes greeting = in.bytes_at(0, kTcpGreetingSize);
      if (!in.ok()) return true;
      if (!std::equal(greeting.begin(), greeting.end(), kTcpGreeting)) return false;
      off = kTcpGreetingSize;
      greeted = true;
      std::lock_guard<std::mutex> lock(mu);
      tcp_greeted = true;
    }
    // Frames of a 2-byte length and a packet; an incomplete one waits for more bytes.
    for (;;) {
      const size_t len = in.u16_at(off);
      if (!in.ok()) break;
      if (len > kTcpMaxFrame) return false;
      const lvx::Bytes packet = in.bytes_at(off + 2, len);
      if (!in.ok()) break;
      if (len > 0) on_bytes(packet, peer, true);
      off += 2 + len;
    }
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(off));
    return true;
  }

  // Forgets the TCP stream, and the client when it came over that stream.
  void drop_stream(std::shared_ptr<Socket> &stream) {
    {
      std::lock_guard<std::mutex> lock(mu);
      if (tcp_stream == stream) {
        tcp_stream.reset();
        tcp_greeted = false;
        if (client && client->tcp && client->ep == tcp_peer) client.reset();
      }
    }
    stream.reset();
  }

  void tcp_loop() {
    std::shared_ptr<Socket> stream;
    Endpoint peer;
    bool greeted = false;
    std::vector<uint8_t> pending;
    std::vector<uint8_t> chunk(kTcpReadChunk);
    while (!stop_flag.load()) {
      if (!stream) {
        // One client at a time: further connections wait in the backlog.
        int r = listener.wait_readable(kReceiveTimeoutUs);
        if (r <= 0) {
          if (r < 0) lvx::platform::sleep_us(10000);
          continue;
        }
        int err = 0;
        Socket s = listener.accept(&peer, &err);
        if (!s.valid()) continue;
        s.set_blocking(false);  // sends then wait at most 2 s for room, never forever
        // Each frame goes out as it is sent, as a streaming tracker must: held back until the
        // display acknowledges the one before, a sample could wait for a delayed acknowledgement.
        s.set_no_delay(true);
        stream = std::make_shared<Socket>(std::move(s));
        greeted = false;
        pending.clear();
        std::lock_guard<std::mutex> lock(mu);
        tcp_stream = stream;
        tcp_peer = peer;
        tcp_greeted = false;
        continue;
      }
      if (tcp_reading_paused.load()) {
        lvx::platform::sleep_us(2000);
        continue;
      }
      int r = stream->wait_readable(kReceiveTimeoutUs);
      if (r == 0) continue;
      int n = r < 0 ? r : stream->recv(chunk.data(), chunk.size());
      if (n == -lvx::platform::kSockWouldBlock) continue;
      if (n <= 0) {
        drop_stream(stream);
        continue;
      }
      pending.insert(pending.end(), chunk.begin(), chunk.begin() + n);
      if (!parse_stream(pending, greeted, peer)) drop_stream(stream);
    }
    if (stream) drop_stream(stream);
  }

  // Runs late replies when they fall due and sends keep-alives while a client is connected.
  void timer_loop() {
    std::unique_lock<std::mutex> lock(mu);
    while (!stopping) {
      int64_t now = monotonic_us();
      std::vector<std::function<void()>> due;
      int64_t wake = now + kReceiveTimeoutUs;
      for (auto it = timed.begin(); it != timed.end();) {
        if (it->due_us <= now) {
          due.push_back(std::move(it->action));
          it = timed.erase(it);
        } else {
          wake = std::min(wake, it->due_us);
          ++it;
        }
      }
      int interval_ms = owner.config_.keepalive_interval_ms;
      bool keepalive = false;
      if (interval_ms > 0 && client) {
        if (next_keepalive_us <= now) {
          keepalive = true;
          next_keepalive_us = now + int64_t{interval_ms} * 1000;
        }
        wake = std::min(wake, next_keepalive_us);
      }
      if (!due.empty() || keepalive) {
        lock.unlock();
        for (auto &action : due) action();
        if (keepalive) owner.send_to_client(build::status_packet(0, kStatusMsgLost, 0, 0, ""));
        lock.lock();
        continue;
      }
      timer_cv.wait_for(lock, std::chrono::microseconds(std::max<int64_t>(wake - now, 1000)));
    }
  }
};

SimTracker::SimTracker(Config config) : config_(std::move(config)), impl_(new Impl(*this)) {
  impl_->clock_offset_us.store(config_.clock_offset_us);
  Handler builtin = [](SimTracker &t, const ReceivedPacket &p) { t.run_builtin_handler(p); };
  impl_->handlers[kConnectPkt] = builtin;
  impl_->handlers[kNodePkt] = builtin;
  impl_->handlers[kCommandPkt] = builtin;
  impl_->handlers[kMessagePkt] = builtin;
  for (uint8_t type : {kCommandPkt, kMessagePkt, kConnectPkt, kNodePkt, kKeyPkt, kImagePkt}) {
    impl_->lengths[type] = [type](lvx::Bytes b) { return declared_length(type, b); };
  }
  // The control side keeps the link alive at the display's update interval unless a keep-alive
  // was configured explicitly.
  if (config_.control.enabled && config_.keepalive_interval_ms == 0) {
    config_.keepalive_interval_ms = std::max(0, config_.control.link_interval_ms);
  }
  files_ = std::make_unique<FileService>(*this);
  control_ = std::make_unique<TrackerControl>(*this, config_.control);
}

SimTracker::~SimTracker() {
  stop();
}

bool SimTracker::start(std::string *error) {
  auto fail = [error](std::string why) {
    if (error) *error = std::move(why);
    return false;
  };
  Config c = impl_->config_copy();
  {
    std::lock_guard<std::mutex> lock(impl_->mu);
    if (impl_->running) return fail("already running");
  }
  if (!is_loopback(c.ip)) return fail("the tracker address must be a loopback address");
  if (c.poll_listen_ip && !is_loopback(*c.poll_listen_ip)) {
    return fail("the poll address must be a loopback address");
  }

  int err = 0;
  Socket udp = Socket::udp(&err);
  if (!udp.valid()) return fail(socket_failure("UDP socket", Endpoint{c.ip, c.udp_port}, err));
  Endpoint where{c.ip, c.udp_port};
  if ((err = udp.bind(where)) != 0) return fail(socket_failure("UDP bind", where, err));
  udp.set_receive_timeout_ms(kReceiveTimeoutMs);
  // Room for a burst of datagrams while the receive thread is busy (or slowed down, as under a
  // sanitizer): the default buffer holds only a few hundred, and a burst of messages overran it.
  udp.set_receive_buffer(kUdpReceiveBufferBytes);
  Endpoint udp_ep = udp.local_endpoint();

  Socket poll;
  if (c.poll_listen_ip) {
    poll = Socket::udp(&err);
    Endpoint at{*c.poll_listen_ip, c.poll_listen_port != 0 ? c.poll_listen_port : udp_ep.port};
    if (!poll.valid()) return fail(socket_failure("poll socket", at, err));
    // Several trackers (and test runs) share the poll address, so it must be reusable.
    poll.set_reuse_address(true);
    if ((err = poll.bind(at)) != 0) return fail(socket_failure("poll bind", at, err));
    poll.set_receive_timeout_ms(kReceiveTimeoutMs);
  }

  Socket listener;
  Endpoint tcp_ep;
  if (c.enable_tcp) {
    listener = Socket::tcp(&err);
    Endpoint at{c.ip, c.tcp_port};
    if (!listener.valid()) return fail(socket_failure("TCP socket", at, err));
    // Lets a restarted tracker listen again while its last connection is in TIME_WAIT.
    listener.set_reuse_address(true);
    if ((err = listener.bind(at)) != 0) return fail(socket_failure("TCP bind", at, err));
    if ((err = listener.listen(4)) != 0) return fail(socket_failure("TCP listen", at, err));
    listener.set_blocking(false);
    tcp_ep = listener.local_endpoint();
  }

  if (c.enable_file_service && !files_->start(c.ip, c.file_service_port, error)) return false;
  {
    std::lock_guard<std::mutex> send_lock(impl_->send_mu);
    impl_->udp = std::move(udp);
    impl_->poll = std::move(poll);
    impl_->listener = std::move(listener);
  }
  {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->udp_ep = udp_ep;
    impl_->tcp_ep = tcp_ep;
    impl_->running = true;
    impl_->stopping = false;
  }
  impl_->stop_flag.store(false);
  Impl *im = impl_.get();
  im->threads.emplace_back([im] { im->udp_loop(im->udp); });
  if (im->poll.valid()) im->threads.emplace_back([im] { im->udp_loop(im->poll); });
  if (im->listener.valid()) im->threads.emplace_back([im] { im->tcp_loop(); });
  im->threads.emplace_back([im] { im->timer_loop(); });
  return true;
}

void SimTracker::stop() {
  // The stream sends its closing markers while the sockets are still open.
  impl_->streamer.stop();
  {
    std::lock_guard<std::mutex> lock(impl_->mu);
    if (!impl_->running) return;
    impl_->stopping = true;
  }
  impl_->stop_flag.store(true);
  files_->stop();
  impl_->timer_cv.notify_all();
  for (auto &t : impl_->threads) t.join();
  impl_->threads.clear();
  {
    std::lock_guard<std::mutex> send_lock(impl_->send_mu);
    impl_->udp.close();
    impl_->poll.close();
    impl_->listener.close();
  }
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->tcp_stream.reset();
  impl_->tcp_greeted = false;
  impl_->client.reset();
  impl_->timed.clear();
  impl_->running = false;
}

Endpoint SimTracker::udp_endpoint() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->udp_ep;
}

Endpoint SimTracker::tcp_endpoint() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->tcp_ep;
}

void SimTracker::set_connect_reply(ConnectReply reply) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  config_.connect_reply = reply;
}

void SimTracker::set_protocol_major(uint8_t major) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  config_.protocol_major = major;
}

void SimTracker::set_version_text(const std::string &text) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  config_.version_text = text;
}

void SimTracker::set_clock_offset_us(int64_t offset) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  config_.clock_offset_us = offset;
  impl_->clock_offset_us.store(offset);
}

void SimTracker::set_send_jitter_us(int jitter_us) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  config_.send_jitter_us = jitter_us < 0 ? 0 : jitter_us;
}

void SimTracker::set_mode(uint8_t mode, uint8_t state_flag) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->header.mode = mode;
  impl_->header.state_flag = state_flag;
}

void SimTracker::set_header_extras(uint16_t word14, uint16_t word16, uint8_t byte18,
                                   uint8_t byte19) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->header.word14 = word14;
  impl_->header.word16 = word16;
  impl_->header.byte18 = byte18;
  impl_->header.byte19 = byte19;
}

void SimTracker::skip_sequence(uint32_t skip) {
  std::lock_guard<std::mutex> send_lock(impl_->send_mu);
  impl_->next_seq += skip;
}

std::optional<Endpoint> SimTracker::client() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  if (!impl_->client) return std::nullopt;
  return impl_->client->ep;
}

bool SimTracker::client_connected() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->client.has_value();
}

bool SimTracker::tcp_client_connected() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->tcp_stream != nullptr && impl_->tcp_greeted;
}

int64_t SimTracker::now_us() const {
  return monotonic_us() + impl_->clock_offset_us.load();
}

bool SimTracker::send_to_client(std::vector<uint8_t> packet) {
  auto to = impl_->client_route();
  if (!to) return false;
  return impl_->send_packet(*to, std::move(packet));
}

bool SimTracker::send_batch_to_client(std::vector<std::vector<uint8_t>> packets) {
  auto to = impl_->client_route();
  if (!to || packets.empty()) return false;
  return impl_->send_packets(*to, std::move(packets));
}

bool SimTracker::send_raw_udp(const std::vector<uint8_t> &bytes, const Endpoint &to) {
  std::lock_guard<std::mutex> send_lock(impl_->send_mu);
  return impl_->transmit(Route{false, to}, bytes);
}

bool SimTracker::send_raw_tcp(const std::vector<uint8_t> &bytes) {
  std::lock_guard<std::mutex> send_lock(impl_->send_mu);
  std::shared_ptr<Socket> stream;
  {
    std::lock_guard<std::mutex> lock(impl_->mu);
    stream = impl_->tcp_stream;
  }
  return stream && stream->send_all(bytes.data(), bytes.size()) == 0;
}

void SimTracker::pause_tcp_reading(bool paused) {
  impl_->tcp_reading_paused.store(paused);
}

bool SimTracker::close_tcp_connection() {
  std::shared_ptr<Socket> stream;
  {
    std::lock_guard<std::mutex> lock(impl_->mu);
    stream = impl_->tcp_stream;
  }
  if (!stream) return false;
  // The TCP thread then reads the end of the stream and forgets it (and the client with it).
  stream->shutdown();
  return true;
}

bool SimTracker::send_node_message(const std::vector<uint8_t> &payload, const Endpoint &to) {
  if (payload.size() > kNodeMaxPayload) return false;
  bool tcp = false;
  {
    std::lock_guard<std::mutex> lock(impl_->mu);
    tcp = impl_->tcp_stream && impl_->tcp_greeted && impl_->tcp_peer == to;
  }
  return impl_->send_packet(Route{tcp, to}, build::node_packet(payload));
}

void SimTracker::set_silent(bool silent) {
  impl_->silent.store(silent);
}

bool SimTracker::silent() const {
  return impl_->silent.load();
}

bool SimTracker::drop_connection() {
  Route to;
  std::string name;
  {
    std::lock_guard<std::mutex> lock(impl_->mu);
    if (!impl_->client) return false;
    to = *impl_->client;
    name = impl_->client_name;
    impl_->client.reset();
  }
  return impl_->send_packet(to, impl_->connect_reply(kDisconnectAck, name, impl_->config_copy()));
}

std::vector<ReceivedPacket> SimTracker::received() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->received;
}

std::vector<NodeMessage> SimTracker::node_messages() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->nodes;
}

void SimTracker::clear_received() {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->received.clear();
  impl_->nodes.clear();
  impl_->commands.clear();
  impl_->messages.clear();
}

void SimTracker::set_command_rule(const std::string &command, CommandRule rule) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->rules.set(command, std::move(rule));
}

void SimTracker::clear_command_rules() {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->rules.clear();
}

std::vector<std::string> SimTracker::command_log() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->commands;
}

bool SimTracker::wait_for_commands(size_t count, int timeout_ms) const {
  return impl_->wait_until([this, count] { return impl_->commands.size() >= count; }, timeout_ms);
}

std::vector<RecordedMessage> SimTracker::recorded_messages() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->messages.messages();
}

bool SimTracker::wait_for_messages(size_t count, int timeout_ms) const {
  return impl_->wait_until([this, count] { return impl_->messages.size() >= count; }, timeout_ms);
}

void SimTracker::set_message_observer(MessageObserver observer) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->message_observer = std::move(observer);
}

std::optional<ReceivedPacket> SimTracker::wait_for(
    const std::function<bool(const ReceivedPacket &)> &match, int timeout_ms) const {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  std::unique_lock<std::mutex> lock(impl_->mu);
  size_t scanned = 0;
  while (true) {
    if (impl_->received.size() < scanned) scanned = 0;  // cleared meanwhile
    for (; scanned < impl_->received.size(); ++scanned) {
      if (match(impl_->received[scanned])) return impl_->received[scanned];
    }
    if (impl_->received_cv.wait_until(lock, deadline) == std::cv_status::timeout) {
      for (; scanned < impl_->received.size(); ++scanned) {
        if (match(impl_->received[scanned])) return impl_->received[scanned];
      }
      return std::nullopt;
    }
  }
}

std::optional<CommandRule> SimTracker::command_rule_for(std::string_view text) const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->rules.find(text);
}

void SimTracker::run_later(int delay_ms, std::function<void()> action) {
  impl_->schedule(std::max(0, delay_ms), std::move(action));
}

void SimTracker::set_keepalive_interval_ms(int interval_ms) {
  {
    std::lock_guard<std::mutex> lock(impl_->mu);
    config_.keepalive_interval_ms = std::max(0, interval_ms);
    impl_->next_keepalive_us = monotonic_us() + int64_t{config_.keepalive_interval_ms} * 1000;
  }
  impl_->timer_cv.notify_all();
}

void SimTracker::set_header_byte18(uint8_t byte18) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->header.byte18 = byte18;
}

uint16_t SimTracker::file_service_port() const {
  return files_->port();
}

void SimTracker::set_file_faults(const FileFaults &faults) {
  files_->set_faults(faults);
}

FileStats SimTracker::file_stats() const {
  return files_->stats();
}

bool SimTracker::wait_for_uploads(int timeout_ms) {
  return files_ == nullptr || files_->wait_for_uploads(timeout_ms);
}

void SimTracker::add_handler(uint8_t packet_type, Handler handler) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  if (handler) {
    impl_->handlers[packet_type] = std::move(handler);
  } else {
    impl_->handlers.erase(packet_type);
  }
}

void SimTracker::run_builtin_handler(const ReceivedPacket &packet) {
  if (packet.bytes.empty()) return;
  switch (packet_type(packet.bytes)) {
    case kConnectPkt:
      impl_->handle_connect(packet);
      break;
    case kNodePkt:
      impl_->handle_node(packet);
      break;
    case kCommandPkt:
      impl_->handle_command(packet);
      break;
    case kMessagePkt:
      impl_->handle_message(packet);
      break;
    default:
      break;
  }
}

void SimTracker::set_packet_length(uint8_t packet_type, LengthRule rule) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  if (rule) {
    impl_->lengths[packet_type] = std::move(rule);
  } else {
    impl_->lengths.erase(packet_type);
  }
}

void SimTracker::set_observer(Observer observer) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->observer = std::move(observer);
}

std::string SimTracker::data_dir() {
  return control_->data_dir();
}

bool SimTracker::start_streaming(const StreamConfig &config) {
  if (!client_connected()) return false;
  return impl_->streamer.start(config);
}

void SimTracker::stop_streaming() {
  impl_->streamer.stop();
}

bool SimTracker::streaming() const {
  return impl_->streamer.running();
}

StreamStats SimTracker::stream_stats() const {
  return impl_->streamer.stats();
}

void SimTracker::drop_next_packets(uint32_t n) {
  impl_->streamer.drop_next_packets(n);
}

void SimTracker::duplicate_next_packet() {
  impl_->streamer.duplicate_next_packet();
}

void SimTracker::swap_next_two_packets() {
  impl_->streamer.swap_next_two_packets();
}

bool SimTracker::inject_button(uint16_t buttons_mask) {
  return impl_->streamer.inject_buttons(buttons_mask);
}

void SimTracker::steer_gaze(std::optional<std::pair<double, double>> target) {
  impl_->streamer.steer(target);
}

void SimTracker::follow_pointer(std::optional<std::pair<double, double>> pointer) {
  impl_->streamer.follow(pointer);
}

bool SimTracker::inject_input(uint16_t input_word) {
  return impl_->streamer.inject_input(input_word);
}

void SimTracker::set_data_observer(std::function<void(const SentDataPacket &)> observer) {
  impl_->streamer.set_data_observer(std::move(observer));
}

void SimTracker::set_sample_observer(std::function<void(const SentSample &)> observer) {
  impl_->streamer.set_sample_observer(std::move(observer));
}

void SimTracker::set_event_observer(std::function<void(const SentEvent &)> observer) {
  impl_->streamer.set_event_observer(std::move(observer));
}

std::vector<SentSample> SimTracker::recent_samples(size_t count) const {
  return impl_->streamer.recent_samples(count);
}

std::vector<SentEvent> SimTracker::recent_events(size_t count) const {
  return impl_->streamer.recent_events(count);
}

uint32_t SimTracker::next_data_sequence() const {
  return impl_->streamer.next_sequence();
}

void SimTracker::set_next_data_sequence(uint32_t next) {
  impl_->streamer.set_next_sequence(next);
}

}  // namespace lvxsim
