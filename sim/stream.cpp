// The tracker's data stream: packet composition, faults, and the paced sending thread.
#include "sim/stream.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <iterator>

#include "common/byte_io.h"
#include "common/wire_reader.h"
#include "platform/clock.h"

namespace lvxsim {

namespace {

using build::kMissing16;
using build::kMissingFloat;
using build::XY;

int16_t saturate16(double v) {
  // -32768 is the wire's "missing", so real values stop one short of it.
  double r = std::round(v);
  if (r > 32767.0) return 32767;
  if (r < -32767.0) return -32767;
  return static_cast<int16_t>(r);
}

uint16_t saturate_u16(double v) {
  double r = std::round(v);
  if (r < 0.0) return 0;
  if (r > 65535.0) return 65535;
  return static_cast<uint16_t>(r);
}

float wire_float(bool valid, double v) {
  return valid ? static_cast<float>(v) : kMissingFloat;
}

// A float as the display stores it from the wire (1e8 means missing).
float decoded_float(float v) {
  return v == kMissingFloat ? -32768.0f : v;
}

float unscaled(int16_t v) {
  return static_cast<float>(v);
}

uint8_t rate_code(int rate_hz) {
  switch (rate_hz) {
    case 250:
      return 1;
    case 500:
      return 2;
    case 1000:
      return 3;
    case 2000:
      return 4;
    default:
      return 0;
  }
}

bool is_marker(uint8_t type) {
  return type >= EV_SAMPLE_BLOCK_START && type <= EV_EVENT_BLOCK_END;
}

SentEvent marker_event(uint8_t type, uint32_t time) {
  SentEvent e;
  e.type = type;
  e.time = time;
  return e;
}

// Sleeps until the monotonic clock reaches `deadline_ns`, in slices short enough to notice a stop.
void sleep_until(int64_t deadline_ns, const std::atomic<bool> &stop) {
  constexpr int64_t kSliceUs = 20000;
  while (!stop.load()) {
    int64_t left = deadline_ns - lvx::platform::counter_now();
    if (left <= 0) return;
    lvx::platform::sleep_us(std::min((left + 999) / 1000, kSliceUs));
  }
}

}  // namespace

// --- StreamEngine ---

StreamEngine::StreamEngine(const StreamConfig &config, int64_t start_time_us,
                           uint32_t first_sequence)
    : config_(config),
      model_([&] {
        EyeModelConfig m;
        m.rate_hz = config.rate_hz;
        m.eyes = config.eyes;
        m.seed = config.seed;
        m.screen_width = config.screen_width;
        m.screen_height = config.screen_height;
        m.pixels_per_degree = config.pixels_per_degree;
        m.start_time_us = start_time_us;
        m.mean_blink_interval_s = config.mean_blink_interval_s;
        m.screen_distance_px = config.screen_distance_px;
        m.screen_tilt_deg = config.screen_tilt_deg;
        return m;
      }()),
      next_sequence_(first_sequence) {
  config_.samples_per_packet = std::max(1, config_.samples_per_packet);
  config_.full_time_every = std::max(1, config_.full_time_every);
  config_.aux_words = std::min<uint8_t>(config_.aux_words, 8);
  if (config_.position_prescaler == 0) config_.position_prescaler = 1;
  if (config_.velocity_prescaler == 0) config_.velocity_prescaler = 1;
  if (config_.pupil_prescaler == 0) config_.pupil_prescaler = 1;
  if (config_.raw_camera != RawPacking::kNone) {
    config_.href_corners = false;
    config_.sample_content |=
        SF_PUPIL_XY | SF_HREF_XY | SF_GAZE_XY | SF_RESOLUTION | SF_PUPIL_SIZE | SF_INPUT | SF_AUX;
  }
  if (config_.href_corners) {
    config_.sample_content |= SF_AUX;
    corner_words_ = corner_aux_words(model_.geometry());
  }
}

uint16_t StreamEngine::sample_flags() const {
  constexpr uint16_t kNotContent = SF_LEFT | SF_RIGHT | SF_FULL_TIME | SF_HALF_MS | SF_SAMPLE;
  auto f = static_cast<uint16_t>((config_.sample_content & ~kNotContent) | SF_SAMPLE);
  if (tracks(config_.eyes, 0)) f |= SF_LEFT;
  if (tracks(config_.eyes, 1)) f |= SF_RIGHT;
  return f;
}

uint16_t StreamEngine::mode_word() const {
  if (config_.mode_word != 0) return config_.mode_word;
  return static_cast<uint16_t>(0x0100 | (rate_code(config_.rate_hz) << 4) |
                               static_cast<uint16_t>(config_.eyes));
}

uint64_t StreamEngine::next_sample_index() const {
  return carry_ ? carry_->sample.index : model_.samples_produced();
}

int64_t StreamEngine::next_sample_time_us() const {
  return model_.time_us_of(next_sample_index());
}

int64_t StreamEngine::next_packet_due_us() const {
  uint64_t last = next_sample_index() + static_cast<uint64_t>(config_.samples_per_packet) - 1;
  return model_.time_us_of(last);
}

int16_t StreamEngine::position(double px) const {
  return saturate16(px * config_.position_prescaler);
}

int16_t StreamEngine::velocity(double deg_per_s) const {
  return saturate16(deg_per_s * config_.velocity_prescaler);
}

build::SampleFields StreamEngine::encode_sample(const ModelSample &s, bool full_time, uint8_t delta,
                                                raw_values (&unpacked)[2]) {
  build::SampleFields w;
  w.flags = sample_flags();
  if (full_time) w.flags |= SF_FULL_TIME;
  w.time = full_time ? s.time_ms : 0;
  w.delta = full_time ? 0 : delta;
  for (int eye = 0; eye < 2; ++eye) {
    const EyeSample &e = s.eye[eye];
    if (!tracks(config_.eyes, eye) || !e.valid) continue;  // fields stay missing, size 0
    w.pupil[eye] = XY{saturate16(e.pupil_x), saturate16(e.pupil_y)};
    w.href[eye] = XY{saturate16(e.href_x), saturate16(e.href_y)};
    w.gaze[eye] = XY{position(e.gaze_x), position(e.gaze_y)};
    w.pupil_size[eye] = saturate_u16(e.pupil_size);
  }
  w.res_x = position(s.res_x);
  w.res_y = position(s.res_y);
  w.status = config_.sample_status;
  w.input = input_;
  w.buttons = buttons_;
  if (w.flags & SF_AUX) {
    w.aux_type = config_.aux_words;
    for (size_t i = 0; i < config_.aux_words; ++i) {
      w.aux[i] = static_cast<uint16_t>((s.index + i) & 0xFFFF);
    }
  }
  pack_extras(s, w, unpacked);
  if (w.flags & SF_BLOCKS) {
    // Raw camera values per eye: pupil x, y and area, corneal reflection x, y and area.
    std::array<int16_t, 12> raw;
    raw.fill(kMissing16);
    std::array<float, 12> raw_f;
    raw_f.fill(kMissingFloat);
    for (int eye = 0; eye < 2; ++eye) {
      const EyeSample &e = s.eye[eye];
      if (!e.valid) continue;
      double v[6] = {e.pupil_x, e.pupil_y, e.pupil_size, e.pupil_x - 310.0, e.pupil_y + 95.0, 58.0};
      for (size_t i = 0; i < 6; ++i) {
        raw[static_cast<size_t>(eye) * 6 + i] = saturate16(v[i]);
        raw_f[static_cast<size_t>(eye) * 6 + i] = static_cast<float>(v[i]);
      }
    }
    const EyeSample &l = s.eye[0];
    const EyeSample &r = s.eye[1];
    const EyeSample &any = l.valid ? l : r;
    for (uint8_t kind : config_.block_kinds) {
      if (kind == kBlockRaw) {
        w.blocks.push_back(build::block_type1(raw));
      } else if (kind == kBlockFloatGaze) {
        build::Block2 b;
        b.values = raw_f;
        b.word = static_cast<uint32_t>(s.index);
        // Per eye: distance to the target in mm and the target's camera position.
        for (int eye = 0; eye < 2; ++eye) {
          const EyeSample &e = s.eye[eye];
          size_t at = static_cast<size_t>(eye) * 3;
          b.values2[at] = wire_float(e.valid, 600.0);
          b.values2[at + 1] = wire_float(e.valid, e.pupil_x * 0.1);
          b.values2[at + 2] = wire_float(e.valid, e.pupil_y * 0.1);
        }
        b.left_gaze_x = wire_float(l.valid, l.gaze_x);
        b.left_gaze_y = wire_float(l.valid, l.gaze_y);
        b.right_gaze_x = wire_float(r.valid, r.gaze_x);
        b.right_gaze_y = wire_float(r.valid, r.gaze_y);
        w.blocks.push_back(build::block_type2(b));
      } else if (kind == kBlockPoints || kind == kBlockPointsShort) {
        // Leads: the pupil areas; candidates and points: the reflections around the pupil.
        std::array<float, 2> lead{wire_float(l.valid, l.pupil_size),
                                  wire_float(r.valid, r.pupil_size)};
        std::array<float, 10> points;
        for (size_t i = 0; i < 5; ++i) {
          double angle = static_cast<double>(i) * 1.2566370614359172;
          points[i] = wire_float(any.valid, any.pupil_x + 40.0 * std::cos(angle));
          points[5 + i] = wire_float(any.valid, any.pupil_y + 40.0 * std::sin(angle));
        }
        if (kind == kBlockPoints) {
          std::array<float, 6> cand{
              wire_float(any.valid, any.gaze_x - 1.0), wire_float(any.valid, any.gaze_x),
              wire_float(any.valid, any.gaze_x + 1.0), wire_float(any.valid, any.gaze_y - 1.0),
              wire_float(any.valid, any.gaze_y),       wire_float(any.valid, any.gaze_y + 1.0)};
          w.blocks.push_back(build::block_type3(lead, cand, points));
        } else {
          std::array<float, 2> point{wire_float(any.valid, any.gaze_x),
                                     wire_float(any.valid, any.gaze_y)};
          w.blocks.push_back(build::block_type3(lead, point, points));
        }
      }
    }
  }
  if (w.flags & SF_SKIP_CHUNKS) {
    // One chunk with the sample number, which a display that does not know it steps over.
    auto i = static_cast<uint32_t>(s.index);
    w.skip_chunks.push_back({static_cast<uint8_t>(i >> 24), static_cast<uint8_t>(i >> 16),
                             static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)});
  }
  return w;
}

