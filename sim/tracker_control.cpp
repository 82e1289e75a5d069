// The tracker's control side: mode changes and their settling, requests, recordings and their
// playback, targets, keys, user menus and the bitmap transfer.
#include "sim/tracker_control.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string_view>
#include <utility>

#include "common/wire_reader.h"
#include "sim/command_table.h"
#include "sim/packet_decoders.h"
#include "sim/png_writer.h"

namespace lvxsim {

namespace {

// A recording replays at most this many DATA packets (a minute at 1000 Hz, one sample each).
constexpr size_t kMaxPlaybackPackets = 60000;
// The most bitmap data one image packet carries.
constexpr size_t kMaxBitmapPacketData = 512;

std::string lower(std::string_view s) {
  std::string out(s);
  for (char &c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return std::string(s);
}

int64_t floor_ms(int64_t us) {
  return us / 1000 - (us % 1000 < 0 ? 1 : 0);
}

uint16_t position_value(float v) {
  float r = std::round(v);
  if (!(r >= 0.0f)) return 0;
  if (r > 65535.0f) return 65535;
  return static_cast<uint16_t>(r);
}

bool is_target_mode(uint8_t mode) {
  return mode == kModeCalibration || mode == kModeValidation || mode == kModeDriftCorrection;
}

}  // namespace

TrackerControl::TrackerControl(SimTracker &tracker, ControlConfig config)
    : t_(tracker),
      cfg_(std::move(config)),
      machine_(cfg_.settle_ms < 0 ? int64_t{-1} : int64_t{cfg_.settle_ms} * 1000),
      backdrop_(BitmapSettings{cfg_.bitmap_format, cfg_.bitmap_window, cfg_.bitmap_ack_every,
                               cfg_.bitmap_target_width, cfg_.bitmap_target_height}) {
  variables_["screen_pixel_coords"] = "0,0," + std::to_string(cfg_.stream.screen_width - 1) + "," +
                                      std::to_string(cfg_.stream.screen_height - 1);
  variables_["sample_rate"] = std::to_string(cfg_.stream.rate_hz);
  variables_["tracker_version"] = t_.config().version_text;
  variables_["version"] = t_.config().version_text;
  variables_["lock_record_exit"] = "NO";
  variables_["link_update_interval"] = std::to_string(cfg_.link_interval_ms);
  calibration_points_ = cfg_.calibration_points;
  noise_state_ = cfg_.camera_seed;
  {
    CameraScene scene;
    scene.camera = kCameraHead;
    CameraPicture pic = render_camera(scene, 64, 48);
    char limits[64];
    std::snprintf(limits, sizeof limits, "%.3f %.3f %.3f %.3f", pic.search_left, pic.search_top,
                  pic.search_right, pic.search_bottom);
    variables_["search_limits_drawbox"] = limits;
  }
  if (cfg_.follow_pointer) {
    t_.add_handler(kNodePkt, [this](SimTracker &t, const ReceivedPacket &p) {
      const std::optional<std::vector<uint8_t>> payload = decode_node(p.bytes);
      const std::optional<PointerMessage> m =
          payload ? parse_pointer_message(*payload) : std::nullopt;
      if (m) {
        set_pointer(m->pointer);
      } else {
        t.run_builtin_handler(p);
      }
    });
  }
  if (!cfg_.enabled) return;
  t_.set_mode(machine_.mode(), machine_.state_flag());
  t_.add_handler(kCommandPkt,
                 [this](SimTracker &, const ReceivedPacket &p) { handle_command_packet(p); });
  t_.add_handler(kKeyPkt, [this](SimTracker &, const ReceivedPacket &p) { handle_key(p); });
  t_.add_handler(kImagePkt, [this](SimTracker &, const ReceivedPacket &p) { handle_image(p); });
}

std::optional<PointerMessage> parse_pointer_message(const std::vector<uint8_t> &payload) {
  const std::string text(payload.begin(), payload.end());
  constexpr std::string_view kWord = "gaze_pointer ";
  if (text.compare(0, kWord.size(), kWord) != 0) return std::nullopt;
  const std::string rest = text.substr(kWord.size());
  if (rest == "off") return PointerMessage{};
  double x = 0;
  double y = 0;
  char extra = 0;
  if (std::sscanf(rest.c_str(), "%lf %lf %c", &x, &y, &extra) != 2 || !std::isfinite(x) ||
      !std::isfinite(y)) {
    return std::nullopt;
  }
  return PointerMessage{std::make_pair(x, y)};
}

TrackerControl::~TrackerControl() {
  std::lock_guard<std::mutex> lock(file_mu_);
  if (file_) file_->close();
  file_.reset();
  if (owns_data_dir_) {
    std::error_code ec;
    std::filesystem::remove_all(data_dir_, ec);
  }
}

// --- modes ---

uint8_t TrackerControl::mode() const {
  std::lock_guard<std::mutex> lock(mu_);
  return machine_.mode();
}

uint8_t TrackerControl::state_flag() const {
  std::lock_guard<std::mutex> lock(mu_);
  return machine_.state_flag();
}

bool TrackerControl::playing_back() const {
  std::lock_guard<std::mutex> lock(mu_);
  return machine_.playing_back();
}

void TrackerControl::set_mode_observer(std::function<void(uint8_t, uint8_t)> observer) {
  std::lock_guard<std::mutex> lock(mu_);
  mode_observer_ = std::move(observer);
}

void TrackerControl::publish_locked() {
  t_.set_header_byte18(machine_.byte18());
  t_.set_mode(machine_.mode(), machine_.state_flag());
}

void TrackerControl::enter_mode(uint8_t mode) {
  uint8_t old = 0;
  bool had_data = false;
  std::function<void(uint8_t, uint8_t)> watch;
  {
    std::lock_guard<std::mutex> lock(mu_);
    old = machine_.mode();
    had_data = machine_.recording() || machine_.playing_back();
    machine_.enter(mode, t_.now_us());
    publish_locked();
    watch = mode_observer_;
  }
  if (had_data && old != mode) finish_data();
  if (watch && old != mode) watch(old, mode);
  after_change();
}

// The packet that shows the raised flag (and the new mode) goes out now; the fall follows once
// the change has settled, in a packet of its own.
void TrackerControl::after_change() {
  send_keepalive();
  schedule_settle();
}

void TrackerControl::schedule_settle() {
  std::optional<int64_t> due;
  {
    std::lock_guard<std::mutex> lock(mu_);
    due = machine_.settle_due_us();
  }
  if (!due) return;
  int64_t wait_us = *due - t_.now_us();
  int delay_ms = wait_us <= 0 ? 0 : static_cast<int>((wait_us + 999) / 1000);
  t_.run_later(delay_ms, [this] { settle_now(); });
}

void TrackerControl::settle_now() {
  bool fell = false;
  bool still = false;
  {
    std::lock_guard<std::mutex> lock(mu_);
    fell = machine_.settle(t_.now_us());
    still = machine_.settle_due_us().has_value();
    if (fell) publish_locked();
  }
  if (fell) {
    send_keepalive();
  } else if (still) {
    schedule_settle();  // raised again meanwhile, or woken a little early
  }
}

// --- commands and requests ---

void TrackerControl::handle_command_packet(const ReceivedPacket &p) {
  const std::optional<CommandPacket> command = decode_command(p.bytes);
  if (!command) return;
  switch (command->type) {
    case kCommandTypeCommand:
      handle_mode_command(p, *command);
      break;
    case kCommandTypeRead:
      answer_read(command->serial, command->text);
      break;
    case kCommandTypeTime:
      // The tracker time travels in the header, which the send fills.
      send_status(command->serial, kStatusTimeReply, 0, 0, "");
      break;
    case kCommandTypePlayback:
      serve_playback_request();
      break;
    case kCommandTypeImageAck:
      on_image_ack();
      break;
    default:
      break;
  }
}

void TrackerControl::handle_mode_command(const ReceivedPacket &p, const CommandPacket &command) {
  const std::string &text = command.text;
  uint8_t old = 0;
  CommandEffect e;
  std::function<void(uint8_t, uint8_t)> watch;
  {
    std::lock_guard<std::mutex> lock(mu_);
    old = machine_.mode();
    e = machine_.on_command(text, t_.now_us());
    if (e.mode_changed) publish_locked();
    watch = mode_observer_;
  }
  update_variable_from_command(text);
  const std::string name = command_name(text);
  // The file commands are answered with what happened to the file, unless a test rule says
  // otherwise; the user menu opens before its command is answered.
  std::optional<int16_t> file_result;
  if (!t_.command_rule_for(text)) {
    if (name == "open_data_file") {
      file_result = open_file(text);
    } else if (name == "close_data_file") {
      file_result = close_file();
    }
  }
  if (name == "long_filename_enabled") {
    const std::string v = lower(trim(command_value(text)));
    std::lock_guard<std::mutex> lock(file_mu_);
    long_names_ = v == "yes" || v == "1";
  } else if (name == "display_user_menu") {
    const int menu = std::atoi(std::string(command_value(text)).c_str());
    if (menu >= 1 && menu <= kModeUserMenuLast - kModeUserMenuFirst + 1) {
      enter_mode(static_cast<uint8_t>(kModeUserMenuFirst + menu - 1));
    }
  }
  // Leaving recording or playback closes the data blocks before the answer, as the tracker
  // stops writing before it reports the new mode settled.
  if (e.data_stopped) finish_data();
  if (e.mode_changed) send_keepalive();
  if (watch && e.mode_changed && old != mode()) watch(old, mode());

  // The answer. The bitmap transfer's start is answered with the image format the tracker
  // takes, unless a test rule says otherwise; a file to draw is shown before the answer.
  const bool ruled = t_.command_rule_for(text).has_value();
  bool bitmap_start = name == "start_bitmap_transfer" && !ruled;
  if (name == "stop_bitmap_transfer") backdrop_.stop();
  if (name == "draw_image" && !ruled) draw_image(text);
  if (bitmap_start) {
    const BackdropReceiver::Start start = backdrop_.start(text);
    send_status(command.serial, kStatusCommandResult, 0, 0, start.answer);
    send_bitmap_ack(start.credit);
  } else if (file_result) {
    send_status(command.serial, kStatusCommandResult, static_cast<uint16_t>(-*file_result), 0, "");
  } else {
    t_.run_builtin_handler(p);
  }

  if (name == "link_update_interval" && cfg_.link_interval_ms > 0) {
    int ms = 0;
    {
      std::lock_guard<std::mutex> lock(mu_);
      ms = machine_.link_interval_ms();
    }
    if (ms > 0) t_.set_keepalive_interval_ms(ms);
  }

  if (name == "send_camera_image") {
    on_image_request(text);
  } else if (name == "lvrx_global_image_extinfo") {
    std::lock_guard<std::mutex> lock(mu_);
    extended_info_ = std::atoi(std::string(command_value(text)).c_str()) != 0;
  } else if (name == "setup_mode_global_click") {
    on_global_click(text);
  } else if (name == "calibration_type") {
    const std::string v = lower(command_value(text));
    const size_t hv = v.find("hv");
    const int n = hv == std::string::npos ? 0 : std::atoi(v.c_str() + hv + 2);
    if (n == 3 || n == 5 || n == 9 || n == 13) {
      std::lock_guard<std::mutex> lock(mu_);
      calibration_points_ = n;
    }
  }

  switch (e.action) {
    case CommandAction::kApplyDrift: {
      std::lock_guard<std::mutex> lock(mu_);
      drift_corrected_ = true;
      break;
    }
    case CommandAction::kStartRecording:
      start_recording(e.recording);
      break;
    case CommandAction::kStartPlayback:
      start_playback();
      break;
    case CommandAction::kShowDriftTarget: {
      float x = 0;
      float y = 0;
      {
        std::lock_guard<std::mutex> lock(mu_);
        x = machine_.drift_target_x();
        y = machine_.drift_target_y();
        last_info_.reset();
        steer_locked(TargetPoint{x, y});
      }
      show_target(x, y);
      break;
    }
    case CommandAction::kAcceptFixation:
      // From drift correction the machine has gone idle already.
      if (old == kModeDriftCorrection) {
        accept_drift_fixation();
      } else {
        accept_calibration_fixation();
      }
      break;
    case CommandAction::kSyncStatus: {
      std::optional<std::pair<uint16_t, std::string>> info;
      {
        std::lock_guard<std::mutex> lock(mu_);
        info = last_info_;
      }
      if (info) send_status(0, kStatusCalibrationInfo, info->first, 0, info->second);
      break;
    }
    default:
      break;
  }
  if (e.mode_changed) schedule_settle();
}

void TrackerControl::update_variable_from_command(const std::string &text) {
  std::string name = command_name(text);
  std::string value = trim(command_value(text));
  std::lock_guard<std::mutex> lock(mu_);
  auto it = variables_.find(name);
  if (it == variables_.end() || value.empty()) return;
  if (name == "screen_pixel_coords") {
    // Kept as the four numbers separated by commas, the form a read request answers with.
    std::string joined;
    std::string token;
    std::istringstream in(value);
    int count = 0;
    while (in >> token) {
      for (char &c : token) {
        if (c == ',') c = ' ';
      }
      std::istringstream parts(token);
      std::string part;
      while (parts >> part) {
        joined += (count++ == 0 ? "" : ",") + part;
      }
    }
    if (count == 4) it->second = joined;
  } else if (name == "sample_rate") {
    if (builtin_result(text) == kResultOk) it->second = value;
  } else {
    it->second = value;
  }
}

void TrackerControl::set_variable(const std::string &name, const std::string &value) {
  std::lock_guard<std::mutex> lock(mu_);
  variables_[lower(trim(name))] = value;
}

std::optional<std::string> TrackerControl::variable(const std::string &name) const {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = variables_.find(lower(trim(name)));
  if (it == variables_.end()) return std::nullopt;
  return it->second;
}

// An unknown name is answered with an empty text: the display's wait ends and the caller sees
// that the tracker has no such value.
void TrackerControl::answer_read(uint32_t serial, const std::string &name) {
  std::string value = variable(name).value_or("");
  send_status(serial, kStatusReadReply, 0, 0, value);
}

// --- recording ---

void TrackerControl::start_recording(const RecordingFlags &flags) {
  RecordingRecord rec;
  rec.flags = flags;
  rec.stream = cfg_.stream;
  rec.stream.events = flags.link_events || flags.file_events;
  {
    std::lock_guard<std::mutex> lock(mu_);
    rec.lock_record_exit = machine_.record_exit_locked();
    int rate = std::atoi(variables_["sample_rate"].c_str());
    if (rate == 250 || rate == 500 || rate == 1000 || rate == 2000) rec.stream.rate_hz = rate;
  }
  rec.start_us = t_.now_us();
  {
    std::lock_guard<std::mutex> lock(file_mu_);
    if (file_) {
      write_pending_messages_locked();
      file_->recording_start(floor_ms(rec.start_us), flags.file_samples, flags.file_events,
                             flags.link_samples, flags.link_events);
    }
  }
  StreamConfig link = rec.stream;
  link.events = flags.link_events;
  {
    // Recording from here on, before the first data packet can reach the display.
    std::lock_guard<std::mutex> lock(mu_);
    current_ = std::move(rec);
  }
  // The link carries data only when a link digit asks for it; the samples go with it (the
  // display ignores them when it did not ask), the events only with their digit.
  if (flags.link_samples || flags.link_events) {
    bool streamed = t_.start_streaming(link);
    std::lock_guard<std::mutex> lock(mu_);
    if (current_) current_->streamed = streamed;
  }
}

void TrackerControl::finish_data() {
  std::optional<RecordingRecord> rec;
  {
    std::lock_guard<std::mutex> lock(mu_);
    rec = std::move(current_);
    current_.reset();
  }
  if (rec) {
    if (rec->streamed) t_.stop_streaming();
    rec->end_us = t_.now_us();
    rec->finished = true;
    if (rec->streamed) {
      StreamStats s = t_.stream_stats();
      rec->link_samples = s.samples;
      rec->link_events = s.events;
    }
    // The file holds every sample the camera took while recording.
    auto taken = static_cast<uint64_t>(std::max<int64_t>(0, rec->end_us - rec->start_us)) *
                 static_cast<uint64_t>(rec->stream.rate_hz) / 1000000u;
    if (rec->flags.file_samples) rec->file_samples = rec->streamed ? rec->link_samples : taken;
    if (rec->flags.file_events) rec->file_events = rec->link_events;
    int64_t from = floor_ms(rec->start_us);
    int64_t to = floor_ms(rec->end_us);
    for (const RecordedMessage &m : t_.recorded_messages()) {
      if (m.time_ms >= from && m.time_ms <= to) rec->messages.push_back(m);
    }
    write_recording(*rec);
    std::lock_guard<std::mutex> lock(mu_);
    last_ = std::move(rec);
  }
  end_playback(true);
}

std::optional<RecordingRecord> TrackerControl::last_recording() const {
  std::lock_guard<std::mutex> lock(mu_);
  return last_;
}

bool TrackerControl::recording() const {
  std::lock_guard<std::mutex> lock(mu_);
  return current_.has_value();
}

// --- playback ---

// The recording is composed again from its stream configuration and start time (the stream
// engine gives the same bytes for them), with the messages stored while it ran, and released a
// few packets per data request.
void TrackerControl::start_playback() {
  std::optional<RecordingRecord> rec;
  {
    std::lock_guard<std::mutex> lock(mu_);
    rec = last_;
  }
  StreamConfig sc = rec ? rec->stream : cfg_.stream;
  if (rec) sc.events = rec->flags.file_events;
  int64_t start = rec ? rec->start_us : t_.now_us();
  int64_t end = rec ? rec->end_us : start;
  StreamEngine engine(sc, start, t_.next_data_sequence());
  std::vector<std::vector<uint8_t>> packets;
  StreamPacket open = engine.open_packet();
  if (!open.bytes.empty()) packets.push_back(std::move(open.bytes));
  size_t next_message = 0;
  while (rec && engine.next_sample_time_us() <= end && packets.size() < kMaxPlaybackPackets) {
    if (sc.events) {
      int64_t due_ms = floor_ms(engine.next_packet_due_us());
      while (next_message < rec->messages.size() && rec->messages[next_message].time_ms <= due_ms) {
        const RecordedMessage &m = rec->messages[next_message++];
        engine.queue_message(static_cast<uint32_t>(static_cast<uint64_t>(m.time_ms)), m.text);
      }
    }
    packets.push_back(engine.next_packet().bytes);
  }
  StreamPacket close =
      engine.close_packet(static_cast<uint32_t>(static_cast<uint64_t>(floor_ms(end))));
  t_.set_next_data_sequence(engine.next_sequence());
  std::lock_guard<std::mutex> lock(mu_);
  pacer_.emplace(std::move(packets), cfg_.playback_packets_per_request);
  playback_close_ = std::move(close.bytes);
  playback_requests_ = 0;
}

void TrackerControl::serve_playback_request() {
  std::vector<std::vector<uint8_t>> chunk;
  bool done = false;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!pacer_ || !machine_.playing_back()) return;
    chunk = pacer_->on_request();
    ++playback_requests_;
    done = pacer_->done();
  }
  for (auto &pkt : chunk) t_.send_to_client(std::move(pkt));
  if (!done) return;
  // The end of the recording: blocks closed, playing-back bit cleared, idle.
  end_playback(true);
  enter_mode(kModeIdle);
}

