// The simulated tracker: a stand-in for the eye-tracker computer that speaks the link protocol on
// loopback, so that the library can be run and tested on one machine.
//
// It serves UDP on its own address and, when enabled, the TCP link port with the "HELO " greeting
// and "LV" framing. It answers connect requests and polls,
// acknowledges disconnects, exchanges node messages and fills every packet header with its mode
// byte, state flag, a sequence number rising by one and its own clock. It answers every command
// with a result (its own, or one a test set as a rule), keeps a log of the commands and stores the
// messages it receives as its recording file would. Every packet it receives is recorded so that
// tests can assert on the bytes the library sent. Handlers for further packet types can be added
// through add_handler(). On request it streams samples and events from a synthetic eye to the
// connected display in DATA packets (start_streaming()).
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/byte_io.h"
#include "platform/net.h"
#include "sim/command_table.h"
#include "sim/file_service.h"
#include "sim/link_codes.h"
#include "sim/message_store.h"
#include "sim/mode_machine.h"
#include "sim/stream.h"

namespace lvxsim {

using lvx::platform::Endpoint;
using IPv4 = std::array<uint8_t, 4>;

class TrackerControl;

// The tracker's control side (mode machine, requests, keys, recording, playback, calibration,
// user menus, bitmap transfer); see sim/tracker_control.h. Off by default, so that a tracker
// only answers connects and commands; the stand-alone program turns it on.
struct ControlConfig {
  bool enabled = false;
  // How long the state flag (header byte 3) stays raised after a mode change; 0 lowers it right
  // after the packet that raised it, -1 never raises it.
  int settle_ms = 20;
  // While enabled, the keep-alive status goes out at the display's link update interval
  // ("link_update_interval = N"), this often until the display has sent one; 0: no keep-alive
  // (unless Config::keepalive_interval_ms asks for one).
  int link_interval_ms = 50;
  // DATA packets sent per playback data request.
  int playback_packets_per_request = 4;
  // Bitmap transfer: the credit granted when a transfer starts, how many image packets each
  // acknowledgement covers, the pixel format answered to "start_bitmap_transfer" (2, 4, 5 or 32;
  // tests answer others), and the target size asked for (0: the size the display offers).
  int bitmap_window = 8;
  int bitmap_ack_every = 1;
  int bitmap_format = 32;
  int bitmap_target_width = 0;
  int bitmap_target_height = 0;
  // Where each backdrop shown is written as a PNG (empty: nowhere).
  std::string backdrop_png;
  // Camera setup: the camera's picture rate (images answer requests no faster), the data bytes
  // per image segment, the calibration pattern ("calibration_type = HVn" changes it: 3, 5, 9 or
  // 13 points), and the drift (screen pixels) the eye shows at targets until a drift correction.
  int camera_fps = 30;
  int camera_segment_bytes = 1200;
  int calibration_points = 9;
  float drift_x = 10.0f;
  float drift_y = -6.0f;
  uint64_t camera_seed = 7;
  // The stream a recording sends (the eyes, rate and content); the link digits of
  // "start_recording" and the "sample_rate" variable override its events and rate.
  StreamConfig stream;
  // A display may steer the eye with node messages "gaze_pointer X Y" (screen pixels) and
  // "gaze_pointer off": the streamed eye follows the pointer (EyeModel::follow), and so does the
  // camera's eye while no target is shown. These messages are not kept with node_messages().
  bool follow_pointer = false;
};

// How the tracker answers a connect request (CONNECT_REQUEST, CONNECT_BUSYTEST, CONNECT_BROADCAST).
enum class ConnectReply {
  kAccept,      // CONNECT_ACK with the configured identity
  kBusy,        // CONNECT_BUSY
  kAcceptLate,  // CONNECT_ACK after Config::late_reply_ms
  kSilent,      // no answer at all
};

struct Config {
  IPv4 ip{127, 0, 0, 2};  // must be a loopback address (127.x.y.z)
  // Ports: 0 lets the system choose a free one (udp_endpoint() and tcp_endpoint() tell which), so
  // that tests and demos run as an ordinary user and never collide. The stand-alone program
  // defaults to a real tracker's ports, 589 and 3875.
  uint16_t udp_port = 0;
  bool enable_tcp = false;  // also serve the TCP link port
  uint16_t tcp_port = 0;
  std::string node_name = "tracker";
  std::string version_text = "LUMAVEX RX 5.7";  // model and major.minor
  ConnectReply connect_reply = ConnectReply::kAccept;
  uint8_t protocol_major = 3;  // carried in connect replies
  uint8_t protocol_minor = 2;
  int late_reply_ms = 2500;
  // Tracker clock = the machine's monotonic clock (the library's clock base 1) + this offset.
  int64_t clock_offset_us = 0;
  // Jitter of the moment packets leave: each datagram or frame is held back by a delay drawn
  // evenly from 0..send_jitter_us after its headers were stamped, as a real tracker's packets
  // wait for its network stack and the wire. The time stamps stay those of the stamping; 0: none.
  int send_jitter_us = 0;
  // Also receive polls broadcast to this address (x.y.z.255 of a loopback list the library was
  // restricted to). Replies go out from the tracker's own address.
  std::optional<IPv4> poll_listen_ip;
  // The port of the poll listener; 0 means the tracker's own UDP port. Only one socket on the
  // machine receives a datagram sent to a 127.x.y.255 address, so only one tracker per address
  // and port can hear polls.
  uint16_t poll_listen_port = 0;
  // Answer POLL_REMOTES with REMOTE_POLL_REPLY (name at 66), as a second display node would.
  bool answer_remote_polls = true;
  // While a client is connected, send a status packet this often (0: never), so that the link
  // sees traffic and the clock estimate is fed. It is a "lost data" notice (status type 128,
  // serial 0, no text), which the display ignores apart from its header.
  int keepalive_interval_ms = 0;
  // Keep every received packet for received() and wait_for(). The stand-alone program turns this
  // off, since it only prints what arrives; the command log and the messages are kept either way.
  bool record_packets = true;
  // Priority of the tracker's receive threads, in the library's priority numbers (15 time
  // critical, 0 normal). A real tracker runs on a real-time system; a high priority here keeps
  // the display's own real-time receive thread from pre-empting the tracker mid-answer when both
  // run on one machine. Without the privilege the threads stay at normal priority.
  int receive_priority = 0;
  // The tracker's data folder: "open_data_file" creates its recording files here (format in
  // sim/data_file.h), and the file service and the link serve the files in it (a recording's
  // eye-video files in "vfiles/<recording>/"; uploads land in "recv/"). Empty: a temporary folder
  // the tracker makes on first use and removes, with its files, when it is destroyed.
  std::string data_dir;
  // The TCP file service; port 0 lets the system choose (file_service_port() tells which), the
  // stand-alone program uses a real tracker's 3873.
  bool enable_file_service = false;
  uint16_t file_service_port = 0;
  // Data bytes per FILE_PKT block of the link transfer (1..1024).
  int file_block_bytes = 1024;
  ControlConfig control;
};

// One packet the tracker received. A datagram or TCP frame that holds several packets gives one
// record per packet.
struct ReceivedPacket {
  std::vector<uint8_t> bytes;
  Endpoint from;
  bool via_tcp = false;
  int64_t tracker_time_us = 0;  // the tracker's clock when it arrived
};

// One node message the tracker received (payload only).
struct NodeMessage {
  std::vector<uint8_t> payload;
  Endpoint from;
};

class SimTracker {
 public:
  // Handler for one packet type; runs on the tracker's receive thread. Handlers run one at a
  // time, even when packets arrive on several sockets.
  using Handler = std::function<void(SimTracker &, const ReceivedPacket &)>;
  // Called for every packet once it has been handled and recorded (on the receive thread).
  using Observer = std::function<void(const ReceivedPacket &)>;
  // The length of a packet of one type, given the bytes from its start to the end of the
  // datagram or frame. 0 (or more than there is) means "the rest".
  using LengthRule = std::function<size_t(lvx::Bytes)>;
  // Called on the receive thread whenever a message is stored or a long message grows, with its
  // position among recorded_messages() and the message as it now stands.
  using MessageObserver = std::function<void(size_t index, const RecordedMessage &)>;

