// The tracker's data stream: samples and events from the synthetic eye, packed into DATA packets
// and sent to the connected display at the sample rate, with optional faults on the way (lost,
// repeated and swapped packets).
//
// StreamEngine composes the packets and is pure: given a configuration and the tracker time of
// the first sample it always produces the same bytes. FaultInjector decides what happens to each
// packet. Streamer owns the thread that paces the engine against the monotonic clock and sends.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "lumavex_core.h"
#include "sim/data_items.h"
#include "sim/eye_model.h"
#include "sim/raw_camera.h"

namespace lvxsim {

// Sample content sent unless configured otherwise: positions of every kind, resolution, pupil
// size, status, input and buttons. The eye bits, the time bit and SF_SAMPLE are added per sample.
inline constexpr uint16_t kDefaultSampleContent = SF_PUPIL_XY | SF_HREF_XY | SF_GAZE_XY |
                                                  SF_RESOLUTION | SF_PUPIL_SIZE | SF_STATUS |
                                                  SF_INPUT | SF_BUTTONS;

// The aux type of samples that carry the href positions of the screen's corners.
inline constexpr uint8_t kHrefCornersAuxType = 232;

// Event kinds announced in the event block's type flags (the display's view; bits 15 and 14 say
// which eyes are tracked).
inline constexpr uint16_t kEventTypeFixations = 0x0001;
inline constexpr uint16_t kEventTypeSaccades = 0x0002;
inline constexpr uint16_t kEventTypeBlinks = 0x0004;
inline constexpr uint16_t kEventTypeMessages = 0x0008;
inline constexpr uint16_t kEventTypeButtons = 0x0010;
inline constexpr uint16_t kEventTypeInputs = 0x0020;

// Extension block kinds a sample can carry (StreamConfig::block_kinds).
inline constexpr uint8_t kBlockRaw = 1;          // type 1: twelve 16-bit raw values
inline constexpr uint8_t kBlockFloatGaze = 2;    // type 2: floats, including the gaze itself
inline constexpr uint8_t kBlockPoints = 3;       // type 3, 72 bytes: three candidate points
inline constexpr uint8_t kBlockPointsShort = 4;  // type 3, 56 bytes: one point

struct StreamConfig {
  int rate_hz = 1000;  // 250, 500, 1000 or 2000
  Eyes eyes = Eyes::kBoth;
  uint16_t sample_content = kDefaultSampleContent;
  // Every Nth sample carries the 32-bit time; the ones between carry a delta byte. 1: all.
  int full_time_every = 1;
  bool events = true;         // parsed events, messages, buttons and inputs
  bool block_markers = true;  // 15 and 17 at the start, 16 and 18 at the end
  uint16_t position_prescaler = 10;
  uint16_t velocity_prescaler = 10;
  uint16_t pupil_prescaler = 1;
  int samples_per_packet = 1;      // a packet closes early when it would pass max_packet_bytes
  size_t max_packet_bytes = 1400;  // the TCP link carries at most 1500 bytes a frame
  uint64_t seed = 1;
  int screen_width = 1024;
  int screen_height = 768;
  double pixels_per_degree = 36.0;
  double mean_blink_interval_s = 4.0;
  // Where the screen lies before the eye (sim/screen_geometry.h): the distance to its centre in
  // pixels (0: what gives pixels_per_degree) and its tilt.
  double screen_distance_px = 0;
  double screen_tilt_deg = 0;
  // Every sample carries the href positions of the screen's corner pixels (aux type 232, SF_AUX
  // added), so that the display can map href to gaze. Not with raw camera data, whose aux words
  // are taken.
  bool href_corners = false;
  // Raw camera data (sim/raw_camera.h) in the sample fields in place of the gaze, href, pupil,
  // resolution, input and aux values; the fields it needs are added to sample_content.
  RawPacking raw_camera = RawPacking::kNone;
  // DATA packet offset 36; 0 derives the eyes being recorded: 0x8000 left, 0x4000 right.
  uint16_t packet_flags = 0;
  // Tracker mode word of the block markers; 0 derives one: bits 0..3 the eyes (1 left, 2 right,
  // 3 both), bits 4..7 the rate (1: 250, 2: 500, 3: 1000, 4: 2000 Hz), bits 8..11 mode 1.
  uint16_t mode_word = 0;
  uint16_t sample_block_word = 0;
  // Event-data flags of the event block: what the parsed events carry, as read flags.
  uint16_t event_data_flags =
      RF_GAZE_XY | RF_HREF_XY | RF_PUPIL_SIZE | RF_VELOCITY | RF_RESOLUTION | RF_STATUS;
  uint16_t event_types = kEventTypeFixations | kEventTypeSaccades | kEventTypeBlinks |
                         kEventTypeMessages | kEventTypeButtons | kEventTypeInputs;
  uint16_t sample_status = 0;                      // status word of every sample
  uint8_t aux_words = 2;                           // with SF_AUX in sample_content (at most 8)
  std::vector<uint8_t> block_kinds = {kBlockRaw};  // with SF_BLOCKS in sample_content
  // Faults drawn for each sample packet from the seed (0..1). Block-marker packets are exempt.
  double drop_rate = 0;
  double duplicate_rate = 0;
  double reorder_rate = 0;
  size_t history = 4096;  // samples and events kept for recent_samples() / recent_events()
};

// One sample as it went out, with the values the display should report for it in float form.
struct SentSample {
  uint64_t index = 0;     // sample number since the stream started
  int64_t time_us = 0;    // tracker time of the sample
  uint32_t time_ms = 0;   // the time it is stamped with
  uint32_t sequence = 0;  // data sequence number of the packet that carried it
  build::SampleFields wire;
  bool half_ms = false;  // the display marks it SF_HALF_MS (same full time as the one before)
  float gaze_x[2], gaze_y[2], href_x[2], href_y[2], pupil_x[2], pupil_y[2], pupil_size[2];
  float res_x, res_y;
  Phase phase = Phase::kFixation;
  double velocity = 0;  // the eye's true speed, deg/s (ModelSample::velocity)
  raw_values raw[2]{};  // with raw camera data: what the display unpacks for each tracked eye
};

// One event item as it went out.
struct SentEvent {
  uint32_t sequence = 0;
  uint8_t type = 0;
  int eye = -1;                              // parsed events: 0 left, 1 right
  uint32_t time = 0;                         // the record time the display reports
  std::optional<build::ParsedEvent> parsed;  // types 1..10
  uint16_t read = 0;                         // read flags of a parsed event
  build::EventFloats floats{};               // float values of a parsed event
  std::string text;                          // messages
  uint16_t data = 0;                         // buttons and inputs
};

// One DATA packet as it went out; given to the data observer right after the send.
struct SentDataPacket {
  uint32_t sequence = 0;
  uint32_t first_sample_time = 0;  // ms; block-marker packets: the marker time
  uint32_t last_sample_time = 0;
  int samples = 0;
  int events = 0;        // event items besides block markers
  bool markers = false;  // a block-marker packet
  bool repeat = false;   // the second copy of a duplicated packet
  int64_t sent_ns = 0;   // lvx::platform::counter_now() after the send
  size_t bytes = 0;
};

struct StreamStats {
  uint64_t samples = 0;       // samples in packets that went out
  uint64_t events = 0;        // event items in packets that went out, besides block markers
  uint64_t markers = 0;       // block markers sent
  uint64_t packets_sent = 0;  // sends, repeats included
  uint64_t packets_dropped = 0;
  uint64_t packets_duplicated = 0;
  uint64_t packets_reordered = 0;  // swaps
  uint64_t send_failures = 0;      // no client, or the send failed
  uint32_t last_sample_time = 0;
  uint32_t first_sequence = 0;  // data sequence of the stream's first packet
  uint32_t last_sequence = 0;   // the highest taken so far
};

// A packet the engine composed, with what it holds.
struct StreamPacket {
  std::vector<uint8_t> bytes;
  uint32_t sequence = 0;
  bool markers = false;
  int64_t last_time_us = 0;  // tracker time of its last sample (markers: their time)
  std::vector<SentSample> samples;
  std::vector<SentEvent> events;  // block markers included
};

// Composes the stream's DATA packets.
class StreamEngine {
 public:
  // `start_time_us` is the tracker time of the first sample; `first_sequence` the data sequence
  // number of the first packet.
  StreamEngine(const StreamConfig &config, int64_t start_time_us, uint32_t first_sequence);