void TrackerControl::end_playback(bool send_close) {
  std::vector<uint8_t> close;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!pacer_) return;
    pacer_.reset();
    close = std::move(playback_close_);
    playback_close_.clear();
  }
  if (send_close && !close.empty()) t_.send_to_client(std::move(close));
}

uint64_t TrackerControl::playback_requests() const {
  std::lock_guard<std::mutex> lock(mu_);
  return playback_requests_;
}

// --- targets ---

bool TrackerControl::show_target(float x, float y) {
  char text[80];
  std::snprintf(text, sizeof text, "show_fixpoint %f %f", static_cast<double>(x),
                static_cast<double>(y));
  {
    std::lock_guard<std::mutex> lock(mu_);
    target_visible_ = true;
  }
  return send_status(0, kStatusShowTarget, position_value(x), position_value(y), text);
}

bool TrackerControl::hide_target() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    target_visible_ = false;
  }
  return send_status(0, kStatusHideTarget, 0, 0, "");
}

bool TrackerControl::calibration_info(uint16_t result, const std::string &text) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    last_info_ = std::make_pair(result, text);
  }
  return send_status(0, kStatusCalibrationInfo, result, 0, text);
}

bool TrackerControl::target_visible() const {
  std::lock_guard<std::mutex> lock(mu_);
  return target_visible_;
}