  explicit SimTracker(Config config);
  ~SimTracker();
  SimTracker(const SimTracker &) = delete;
  SimTracker &operator=(const SimTracker &) = delete;

  // Binds the sockets and starts the threads. False with a reason in *error on failure.
  bool start(std::string *error = nullptr);
  void stop();

  // The configuration, including the changes made by the setters below. Read it from the thread
  // that calls the setters.
  const Config &config() const { return config_; }
  // The bound addresses (the ports are the real ones when 0 was configured). The TCP endpoint is
  // all zero when TCP is not served.
  Endpoint udp_endpoint() const;
  Endpoint tcp_endpoint() const;

  // Changes how later connect requests are answered.
  void set_connect_reply(ConnectReply reply);
  void set_protocol_major(uint8_t major);
  void set_version_text(const std::string &text);
  void set_clock_offset_us(int64_t offset);
  void set_send_jitter_us(int jitter_us);

  // The mode byte (header byte 2) and state flag (byte 3) put into every packet sent.
  void set_mode(uint8_t mode, uint8_t state_flag);
  // Header words 14 and 16 and bytes 18 and 19 put into every packet sent.
  void set_header_extras(uint16_t word14, uint16_t word16, uint8_t byte18, uint8_t byte19);
  // Makes the next packet's sequence number jump by `skip` (to test gap detection).
  void skip_sequence(uint32_t skip);