  // The packet of markers 15 (and 17 when events are on) that opens the blocks, stamped with
  // the first sample's time.
  StreamPacket open_packet();
  // The next samples_per_packet samples with their events, and the messages, buttons and inputs
  // queued since the last packet.
  StreamPacket next_packet();
  // Markers 16 (and 18) that close the blocks.
  StreamPacket close_packet(uint32_t time_ms);

  // Queue an event for the next packet. Buttons and inputs also change the words of the
  // samples from then on.
  void queue_message(uint32_t time_ms, std::string text);
  void queue_buttons(uint16_t buttons);
  void queue_input(uint16_t input);

  uint32_t next_sequence() const { return next_sequence_; }
  // Steers the eye (EyeModel::look_at).
  void look_at(std::optional<std::pair<double, double>> target) { model_.look_at(target); }
  // Gives the eye a pointer to follow (EyeModel::follow).
  void follow(std::optional<std::pair<double, double>> pointer) { model_.follow(pointer); }
  uint64_t next_sample_index() const;
  int64_t next_sample_time_us() const;
  // Tracker time of the last sample the next packet will hold (if it is not cut short): when
  // that packet is due.
  int64_t next_packet_due_us() const;
  const StreamConfig &config() const { return config_; }
  // The sample flags of this stream: content, eye bits and SF_SAMPLE (no time bit).
  uint16_t sample_flags() const;
  uint16_t mode_word() const;