// Escape leaves a target screen: calibration and validation go back to the setup menu, an
// aborted drift correction reports result 27 and goes idle.
void TrackerControl::leave_target_mode(uint8_t from) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    steer_locked(std::nullopt);
    targets_.clear();
  }
  hide_target();
  if (from == kModeDriftCorrection) {
    calibration_info(27, "drift correction aborted");
    enter_mode(kModeIdle);
  } else {
    enter_mode(kModeSetupMenu);
  }
}

// --- keys ---

void TrackerControl::handle_key(const ReceivedPacket &p) {
  const std::optional<KeyPacket> key = decode_key(p.bytes);
  if (!key) return;
  ReceivedKey k;
  k.code = key->code;
  k.modifiers = key->modifiers;
  k.state = key->state;
  k.button = key->button;
  k.raw = key->raw;
  k.tracker_time_us = p.tracker_time_us;
  uint8_t mode_now = 0;
  uint16_t buttons = 0;
  {
    std::lock_guard<std::mutex> lock(mu_);
    keys_.push_back(k);
    mode_now = machine_.mode();
    buttons = buttons_;
  }
  if (k.code == kKeyFlush) {
    // The echo tells the display which buttons are held.
    send_key(kKeyFlush, static_cast<uint16_t>(buttons & 0xFF), 0);
    return;
  }
  if (k.button != 0) return;
  const bool setup = mode_now == kModeSetupMenu || mode_now == kModeCameraImage;
  if (k.code == kKeyEnter && is_target_mode(mode_now)) {
    if (mode_now == kModeDriftCorrection) {
      accept_drift_fixation();
      enter_mode(kModeIdle);
    } else {
      accept_calibration_fixation();
    }
  } else if (k.code == kKeyEscape && is_target_mode(mode_now)) {
    leave_target_mode(mode_now);
  } else if ((k.code == 'c' || k.code == 'v') && setup) {
    start_calibration(k.code == 'v');
  } else if (k.code == kKeyEnter && setup) {
    // Enter shows the camera image, or goes back to the setup menu from it.
    enter_mode(mode_now == kModeSetupMenu ? kModeCameraImage : kModeSetupMenu);
  } else if (k.code == kKeyEscape && setup) {
    enter_mode(kModeIdle);
  } else if ((k.code == kKeyLeft || k.code == kKeyRight) && setup) {
    std::lock_guard<std::mutex> lock(mu_);
    const int step = k.code == kKeyRight ? 1 : 2;  // 1 -> 2 -> 3 -> 1, or backwards
    camera_ = static_cast<uint8_t>((camera_ - 1 + step) % 3 + 1);
  } else if ((k.code == kKeyUp || k.code == kKeyDown) && setup) {
    std::lock_guard<std::mutex> lock(mu_);
    pupil_threshold_ = std::clamp(pupil_threshold_ + (k.code == kKeyUp ? 1 : -1), 1, 254);
  }
}