  // The connected client, if any (the display that the last CONNECT_ACK went to).
  std::optional<Endpoint> client() const;
  bool client_connected() const;
  bool tcp_client_connected() const;

  // The tracker's clock in microseconds.
  int64_t now_us() const;

  // Sends a packet to the client (over TCP when the client came over TCP). The header's type byte
  // and payload are taken from `packet`; bytes 1..19 of the header are filled here, except that a
  // STATUS_PKT keeps the serial its builder put at bytes 4..7 (status packets carry the serial of
  // the command they answer there) and a DATA_PKT keeps its data sequence number there (it rises
  // by one per data packet, apart from the other packets' sequence). Returns false when there is
  // no client or the send failed.
  bool send_to_client(std::vector<uint8_t> packet);
  // Sends one datagram of several packets to the client; each packet's header is filled.
  bool send_batch_to_client(std::vector<std::vector<uint8_t>> packets);
  // Sends bytes as they stand (no header filling) to an endpoint over UDP.
  bool send_raw_udp(const std::vector<uint8_t> &bytes, const Endpoint &to);
  // Sends bytes as they stand down the TCP connection (no framing added): for split-frame tests.
  bool send_raw_tcp(const std::vector<uint8_t> &bytes);
  // Frames one packet for the TCP stream: "LV", 16-bit big-endian length, packet.
  static std::vector<uint8_t> frame_tcp(const std::vector<uint8_t> &packet);
  // Stops (or resumes) reading the TCP stream, as a tracker that hangs would: what the display
  // sends piles up in the socket buffers until they are full.
  void pause_tcp_reading(bool paused);
  // Ends the TCP connection from the tracker's side at once (after whatever was sent, even part
  // of a frame). False when there is none.
  bool close_tcp_connection();

  // Node message to any node (NODE_PKT: 0xFF, 20, length, payload, trailing byte).
  bool send_node_message(const std::vector<uint8_t> &payload, const Endpoint &to);
  // Drops the connection from the tracker's side (DISCONNECT_ACK to the client).
  bool drop_connection();
  // Cuts the tracker off the network as a pulled cable would: while silent, whatever it sends
  // goes nowhere (sequence numbers, keep-alives and the stream run on as if it had gone out) and
  // whatever arrives is lost. The client stays connected from the tracker's side.
  void set_silent(bool silent);
  bool silent() const;