void StreamEngine::pack_extras(const ModelSample &s, build::SampleFields &w,
                               raw_values (&raw)[2]) const {
  if (config_.raw_camera != RawPacking::kNone) {
    const double cx = config_.screen_width / 2.0;
    const double cy = config_.screen_height / 2.0;
    const CameraEye eyes[2] = {camera_eye(s.eye[0], 0, cx, cy), camera_eye(s.eye[1], 1, cx, cy)};
    pack_raw_camera(config_.raw_camera, eyes, w, raw);
  } else if (config_.href_corners) {
    w.aux_type = kHrefCornersAuxType;
    w.aux = corner_words_;
  }
}

SentSample StreamEngine::describe(const ModelSample &s, const build::SampleFields &w) const {
  SentSample out;
  out.index = s.index;
  out.velocity = s.velocity;
  out.time_us = s.time_us;
  out.time_ms = s.time_ms;
  out.wire = w;
  out.phase = s.phase;
  const uint16_t f = w.flags;
  const uint16_t pp = config_.position_prescaler;
  for (int eye = 0; eye < 2; ++eye) {
    bool present = (f & (eye == 0 ? SF_LEFT : SF_RIGHT)) != 0;
    auto i = static_cast<size_t>(eye);
    auto pick = [&](uint16_t flag, int16_t v, bool scale) {
      if (!present || !(f & flag)) return -32768.0f;
      return scale ? build::scaled(v, pp) : unscaled(v);
    };
    out.pupil_x[i] = pick(SF_PUPIL_XY, w.pupil[i].x, false);
    out.pupil_y[i] = pick(SF_PUPIL_XY, w.pupil[i].y, false);
    out.href_x[i] = pick(SF_HREF_XY, w.href[i].x, false);
    out.href_y[i] = pick(SF_HREF_XY, w.href[i].y, false);
    out.gaze_x[i] = pick(SF_GAZE_XY, w.gaze[i].x, true);
    out.gaze_y[i] = pick(SF_GAZE_XY, w.gaze[i].y, true);
    // Sizes are unsigned on the wire; an eye not sent reads 0x8000.
    out.pupil_size[i] =
        present && (f & SF_PUPIL_SIZE) ? static_cast<float>(w.pupil_size[i]) : -32768.0f;
  }
  out.res_x = (f & SF_RESOLUTION) ? build::scaled(w.res_x, pp) : -32768.0f;
  out.res_y = (f & SF_RESOLUTION) ? build::scaled(w.res_y, pp) : -32768.0f;
  if (f & SF_BLOCKS) {
    // A type-2 block replaces the 16-bit gaze of both eyes with its floats.
    for (const auto &b : w.blocks) {
      if (b.type != 2 || b.data.size() != 92) continue;
      float g[4];
      lvx::WireReader block{lvx::Bytes(b.data)};
      for (size_t k = 0; k < 4; ++k) {
        g[k] = decoded_float(std::bit_cast<float>(block.u32_at(76 + 4 * k)));
      }
      out.gaze_x[0] = g[0];
      out.gaze_y[0] = g[1];
      out.gaze_x[1] = g[2];
      out.gaze_y[1] = g[3];
    }
  }
  return out;
}