std::vector<ReceivedKey> TrackerControl::received_keys() const {
  std::lock_guard<std::mutex> lock(mu_);
  return keys_;
}

bool TrackerControl::send_key(uint16_t code, uint16_t modifiers, uint16_t raw, int8_t state) {
  // The display counts a key or flush packet from the tracker as 30 bytes (a button packet as
  // 32), so key packets stop before the raw-code field: two more bytes would be left over and
  // spoil the start of the next datagram. The raw code therefore does not travel.
  (void)raw;
  std::vector<uint8_t> pkt(kTrackerKeyPacketSize, 0);
  lvx::MutableBytes b(pkt);
  lvx::put_u8(b, 0, kKeyPkt);
  lvx::put_u32(b, 20, static_cast<uint32_t>(static_cast<uint64_t>(floor_ms(t_.now_us()))));
  lvx::put_u16(b, 24, code);
  lvx::put_u16(b, 26, modifiers);
  lvx::put_u8(b, 28, static_cast<uint8_t>(state));
  return t_.send_to_client(std::move(pkt));
}

bool TrackerControl::send_button(uint8_t number, bool pressed) {
  if (number < 1 || number > 15) return false;
  uint16_t mask = 0;
  {
    std::lock_guard<std::mutex> lock(mu_);
    auto bit = static_cast<uint16_t>(1u << (number - 1));
    buttons_ =
        pressed ? static_cast<uint16_t>(buttons_ | bit) : static_cast<uint16_t>(buttons_ & ~bit);
    mask = buttons_;
  }
  std::vector<uint8_t> pkt(kKeyPacketSize, 0);
  lvx::MutableBytes b(pkt);
  lvx::put_u8(b, 0, kKeyPkt);
  lvx::put_u32(b, 20, static_cast<uint32_t>(static_cast<uint64_t>(floor_ms(t_.now_us()))));
  lvx::put_u8(b, 28, static_cast<uint8_t>(pressed ? kButtonPressed : kButtonReleased));
  lvx::put_u8(b, 29, number);
  bool ok = t_.send_to_client(std::move(pkt));
  if (t_.streaming()) t_.inject_button(mask);
  return ok;
}