 private:
  struct Pending {
    uint8_t type;
    uint32_t time;
    uint16_t data;
    std::string text;
  };

  build::SampleFields encode_sample(const ModelSample &s, bool full_time, uint8_t delta,
                                    raw_values (&raw)[2]);
  SentSample describe(const ModelSample &s, const build::SampleFields &w) const;
  build::ParsedEvent encode_event(const ModelEvent &e) const;
  StreamPacket finish(std::vector<build::Item> items, StreamPacket p);
  int16_t position(double px) const;
  int16_t velocity(double deg_per_s) const;
  // Replaces what the raw camera packing or the corner points take, and fills `raw`.
  void pack_extras(const ModelSample &s, build::SampleFields &w, raw_values (&raw)[2]) const;

  StreamConfig config_;
  EyeModel model_;
  uint32_t next_sequence_;
  uint16_t buttons_ = 0;
  uint16_t input_ = 0;
  std::vector<Pending> pending_;
  std::optional<uint32_t> previous_time_ms_;  // the last sample's time, for delta bytes
  std::optional<uint32_t> last_full_time_;    // the last full-time sample's time
  std::optional<ModelStep> carry_;            // a sample that did not fit the last packet
  std::array<uint16_t, 8> corner_words_{};    // the corner points, when samples carry them
};

// Decides the fate of each sample packet: one-shot requests first, then the configured rates.
class FaultInjector {
 public:
  FaultInjector(const StreamConfig &config);

  void drop_next(uint32_t n) { drop_pending_ += n; }
  void duplicate_next() { ++duplicate_pending_; }
  void swap_next_two() { ++swap_pending_; }