build::ParsedEvent StreamEngine::encode_event(const ModelEvent &e) const {
  build::ParsedEvent p;
  p.type = e.type;
  p.eye = e.eye;
  p.start_time = e.start_ms;
  auto gaze = [&](double x, double y) { return XY{position(x), position(y)}; };
  auto href = [](double x, double y) { return XY{saturate16(x), saturate16(y)}; };
  auto res = [&](double x, double y) { return XY{position(x), position(y)}; };
  switch (e.type) {
    case STARTBLINK:
      break;
    case ENDBLINK:
      p.end_time = e.end_ms;
      break;
    case STARTSACC:
      p.start_gaze = gaze(e.start_x, e.start_y);
      p.start_href = href(e.start_href_x, e.start_href_y);
      p.start_res = res(e.start_res_x, e.start_res_y);
      break;
    case STARTFIX:
      p.start_gaze = gaze(e.start_x, e.start_y);
      p.start_href = href(e.start_href_x, e.start_href_y);
      p.start_pupil_size = saturate_u16(e.start_pupil);
      p.start_res = res(e.start_res_x, e.start_res_y);
      break;
    case ENDSACC:
    case ENDFIX:
      p.end_time = e.end_ms;
      p.start_gaze = gaze(e.start_x, e.start_y);
      p.end_gaze = gaze(e.end_x, e.end_y);
      p.start_href = href(e.start_href_x, e.start_href_y);
      p.end_href = href(e.end_href_x, e.end_href_y);
      if (e.type == ENDFIX) {
        p.avg_gaze = gaze(e.avg_x, e.avg_y);
        p.avg_href = href(e.avg_href_x, e.avg_href_y);
        p.start_pupil_size = saturate_u16(e.start_pupil);
        p.end_pupil_size = saturate_u16(e.end_pupil);
        p.avg_pupil_size = saturate_u16(e.avg_pupil);
      }
      p.start_velocity = velocity(e.start_velocity);
      p.end_velocity = velocity(e.end_velocity);
      p.avg_velocity = velocity(e.avg_velocity);
      p.peak_velocity = velocity(e.peak_velocity);
      p.start_res = res(e.start_res_x, e.start_res_y);
      p.end_res = res(e.end_res_x, e.end_res_y);
      p.status = config_.sample_status;
      break;
    default:
      break;
  }
  return p;
}