uint16_t TrackerControl::button_states() const {
  std::lock_guard<std::mutex> lock(mu_);
  return buttons_;
}

// --- the recording file ---

namespace {

// The DATA packets of a recording, composed again from its stream and start time (the stream
// engine gives the same bytes for them), with events when `events`.
std::vector<std::vector<uint8_t>> recording_packets(const RecordingRecord &rec, bool events) {
  StreamConfig sc = rec.stream;
  sc.events = events;
  StreamEngine engine(sc, rec.start_us, 1);
  std::vector<std::vector<uint8_t>> packets;
  StreamPacket open = engine.open_packet();
  if (!open.bytes.empty()) packets.push_back(std::move(open.bytes));
  while (engine.next_sample_time_us() <= rec.end_us && packets.size() < kMaxPlaybackPackets) {
    packets.push_back(engine.next_packet().bytes);
  }
  StreamPacket close =
      engine.close_packet(static_cast<uint32_t>(static_cast<uint64_t>(floor_ms(rec.end_us))));
  if (!close.bytes.empty()) packets.push_back(std::move(close.bytes));
  return packets;
}

}  // namespace

std::string TrackerControl::data_dir() {
  std::lock_guard<std::mutex> lock(file_mu_);
  if (!data_dir_.empty()) return data_dir_;
  if (!t_.config().data_dir.empty()) {
    data_dir_ = t_.config().data_dir;
    std::error_code ec;
    std::filesystem::create_directories(data_dir_, ec);
    return data_dir_;
  }
  std::string pattern = (std::filesystem::temp_directory_path() / "lvxsim_data_XXXXXX").string();
  if (::mkdtemp(pattern.data()) != nullptr) {
    data_dir_ = pattern;
    owns_data_dir_ = true;
  }
  return data_dir_;
}

std::optional<std::string> TrackerControl::open_file_path() const {
  std::lock_guard<std::mutex> lock(file_mu_);
  if (!file_) return std::nullopt;
  return file_->path();
}

std::optional<std::string> TrackerControl::last_file_path() const {
  std::lock_guard<std::mutex> lock(file_mu_);
  return last_file_;
}

int16_t TrackerControl::open_file(const std::string &text) {
  if (recording() || playing_back()) return kResultWrongMode;
  const std::string folder = data_dir();
  std::lock_guard<std::mutex> lock(file_mu_);
  std::optional<std::string> name = tracker_file_name(text, long_names_);
  if (!name) return kResultBadFileName;
  // A file still open is closed first, as the tracker does.
  if (file_) {
    write_pending_messages_locked();
    file_->close();
    last_file_ = file_->path();
    file_.reset();
  }
  const std::string path = (std::filesystem::path(folder) / *name).string();
  file_ = DataFileWriter::create(path, *name, t_.config().version_text, floor_ms(t_.now_us()));
  if (!file_) return kResultFileError;
  // Only what is stored from now on goes into this file.
  messages_written_ = t_.recorded_messages().size();
  return kResultOk;
}