  // Everything received so far, oldest first. A packet is recorded after its handler has run, so
  // when wait_for() returns a packet, the tracker's answer to it has been sent.
  std::vector<ReceivedPacket> received() const;
  std::vector<NodeMessage> node_messages() const;
  // Forgets the received packets, node messages, command log and stored messages.
  void clear_received();
  // Waits (at most timeout_ms) until a received packet matches; returns it.
  std::optional<ReceivedPacket> wait_for(const std::function<bool(const ReceivedPacket &)> &match,
                                         int timeout_ms) const;

  // --- commands ---
  // Every command (command packet of type 22) is answered with a command-result status packet
  // that carries its serial and the result, negated in 16 bits as the display expects. Known
  // commands answer 0 and unknown ones 1 unless a rule says otherwise. A rule keyed by a whole
  // command text (any case) wins over one keyed by a command name, its first word.
  void set_command_rule(const std::string &command, CommandRule rule);
  void clear_command_rules();
  // The texts of all commands received, in order of arrival. A command is logged as it arrives,
  // before it is answered, so whoever has seen its answer finds it here.
  std::vector<std::string> command_log() const;
  // Waits (at most timeout_ms) until at least `count` commands are logged.
  bool wait_for_commands(size_t count, int timeout_ms) const;

  // --- messages ---
  // The messages stored so far, as the recording file holds them: one per line, long messages
  // joined, each stamped with the tracker's receive time in ms plus the packet's time offset.
  std::vector<RecordedMessage> recorded_messages() const;
  // Waits (at most timeout_ms) until at least `count` messages are stored.
  bool wait_for_messages(size_t count, int timeout_ms) const;
  // Installs the message observer (replacing any earlier one); an empty function removes it.
  void set_message_observer(MessageObserver observer);

  // The rule a test set that applies to a command text, if any.
  std::optional<CommandRule> command_rule_for(std::string_view text) const;

  // --- files ---
  // The file service's bound port (0 when it is not served).
  uint16_t file_service_port() const;
  // Faults for later file transfers (service and link), and the counts so far.
  void set_file_faults(const FileFaults &faults);
  FileStats file_stats() const;
  // Waits (at most timeout_ms) until no upload is being received; true at once without a file
  // service.
  bool wait_for_uploads(int timeout_ms);

  // --- control ---
  // The mode machine and the rest of the control side. It exists always; with
  // Config::control.enabled it also handles commands, requests, keys and image packets.
  TrackerControl &control() { return *control_; }
  // The data folder in use (Config::data_dir, or the tracker's own temporary one, made now if
  // need be); the recording files are there under the names the display opened them with.
  std::string data_dir();
  // Runs an action on the tracker's timer thread after delay_ms (dropped by stop()).
  void run_later(int delay_ms, std::function<void()> action);
  // Changes the keep-alive interval (0: none) from the next one on.
  void set_keepalive_interval_ms(int interval_ms);
  // Header byte 18 alone (the playing-back bit).
  void set_header_byte18(uint8_t byte18);

  // Installs the handler for a packet type (replacing the built-in one, if any).
  void add_handler(uint8_t packet_type, Handler handler);
  // Runs the built-in handling of a packet (connect codes, node messages, commands and messages;
  // nothing for other types): for handlers that extend it rather than replace it.
  void run_builtin_handler(const ReceivedPacket &packet);
  // Tells the packet walk how long packets of a type are (built in: command D + 30, message
  // L + 31, connect 136, node N + 5, key 32, image S + 25; any other type takes the rest of the
  // datagram or frame).
  void set_packet_length(uint8_t packet_type, LengthRule rule);
  // Installs the observer (replacing any earlier one); an empty function removes it.
  void set_observer(Observer observer);