StreamPacket StreamEngine::finish(std::vector<build::Item> items, StreamPacket p) {
  build::DataPacketFields f;
  f.sequence = p.sequence;
  f.position_prescaler = config_.position_prescaler;
  f.velocity_prescaler = config_.velocity_prescaler;
  f.pupil_prescaler = config_.pupil_prescaler;
  f.packet_flags = config_.packet_flags;
  if (f.packet_flags == 0) {
    if (tracks(config_.eyes, 0)) f.packet_flags |= 0x8000;
    if (tracks(config_.eyes, 1)) f.packet_flags |= 0x4000;
  }
  f.rate_x10 = static_cast<uint16_t>(std::clamp(config_.rate_hz * 10, 0, 65535));
  p.bytes = build::data_packet(f, items);
  for (auto &s : p.samples) s.sequence = p.sequence;
  for (auto &e : p.events) e.sequence = p.sequence;
  return p;
}

StreamPacket StreamEngine::open_packet() {
  StreamPacket p;
  if (!config_.block_markers) return p;
  p.sequence = next_sequence_++;
  p.markers = true;
  p.last_time_us = next_sample_time_us();
  int64_t ms = p.last_time_us / 1000 - (p.last_time_us % 1000 < 0 ? 1 : 0);
  auto time = static_cast<uint32_t>(static_cast<uint64_t>(ms));
  std::vector<build::Item> items;

  build::SampleBlockStart s;
  s.time = time;
  s.rate_x10 = static_cast<uint16_t>(std::clamp(config_.rate_hz * 10, 0, 65535));
  s.position_prescaler = config_.position_prescaler;
  s.velocity_prescaler = config_.velocity_prescaler;
  s.pupil_prescaler = config_.pupil_prescaler;
  s.block_word = config_.sample_block_word;
  s.rate_word = static_cast<uint16_t>(std::clamp(config_.rate_hz, 1, 10000));
  s.mode_word = mode_word();
  s.sample_flags = sample_flags();
  items.push_back({true, build::sample_block_start_body(s)});
  p.events.push_back(marker_event(EV_SAMPLE_BLOCK_START, time));

  if (config_.events) {
    build::EventBlockStart e;
    e.time = time;
    e.mode_word = mode_word();
    e.event_data_flags = config_.event_data_flags;
    e.event_type_flags = static_cast<uint16_t>(config_.event_types & 0x3FFF);
    if (tracks(config_.eyes, 0)) e.event_type_flags |= 0x8000;
    if (tracks(config_.eyes, 1)) e.event_type_flags |= 0x4000;
    items.push_back({true, build::event_block_start_body(e)});
    p.events.push_back(marker_event(EV_EVENT_BLOCK_START, time));
  }
  return finish(std::move(items), std::move(p));
}