int16_t TrackerControl::close_file() {
  if (recording()) return kResultWrongMode;
  std::lock_guard<std::mutex> lock(file_mu_);
  if (!file_) return kResultOk;
  write_pending_messages_locked();
  const bool ok = file_->close();
  last_file_ = file_->path();
  file_.reset();
  return ok ? kResultOk : kResultFileError;
}

void TrackerControl::write_pending_messages_locked() {
  if (!file_) return;
  const std::vector<RecordedMessage> all = t_.recorded_messages();
  if (messages_written_ > all.size()) messages_written_ = 0;  // the store was cleared
  for (size_t i = messages_written_; i < all.size(); ++i) {
    file_->message(all[i].time_ms, all[i].text);
  }
  messages_written_ = all.size();
}

void TrackerControl::write_recording(const RecordingRecord &rec) {
  std::lock_guard<std::mutex> lock(file_mu_);
  if (!file_) return;
  write_pending_messages_locked();
  if (rec.flags.file_samples || rec.flags.file_events) {
    for (const std::vector<uint8_t> &packet : recording_packets(rec, rec.flags.file_events)) {
      file_->data_packet(packet);
    }
  }
  file_->recording_end(floor_ms(rec.end_us));
}

// --- the abort menu ---

bool TrackerControl::open_abort_menu() {
  const bool was_recording = recording();
  enter_mode(kModeUserMenuFirst);
  return was_recording;
}

bool TrackerControl::choose_abort_entry(uint16_t entry) {
  if (mode() != kModeUserMenuFirst) return false;
  if (!send_status(0, kStatusUserMenu, 1, entry, "")) return false;
  if (entry == 1) enter_mode(kModeSetupMenu);
  return true;
}

// --- user menus ---

bool TrackerControl::select_user_menu(uint16_t menu, uint16_t selection) {
  if (menu < 1 || menu > kModeUserMenuLast - kModeUserMenuFirst + 1) return false;
  enter_mode(static_cast<uint8_t>(kModeUserMenuFirst + menu - 1));
  return send_status(0, kStatusUserMenu, menu, selection, "");
}

// --- backdrop ---

void TrackerControl::handle_image(const ReceivedPacket &p) {
  const std::optional<BitmapPacket> packet = decode_bitmap(p.bytes);
  if (!packet || packet->data.size() > kMaxBitmapPacketData) return;
  const std::optional<int16_t> ack = backdrop_.on_packet(packet->sequence, packet->data);
  if (!ack) return;
  send_bitmap_ack(*ack);
  // The display hears of the completion first; the image is drawn after.
  if (*ack == kBitmapComplete && backdrop_.show_completed()) after_backdrop_shown();
}

void TrackerControl::draw_image(const std::string &text) {
  std::istringstream in{std::string(command_value(text))};
  std::string name;
  in >> name;
  int x = 0, y = 0;
  in >> x >> y;
  static constexpr std::string_view kReceived = "/lvrx/data/recv/";
  const std::filesystem::path dir = data_dir();
  std::filesystem::path path;
  if (name.rfind(kReceived, 0) == 0) {
    path = dir / "recv" / name.substr(kReceived.size());
  } else if (!name.empty()) {
    path = dir / "recv" / name;
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) path = dir / name;
  }
  // The file may still be arriving: the display sends the command once its bytes are out.
  t_.wait_for_uploads(2000);
  std::ifstream file(path, std::ios::binary);
  if (path.empty() || !file) return;
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                   std::istreambuf_iterator<char>());
  std::optional<Backdrop> img = decode_bmp(bytes);
  if (!img) return;
  img->x = x;
  img->y = y;
  img->source = path.string();
  backdrop_.show(std::move(*img));
  after_backdrop_shown();
}

void TrackerControl::after_backdrop_shown() {
  if (!cfg_.backdrop_png.empty()) save_backdrop_png(cfg_.backdrop_png);
}

ReceivedBitmap TrackerControl::bitmap() const {
  return backdrop_.bitmap();
}

bool TrackerControl::send_bitmap_ack(int16_t value) {
  return send_status(0, kStatusBitmapAck, static_cast<uint16_t>(value), 0, "");
}

void TrackerControl::set_bitmap_faults(const BitmapFaults &faults) {
  backdrop_.set_faults(faults);
}

std::optional<Backdrop> TrackerControl::backdrop() const {
  return backdrop_.backdrop();
}

uint64_t TrackerControl::backdrops_shown() const {
  return backdrop_.shown();
}

bool TrackerControl::save_backdrop_png(const std::string &path, std::string *error) const {
  const std::optional<Backdrop> img = backdrop_.backdrop();
  if (!img) {
    if (error) *error = "no backdrop yet";
    return false;
  }
  return write_png(path, img->width, img->height, img->rgb, error);
}

// --- camera setup ---

double TrackerControl::noise() {
  // Sum of uniforms from a 64-bit linear congruential sequence: deterministic for a seed.
  double sum = 0;
  for (int i = 0; i < 4; ++i) {
    noise_state_ = noise_state_ * 6364136223846793005ull + 1442695040888963407ull;
    sum += static_cast<double>(noise_state_ >> 11) * (1.0 / 9007199254740992.0);
  }
  return (sum - 2.0) * std::sqrt(3.0);
}

namespace {
double as_double(float v) {
  return static_cast<double>(v);
}
}  // namespace

void TrackerControl::steer_locked(std::optional<TargetPoint> target) {
  gaze_target_ = target;
  // The streamed samples follow too (the streamer's lock comes after this one, never before).
  if (target) {
    t_.steer_gaze(std::make_pair(as_double(target->x), as_double(target->y)));
  } else {
    t_.steer_gaze(std::nullopt);
  }
}