  struct Out {
    StreamPacket packet;
    bool repeat = false;
  };
  // What to send now for this packet, in order: nothing (dropped or held back for a swap), the
  // packet, the packet twice, or this packet followed by the one held back.
  std::vector<Out> route(StreamPacket p);
  // The packet held back for a swap, if any.
  std::vector<Out> flush();

  uint64_t dropped() const { return dropped_; }
  uint64_t duplicated() const { return duplicated_; }
  uint64_t reordered() const { return reordered_; }

 private:
  bool draw(double rate);

  double drop_rate_, duplicate_rate_, reorder_rate_;
  std::mt19937_64 rng_;
  uint32_t drop_pending_ = 0;
  uint32_t duplicate_pending_ = 0;
  uint32_t swap_pending_ = 0;
  std::optional<StreamPacket> held_;
  uint64_t dropped_ = 0, duplicated_ = 0, reordered_ = 0;
};

// Runs a stream on its own thread. It sends through `send` (the tracker's send to its client,
// which fills the header's time but keeps the data sequence) and reads the tracker's clock
// through `clock_us`. One stream at a time; the data sequence continues across streams.
class Streamer {
 public:
  using SendFn = std::function<bool(std::vector<uint8_t>)>;
  using ClockFn = std::function<int64_t()>;

  Streamer(SendFn send, ClockFn clock_us);
  ~Streamer();
  Streamer(const Streamer &) = delete;
  Streamer &operator=(const Streamer &) = delete;

  // Sends the opening markers and starts the thread. False when a stream is already running or
  // the configuration is unusable (rate below 1, a prescaler of 0).
  bool start(const StreamConfig &config);
  // Stops the thread, sends a packet held back for a swap, then the closing markers.
  void stop();
  bool running() const;

  StreamStats stats() const;
  void drop_next_packets(uint32_t n);
  void duplicate_next_packet();
  void swap_next_two_packets();
  // Queue events for the next packet; false when no stream is running or events are off.
  bool inject_buttons(uint16_t buttons);
  bool inject_input(uint16_t input);
  bool inject_message(uint32_t time_ms, std::string text);
  // Where the eye is to look (EyeModel::look_at), for this stream and the next.
  void steer(std::optional<std::pair<double, double>> target);
  // The pointer the eye follows (EyeModel::follow), for this stream and the next.
  void follow(std::optional<std::pair<double, double>> pointer);

  void set_data_observer(std::function<void(const SentDataPacket &)> observer);
  void set_sample_observer(std::function<void(const SentSample &)> observer);
  void set_event_observer(std::function<void(const SentEvent &)> observer);
  std::vector<SentSample> recent_samples(size_t count) const;
  std::vector<SentEvent> recent_events(size_t count) const;
  // The data sequence number the next stream starts with; setting it is ignored while running.
  uint32_t next_sequence() const;
  void set_next_sequence(uint32_t next);

 private:
  void run();
  // Sends one packet (observers, history and statistics included). Called without mu_.
  void transmit(const StreamPacket &p, bool repeat);
  void route_and_send(StreamPacket p);

  SendFn send_;
  ClockFn clock_us_;

  mutable std::mutex mu_;  // everything below except thread_ and stop_
  bool running_ = false;
  StreamConfig config_;
  std::optional<StreamEngine> engine_;  // used by the thread alone while it runs
  std::optional<std::pair<double, double>> gaze_target_;
  std::optional<std::pair<double, double>> pointer_;
  std::optional<FaultInjector> faults_;
  StreamStats stats_;
  uint32_t next_sequence_ = 1;
  std::deque<SentSample> samples_;
  std::deque<SentEvent> events_;
  std::function<void(const SentDataPacket &)> data_observer_;
  std::function<void(const SentSample &)> sample_observer_;
  std::function<void(const SentEvent &)> event_observer_;

  std::mutex run_mu_;  // serialises start() and stop()
  std::thread thread_;
  std::atomic<bool> stop_{false};
};

}  // namespace lvxsim