StreamPacket StreamEngine::close_packet(uint32_t time_ms) {
  StreamPacket p;
  if (!config_.block_markers) return p;
  p.sequence = next_sequence_++;
  p.markers = true;
  p.last_time_us = int64_t{time_ms} * 1000;
  std::vector<build::Item> items;
  items.push_back({true, build::block_end_body(EV_SAMPLE_BLOCK_END, time_ms)});
  p.events.push_back(marker_event(EV_SAMPLE_BLOCK_END, time_ms));
  if (config_.events) {
    items.push_back({true, build::block_end_body(EV_EVENT_BLOCK_END, time_ms)});
    p.events.push_back(marker_event(EV_EVENT_BLOCK_END, time_ms));
  }
  return finish(std::move(items), std::move(p));
}

void StreamEngine::queue_message(uint32_t time_ms, std::string text) {
  pending_.push_back({EV_MESSAGE, time_ms, 0, std::move(text)});
}

void StreamEngine::queue_buttons(uint16_t buttons) {
  pending_.push_back({EV_BUTTONS, 0, buttons, {}});
}

void StreamEngine::queue_input(uint16_t input) {
  pending_.push_back({EV_INPUT, 0, input, {}});
}

StreamPacket StreamEngine::next_packet() {
  StreamPacket p;
  p.sequence = next_sequence_++;
  std::vector<build::Item> items;
  // Buttons and inputs take effect from this packet's first sample; their events follow it.
  std::vector<Pending> pending;
  pending.swap(pending_);
  for (const Pending &q : pending) {
    if (q.type == EV_BUTTONS) buttons_ = q.data;
    if (q.type == EV_INPUT) input_ = q.data;
  }
  size_t area = 0;
  const auto per_packet = static_cast<size_t>(config_.samples_per_packet);
  for (size_t i = 0; i < per_packet; ++i) {
    ModelStep step;
    if (carry_) {
      step = std::move(*carry_);
      carry_.reset();
    } else {
      step = model_.next();
    }
    const ModelSample &s = step.sample;
    bool full = s.index % static_cast<uint64_t>(config_.full_time_every) == 0 ||
                !previous_time_ms_ || s.time_ms - *previous_time_ms_ > 255;
    auto delta = static_cast<uint8_t>(previous_time_ms_ ? s.time_ms - *previous_time_ms_ : 0);
    raw_values raw[2]{};
    build::SampleFields w = encode_sample(s, full, delta, raw);

    // This sample's items: the sample, its events, and (first sample only) the queued events.
    std::vector<build::Item> chunk;
    std::vector<SentEvent> chunk_events;
    chunk.push_back({false, build::sample_body(w)});
    if (config_.events) {
      for (const ModelEvent &e : step.events) {
        build::ParsedEvent pe = encode_event(e);
        chunk.push_back({true, build::parsed_event_body(pe)});
        SentEvent ev;
        ev.type = pe.type;
        ev.eye = pe.eye;
        ev.time = build::parsed_event_record_time(pe);
        ev.read = build::parsed_event_read_flags(pe);
        ev.floats =
            build::parsed_event_floats(pe, config_.position_prescaler, config_.velocity_prescaler);
        ev.parsed = std::move(pe);
        chunk_events.push_back(std::move(ev));
      }
      if (i == 0) {
        for (Pending &q : pending) {
          SentEvent ev;
          ev.type = q.type;
          if (q.type == EV_MESSAGE) {
            ev.time = q.time;
            chunk.push_back({true, build::message_body(q.time, q.text)});
            ev.text = std::move(q.text);
          } else {
            ev.time = s.time_ms;
            ev.data = q.data;
            chunk.push_back({true, q.type == EV_BUTTONS ? build::button_body(s.time_ms, q.data)
                                                        : build::input_body(s.time_ms, q.data)});
          }
          chunk_events.push_back(std::move(ev));
        }
      }
    }
    // A sample that would take the packet past its cap waits for the next packet (a packet
    // always takes its first sample, however large).
    size_t size = build::item_area_length(chunk);
    if (i > 0 && area + size + build::kDataOverhead > config_.max_packet_bytes) {
      carry_ = std::move(step);
      break;
    }
    area += size;
    SentSample sent = describe(s, w);
    std::copy(std::begin(raw), std::end(raw), std::begin(sent.raw));
    if (full) {
      sent.half_ms = last_full_time_ && *last_full_time_ == s.time_ms;
      last_full_time_ = s.time_ms;
    }
    previous_time_ms_ = s.time_ms;
    p.last_time_us = s.time_us;
    p.samples.push_back(std::move(sent));
    for (auto &it : chunk) items.push_back(std::move(it));
    for (auto &ev : chunk_events) p.events.push_back(std::move(ev));
  }
  return finish(std::move(items), std::move(p));
}