CameraScene TrackerControl::scene_locked(int64_t now_us) const {
  CameraScene scene;
  scene.camera = camera_;
  scene.screen_width = cfg_.stream.screen_width;
  scene.screen_height = cfg_.stream.screen_height;
  const double t = static_cast<double>(now_us) / 1e6;
  if (gaze_target_) {
    scene.gaze_x = as_double(gaze_target_->x + (drift_corrected_ ? 0.0f : cfg_.drift_x));
    scene.gaze_y = as_double(gaze_target_->y + (drift_corrected_ ? 0.0f : cfg_.drift_y));
  } else if (pointer_) {
    scene.gaze_x = pointer_->first;
    scene.gaze_y = pointer_->second;
  } else {
    scene.gaze_x = scene.screen_width / 2.0 + 0.15 * scene.screen_width * std::sin(0.7 * t);
    scene.gaze_y = scene.screen_height / 2.0 + 0.12 * scene.screen_height * std::sin(1.1 * t);
  }
  // A blink of 150 ms every 4 s.
  const int64_t phase_ms = (now_us / 1000) % 4000;
  scene.blink = phase_ms < 150 ? 1.0 - std::fabs(static_cast<double>(phase_ms) - 75.0) / 75.0 : 0;
  scene.pupil_threshold = pupil_threshold_;
  scene.cr_threshold = cr_threshold_;
  scene.search_x = search_x_;
  scene.search_y = search_y_;
  scene.extended = extended_info_;
  scene.palette_id = 1;
  scene.frame = frame_;
  return scene;
}

void TrackerControl::on_image_request(const std::string &text) {
  unsigned kind = 0;
  int width = 0;
  int height = 0;
  const std::string value(command_value(text));
  if (std::sscanf(value.c_str(), "%x %d %d", &kind, &width, &height) != 3) return;
  width = std::clamp(width, 8, 512);
  height = std::clamp(height, 4, 1024);
  uint64_t generation = 0;
  int delay_ms = 0;
  {
    std::lock_guard<std::mutex> lock(mu_);
    ++camera_stats_.requests;
    generation = ++image_generation_;
    image_segments_.clear();
    next_segment_ = 0;
    // The camera takes a picture at its own rate: a request answers with the next one.
    const int64_t interval = 1000000 / std::max(1, cfg_.camera_fps);
    const int64_t wait = last_image_us_ + interval - t_.now_us();
    delay_ms = wait <= 0 ? 0 : static_cast<int>((wait + 999) / 1000);
  }
  t_.run_later(delay_ms,
               [this, generation, width, height] { send_image(generation, width, height); });
}

void TrackerControl::send_image(uint64_t generation, int width, int height) {
  CameraScene scene;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (generation != image_generation_) return;
    scene = scene_locked(t_.now_us());
    ++frame_;
  }
  CameraPicture pic = render_camera(scene, width, height);
  std::vector<uint8_t> stream = imgcode::encode_image(pic.pixels, width, height);
  auto segs = imgcode::segments(stream, pic.info, width, height, cfg_.camera_segment_bytes);
  std::vector<uint8_t> first;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (generation != image_generation_) return;
    first = segs.front();
    image_segments_ = std::move(segs);
    next_segment_ = 1;
    last_image_us_ = t_.now_us();
    ++camera_stats_.images;
    ++camera_stats_.segments;
    camera_stats_.width = width;
    camera_stats_.height = height;
  }
  t_.send_to_client(std::move(first));
}

void TrackerControl::on_image_ack() {
  std::vector<uint8_t> next;
  {
    std::lock_guard<std::mutex> lock(mu_);
    ++camera_stats_.acks;
    if (next_segment_ >= image_segments_.size()) return;
    next = image_segments_[next_segment_++];
    ++camera_stats_.segments;
  }
  t_.send_to_client(std::move(next));
}

void TrackerControl::on_global_click(const std::string &text) {
  float fx = 0;
  float fy = 0;
  const std::string value(command_value(text));
  if (std::sscanf(value.c_str(), "%f %f", &fx, &fy) != 2) return;
  CameraScene scene;
  {
    std::lock_guard<std::mutex> lock(mu_);
    search_x_ = std::clamp(static_cast<double>(fx), 0.0, 1.0);
    search_y_ = std::clamp(static_cast<double>(fy), 0.0, 1.0);
    scene = scene_locked(t_.now_us());
  }
  scene.camera = kCameraHead;
  CameraPicture pic = render_camera(scene, 64, 48);
  char limits[64];
  std::snprintf(limits, sizeof limits, "%.3f %.3f %.3f %.3f", pic.search_left, pic.search_top,
                pic.search_right, pic.search_bottom);
  set_variable("search_limits_drawbox", limits);
}

void TrackerControl::start_calibration(bool validate) {
  TargetPoint first{};
  {
    std::lock_guard<std::mutex> lock(mu_);
    targets_ = calibration_targets(calibration_points_, cfg_.stream.screen_width,
                                   cfg_.stream.screen_height);
    target_index_ = 0;
    validating_ = validate;
    fixations_.clear();
    first = targets_.front();
    steer_locked(first);
  }
  enter_mode(validate ? kModeValidation : kModeCalibration);
  show_target(first.x, first.y);
}