  // --- data stream ---
  // Starts streaming samples and events to the connected client: the block-opening markers at
  // once, then one packet per samples_per_packet samples at the sample rate, paced against the
  // monotonic clock and stamped with the tracker's clock. False when there is no client, a
  // stream is already running or the configuration is unusable. While it runs, every message
  // the tracker stores is also sent as a message event stamped with its stored time (when
  // events are on).
  bool start_streaming(const StreamConfig &config);
  // Stops the stream and sends the block-closing markers. Also done by stop().
  void stop_streaming();
  bool streaming() const;
  // Counts of the current (or last) stream.
  StreamStats stream_stats() const;
  // One-shot faults on the running stream's next sample packets: lost (the data sequence number
  // is used up but nothing is sent), sent twice, or sent after the packet that follows it.
  // Requests add up and are served in that order; a new stream starts without any.
  void drop_next_packets(uint32_t n);
  void duplicate_next_packet();
  void swap_next_two_packets();
  // A button or input change: an EV_BUTTONS (data word under tag 0x56) or EV_INPUT (tag 0x55)
  // event in the next packet, stamped with its first sample's time, and the buttons or input
  // word of the samples from then on. False when no stream is running.
  bool inject_button(uint16_t buttons_mask);
  // Makes the streamed eye look at a point (screen pixels), as at a calibration target; nullopt
  // lets it wander again. Applies to the running stream and to later ones.
  void steer_gaze(std::optional<std::pair<double, double>> target);
  // Gives the streamed eye a pointer to follow (EyeModel::follow), as a hand or mouse cursor;
  // nullopt stops it. Applies to the running stream and to later ones.
  void follow_pointer(std::optional<std::pair<double, double>> pointer);
  bool inject_input(uint16_t input_word);
  // Observers (replacing any earlier one; an empty function removes it). The sample and event
  // observers see each sample and event just before its packet is sent; the data observer sees
  // each DATA packet right after the send. They run on the stream's thread, and for the closing
  // markers on the thread that stops the stream; they must not start or stop a stream.
  void set_data_observer(std::function<void(const SentDataPacket &)> observer);
  void set_sample_observer(std::function<void(const SentSample &)> observer);
  void set_event_observer(std::function<void(const SentEvent &)> observer);
  // The last `count` samples and events sent (at most StreamConfig::history of each).
  std::vector<SentSample> recent_samples(size_t count) const;
  std::vector<SentEvent> recent_events(size_t count) const;
  // The data sequence number the next stream (or playback) starts with. Setting it is ignored
  // while a stream runs.
  uint32_t next_data_sequence() const;
  void set_next_data_sequence(uint32_t next);

 private:
  // Implementation lives in tracker.cpp.
  struct Impl;
  Config config_;
  std::unique_ptr<Impl> impl_;
  std::unique_ptr<FileService> files_;
  std::unique_ptr<TrackerControl> control_;  // destroyed first, once stop() has run
};

// Builds packets the way the tracker would, for tests that feed the library directly.
namespace build {
// A 20-byte header with type, length 20, mode, state flag, sequence and tracker time.
std::vector<uint8_t> header(uint8_t type, uint8_t mode, uint8_t state, uint32_t seq,
                            uint32_t time_ms, uint16_t time_us);
// A 136-byte CONNECT_PKT with the given code, major/minor, names and identity text.
std::vector<uint8_t> connect_packet(uint8_t code, uint8_t major, uint8_t minor,
                                    const std::string &tracker_name, const std::string &remote_name,
                                    const std::string &identity);
// A NODE_PKT of payload.size() + 5 bytes.
std::vector<uint8_t> node_packet(const std::vector<uint8_t> &payload);
// A STATUS_PKT answering `serial`: header (serial at 4..7), type at 20, value 1 at 22, value 2
// at 24, text length L at 30, the text at 32, then zero padding to the length the library counts
// for the type: L + 34, or L + 35 for types 100..103, or L + 37 for types 50, 128 and 150.
std::vector<uint8_t> status_packet(uint32_t serial, uint16_t status_type, uint16_t value1,
                                   uint16_t value2, const std::string &text);
}  // namespace build

}  // namespace lvxsim