// --- FaultInjector ---

FaultInjector::FaultInjector(const StreamConfig &config)
    : drop_rate_(config.drop_rate),
      duplicate_rate_(config.duplicate_rate),
      reorder_rate_(config.reorder_rate),
      // Its own sequence, so that faults do not change the eye's.
      rng_(config.seed ^ 0x9E3779B97F4A7C15ull) {}

bool FaultInjector::draw(double rate) {
  if (rate <= 0.0) return false;
  double u = static_cast<double>(rng_() >> 11) * (1.0 / 9007199254740992.0);
  return u < rate;
}

std::vector<FaultInjector::Out> FaultInjector::route(StreamPacket p) {
  std::vector<Out> out;
  if (held_) {
    out.push_back({std::move(p), false});
    out.push_back({std::move(*held_), false});
    held_.reset();
    ++reordered_;
    return out;
  }
  bool drop = drop_pending_ > 0 || draw(drop_rate_);
  if (drop) {
    if (drop_pending_ > 0) --drop_pending_;
    ++dropped_;
    return out;
  }
  bool duplicate = duplicate_pending_ > 0 || draw(duplicate_rate_);
  if (duplicate) {
    if (duplicate_pending_ > 0) --duplicate_pending_;
    ++duplicated_;
    out.push_back({p, false});
    out.push_back({std::move(p), true});
    return out;
  }
  bool swap = swap_pending_ > 0 || draw(reorder_rate_);
  if (swap) {
    if (swap_pending_ > 0) --swap_pending_;
    held_ = std::move(p);
    return out;
  }
  out.push_back({std::move(p), false});
  return out;
}

std::vector<FaultInjector::Out> FaultInjector::flush() {
  std::vector<Out> out;
  if (held_) {
    out.push_back({std::move(*held_), false});
    held_.reset();
  }
  return out;
}

// --- Streamer ---

Streamer::Streamer(SendFn send, ClockFn clock_us)
    : send_(std::move(send)), clock_us_(std::move(clock_us)) {}

Streamer::~Streamer() {
  stop();
}