void TrackerControl::accept_calibration_fixation() {
  std::optional<TargetPoint> next;
  std::string done;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (target_index_ >= targets_.size()) {
      targets_.clear();
    } else {
      const double ppd = cfg_.stream.pixels_per_degree;
      const TargetPoint t = targets_[target_index_];
      // The eye lands on the target with the drift and a quarter of a degree of scatter; the
      // calibration takes the drift in, so a validation's error is the scatter alone.
      const double nx = 0.25 * ppd * noise();
      const double ny = 0.25 * ppd * noise();
      FixationRecord f;
      f.target_x = t.x;
      f.target_y = t.y;
      f.gaze_x = static_cast<float>(as_double(t.x + (drift_corrected_ ? 0.0f : cfg_.drift_x)) + nx);
      f.gaze_y = static_cast<float>(as_double(t.y + (drift_corrected_ ? 0.0f : cfg_.drift_y)) + ny);
      f.error_deg = std::hypot(nx, ny) / ppd;
      fixations_.push_back(f);
      ++target_index_;
      if (target_index_ < targets_.size()) {
        next = targets_[target_index_];
        steer_locked(next);
      } else {
        steer_locked(std::nullopt);
        const int n = static_cast<int>(targets_.size());
        char text[100];
        if (validating_) {
          ValidationReport r;
          r.points = fixations_;
          double ox = 0, oy = 0;
          for (const FixationRecord &p : fixations_) {
            r.average_deg += p.error_deg / n;
            r.max_deg = std::max(r.max_deg, p.error_deg);
            ox += as_double(p.gaze_x - p.target_x - (drift_corrected_ ? 0.0f : cfg_.drift_x)) / n;
            oy += as_double(p.gaze_y - p.target_y - (drift_corrected_ ? 0.0f : cfg_.drift_y)) / n;
          }
          const char *quality = r.average_deg < 0.5 && r.max_deg < 1.0   ? "GOOD"
                                : r.average_deg < 1.0 && r.max_deg < 1.5 ? "FAIR"
                                                                         : "POOR";
          std::snprintf(text, sizeof text,
                        "VALIDATION HV%d LR LEFT %s ERROR %.2f avg. %.2f max OFFSET %.2f deg. "
                        "%.1f,%.1f pix.",
                        n, quality, r.average_deg, r.max_deg, std::hypot(ox, oy) / ppd, ox, oy);
          r.text = text;
          last_validation_ = r;
        } else {
          std::snprintf(text, sizeof text, "CALIBRATION HV%d LR LEFT GOOD", n);
          last_calibration_ = fixations_;
        }
        done = text;
        targets_.clear();
      }
    }
  }
  send_status(0, kStatusFixationAccepted, 0, 0, "");
  if (next) {
    show_target(next->x, next->y);
  } else if (!done.empty()) {
    hide_target();
    calibration_info(0, done);
    enter_mode(kModeSetupMenu);
  }
}

void TrackerControl::accept_drift_fixation() {
  hide_target();
  calibration_info(0, drift_text());
}

std::string TrackerControl::drift_text() {
  std::lock_guard<std::mutex> lock(mu_);
  const double ppd = cfg_.stream.pixels_per_degree;
  const double dx = as_double(drift_corrected_ ? 0.0f : cfg_.drift_x) + 0.1 * ppd * noise();
  const double dy = as_double(drift_corrected_ ? 0.0f : cfg_.drift_y) + 0.1 * ppd * noise();
  last_drift_ = std::make_pair(static_cast<float>(dx), static_cast<float>(dy));
  drift_corrected_ = false;  // measured afresh; applied by "apply_last_drift_correction"
  steer_locked(std::nullopt);
  char text[100];
  std::snprintf(text, sizeof text, "DRIFTCORRECT LR LEFT OFFSET %.2f deg. %.1f,%.1f pix.",
                std::hypot(dx, dy) / ppd, dx, dy);
  return text;
}

CameraStats TrackerControl::camera_stats() const {
  std::lock_guard<std::mutex> lock(mu_);
  return camera_stats_;
}

uint8_t TrackerControl::camera() const {
  std::lock_guard<std::mutex> lock(mu_);
  return camera_;
}

void TrackerControl::set_camera(uint8_t code) {
  std::lock_guard<std::mutex> lock(mu_);
  if (code >= kCameraLeftEye && code <= kCameraRightEye) camera_ = code;
}

std::pair<double, double> TrackerControl::gaze() const {
  std::lock_guard<std::mutex> lock(mu_);
  CameraScene s = scene_locked(t_.now_us());
  return {s.gaze_x, s.gaze_y};
}

void TrackerControl::set_pointer(std::optional<std::pair<double, double>> pointer) {
  std::lock_guard<std::mutex> lock(mu_);
  pointer_ = pointer;
  t_.follow_pointer(pointer);  // the streamer's lock comes after this one
}

std::optional<std::pair<double, double>> TrackerControl::pointer() const {
  std::lock_guard<std::mutex> lock(mu_);
  return pointer_;
}

std::pair<double, double> TrackerControl::search_area() const {
  std::lock_guard<std::mutex> lock(mu_);
  return {search_x_, search_y_};
}

int TrackerControl::pupil_threshold() const {
  std::lock_guard<std::mutex> lock(mu_);
  return pupil_threshold_;
}

int TrackerControl::calibration_points() const {
  std::lock_guard<std::mutex> lock(mu_);
  return calibration_points_;
}

std::vector<FixationRecord> TrackerControl::last_calibration() const {
  std::lock_guard<std::mutex> lock(mu_);
  return last_calibration_;
}

std::optional<ValidationReport> TrackerControl::last_validation() const {
  std::lock_guard<std::mutex> lock(mu_);
  return last_validation_;
}

std::optional<std::pair<float, float>> TrackerControl::last_drift() const {
  std::lock_guard<std::mutex> lock(mu_);
  return last_drift_;
}

// --- sending ---

bool TrackerControl::send_status(uint32_t serial, uint16_t type, uint16_t v1, uint16_t v2,
                                 const std::string &text) {
  return t_.send_to_client(build::status_packet(serial, type, v1, v2, text));
}

bool TrackerControl::send_keepalive() {
  return send_status(0, kStatusMsgLost, 0, 0, "");
}

}  // namespace lvxsim