bool Streamer::start(const StreamConfig &config) {
  std::lock_guard<std::mutex> run_lock(run_mu_);
  if (config.rate_hz < 1 || config.rate_hz > 10000 || config.position_prescaler == 0 ||
      config.velocity_prescaler == 0 || config.pupil_prescaler == 0) {
    return false;
  }
  StreamPacket open;
  int64_t start_ns = lvx::platform::counter_now();
  int64_t start_us = clock_us_();
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (running_) return false;
    config_ = config;
    engine_.emplace(config, start_us, next_sequence_);
    engine_->look_at(gaze_target_);
    engine_->follow(pointer_);
    faults_.emplace(config);
    stats_ = StreamStats{};
    stats_.first_sequence = next_sequence_;
    samples_.clear();
    events_.clear();
    open = engine_->open_packet();
    running_ = true;
  }
  if (!open.bytes.empty()) transmit(open, false);
  stop_.store(false);
  thread_ = std::thread([this, start_ns, start_us] {
    // Sample k is due when the monotonic clock has moved on by the k-th sample's time since
    // the start: absolute deadlines, so late wake-ups do not add up.
    while (!stop_.load()) {
      int64_t due_us;
      {
        std::lock_guard<std::mutex> lock(mu_);
        due_us = engine_->next_packet_due_us();
      }
      sleep_until(start_ns + (due_us - start_us) * 1000, stop_);
      if (stop_.load()) break;
      StreamPacket p;
      {
        std::lock_guard<std::mutex> lock(mu_);
        p = engine_->next_packet();
      }
      route_and_send(std::move(p));
    }
  });
  return true;
}

void Streamer::stop() {
  std::lock_guard<std::mutex> run_lock(run_mu_);
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!running_) return;
  }
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
  std::vector<FaultInjector::Out> rest;
  StreamPacket close;
  {
    std::lock_guard<std::mutex> lock(mu_);
    rest = faults_->flush();
    int64_t now = clock_us_();
    int64_t ms = now / 1000 - (now % 1000 < 0 ? 1 : 0);
    close = engine_->close_packet(static_cast<uint32_t>(static_cast<uint64_t>(ms)));
  }
  for (auto &o : rest) transmit(o.packet, o.repeat);
  if (!close.bytes.empty()) transmit(close, false);
  std::lock_guard<std::mutex> lock(mu_);
  next_sequence_ = engine_->next_sequence();
  running_ = false;
}

uint32_t Streamer::next_sequence() const {
  std::lock_guard<std::mutex> lock(mu_);
  return next_sequence_;
}

void Streamer::set_next_sequence(uint32_t next) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!running_) next_sequence_ = next;
}

bool Streamer::running() const {
  std::lock_guard<std::mutex> lock(mu_);
  return running_;
}

StreamStats Streamer::stats() const {
  std::lock_guard<std::mutex> lock(mu_);
  StreamStats s = stats_;
  if (faults_) {
    s.packets_dropped = faults_->dropped();
    s.packets_duplicated = faults_->duplicated();
    s.packets_reordered = faults_->reordered();
  }
  if (engine_) s.last_sequence = engine_->next_sequence() - 1;
  return s;
}

void Streamer::drop_next_packets(uint32_t n) {
  std::lock_guard<std::mutex> lock(mu_);
  if (faults_) faults_->drop_next(n);
}

void Streamer::duplicate_next_packet() {
  std::lock_guard<std::mutex> lock(mu_);
  if (faults_) faults_->duplicate_next();
}

void Streamer::swap_next_two_packets() {
  std::lock_guard<std::mutex> lock(mu_);
  if (faults_) faults_->swap_next_two();
}

bool Streamer::inject_buttons(uint16_t buttons) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!running_) return false;
  engine_->queue_buttons(buttons);
  return true;
}

void Streamer::steer(std::optional<std::pair<double, double>> target) {
  std::lock_guard<std::mutex> lock(mu_);
  gaze_target_ = target;
  if (engine_) engine_->look_at(target);
}

void Streamer::follow(std::optional<std::pair<double, double>> pointer) {
  std::lock_guard<std::mutex> lock(mu_);
  pointer_ = pointer;
  if (engine_) engine_->follow(pointer);
}

bool Streamer::inject_input(uint16_t input) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!running_) return false;
  engine_->queue_input(input);
  return true;
}

bool Streamer::inject_message(uint32_t time_ms, std::string text) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!running_ || !config_.events) return false;
  engine_->queue_message(time_ms, std::move(text));
  return true;
}

void Streamer::set_data_observer(std::function<void(const SentDataPacket &)> observer) {
  std::lock_guard<std::mutex> lock(mu_);
  data_observer_ = std::move(observer);
}

void Streamer::set_sample_observer(std::function<void(const SentSample &)> observer) {
  std::lock_guard<std::mutex> lock(mu_);
  sample_observer_ = std::move(observer);
}

void Streamer::set_event_observer(std::function<void(const SentEvent &)> observer) {
  std::lock_guard<std::mutex> lock(mu_);
  event_observer_ = std::move(observer);
}

std::vector<SentSample> Streamer::recent_samples(size_t count) const {
  std::lock_guard<std::mutex> lock(mu_);
  size_t n = std::min(count, samples_.size());
  return std::vector<SentSample>(samples_.end() - static_cast<std::ptrdiff_t>(n), samples_.end());
}

std::vector<SentEvent> Streamer::recent_events(size_t count) const {
  std::lock_guard<std::mutex> lock(mu_);
  size_t n = std::min(count, events_.size());
  return std::vector<SentEvent>(events_.end() - static_cast<std::ptrdiff_t>(n), events_.end());
}

void Streamer::route_and_send(StreamPacket p) {
  // Stamped with the tracker's time now, before the faults repeat a packet or hold it back, so
  // that it keeps the time it was first sent, as a network would deliver it.
  if (p.bytes.size() >= 14) {
    const int64_t us = clock_us_();
    const int64_t ms = us >= 0 ? us / 1000 : (us - 999) / 1000;
    lvx::MutableBytes b(p.bytes);
    lvx::put_u32(b, 8, static_cast<uint32_t>(static_cast<uint64_t>(ms)));
    lvx::put_u16(b, 12, static_cast<uint16_t>(us - ms * 1000));
  }
  std::vector<FaultInjector::Out> outs;
  {
    std::lock_guard<std::mutex> lock(mu_);
    outs = faults_->route(std::move(p));
  }
  for (auto &o : outs) transmit(o.packet, o.repeat);
}

void Streamer::transmit(const StreamPacket &p, bool repeat) {
  // The record of what was sent is complete before the display can see the packet: history and
  // the sample and event observers come first, the data observer after the send.
  std::function<void(const SentSample &)> on_sample;
  std::function<void(const SentEvent &)> on_event;
  if (!repeat) {
    std::lock_guard<std::mutex> lock(mu_);
    for (const auto &s : p.samples) {
      samples_.push_back(s);
      if (samples_.size() > config_.history) samples_.pop_front();
    }
    for (const auto &e : p.events) {
      events_.push_back(e);
      if (events_.size() > config_.history) events_.pop_front();
    }
    on_sample = sample_observer_;
    on_event = event_observer_;
  }
  if (on_sample) {
    for (const auto &s : p.samples) on_sample(s);
  }
  if (on_event) {
    for (const auto &e : p.events) on_event(e);
  }

  bool ok = send_(p.bytes);
  SentDataPacket d;
  d.sent_ns = lvx::platform::counter_now();
  d.sequence = p.sequence;
  d.samples = static_cast<int>(p.samples.size());
  d.markers = p.markers;
  d.repeat = repeat;
  d.bytes = p.bytes.size();
  int markers = 0;
  for (const auto &e : p.events) {
    if (is_marker(e.type)) ++markers;
  }
  d.events = static_cast<int>(p.events.size()) - markers;
  if (!p.samples.empty()) {
    d.first_sample_time = p.samples.front().time_ms;
    d.last_sample_time = p.samples.back().time_ms;
  } else if (!p.events.empty()) {
    d.first_sample_time = d.last_sample_time = p.events.front().time;
  }

  std::function<void(const SentDataPacket &)> on_data;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!ok) {
      ++stats_.send_failures;
    } else {
      ++stats_.packets_sent;
      if (!repeat) {
        stats_.samples += p.samples.size();
        stats_.events += static_cast<uint64_t>(d.events);
        stats_.markers += static_cast<uint64_t>(markers);
        if (!p.samples.empty()) stats_.last_sample_time = p.samples.back().time_ms;
      }
    }
    on_data = data_observer_;
  }
  if (ok && on_data) on_data(d);
}

}  // namespace lvxsim
