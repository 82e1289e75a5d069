#include "data/record_conversion.h"

#include <algorithm>
#include <cstring>

#include "data/item_decoder.h"

namespace lvx {

namespace {

// ---- Float conversion -------------------------------------------------------------------------

// A prescaler of 0 would divide by zero; the stream never sends one, so it is taken as 1.
float divisor(uint16_t prescaler) {
  return prescaler == 0 ? 1.0f : static_cast<float>(prescaler);
}

float scaled(int16_t v, float div) {
  return v == kMissingInt ? kMissingFloat : static_cast<float>(v) / div;
}

float sample_pupil_size(uint16_t v) {
  if (v == kMissingWord) return kMissingFloat;
  if (v > kMissingWord) return static_cast<float>(static_cast<int>(v) - 65536);
  return static_cast<float>(v);
}

void sample_to_float(const link_sample_item &s, const link_state &status, float_sample &f) {
  const float pos_div = divisor(status.position_prescaler);
  f.time = s.time;
  f.type = s.type;
  f.flags = s.flags;
  const bool block_gaze = (s.flags & SF_BLOCKS) && s.gaze_x[0] == kMissingInt &&
                          s.gaze_x[1] == kMissingInt && s.gaze_y[0] == kMissingInt &&
                          s.gaze_y[1] == kMissingInt;
  for (int e = 0; e < 2; ++e) {
    f.pupil_x[e] = static_cast<float>(s.pupil_x[e]);
    f.pupil_y[e] = static_cast<float>(s.pupil_y[e]);
    f.href_x[e] = static_cast<float>(s.href_x[e]);
    f.href_y[e] = static_cast<float>(s.href_y[e]);
    f.pupil_size[e] = sample_pupil_size(s.pupil_size[e]);
    f.gaze_x[e] = block_gaze ? s.float_gaze_x[e] : scaled(s.gaze_x[e], pos_div);
    f.gaze_y[e] = block_gaze ? s.float_gaze_y[e] : scaled(s.gaze_y[e], pos_div);
  }
  f.res_x = scaled(static_cast<int16_t>(s.res_x), pos_div);
  f.res_y = scaled(static_cast<int16_t>(s.res_y), pos_div);
  f.status = s.status;
  f.input = s.input;
  f.buttons = s.buttons;
  f.aux_type = s.aux_type;
  std::copy(std::begin(s.aux_data), std::end(s.aux_data), f.aux_data);
  // Block values 1..12 are spread over the extra fields; see the record's declaration.
  for (int i = 0; i < 3; ++i) {
    f.extra_a[0][i] = s.block[6 + i];
    f.extra_a[1][i] = s.block[9 + i];
    f.extra_b[0][i] = s.block2[i];
    f.extra_b[1][i] = s.block2[3 + i];
  }
  f.extra_word = s.block_word;
  f.extra_c[0] = s.block[2];
  f.extra_c[1] = s.block[5];
  f.extra_d[0][0] = s.block[0];
  f.extra_d[0][1] = s.block[1];
  f.extra_d[1][0] = s.block[3];
  f.extra_d[1][1] = s.block[4];
  f.extra3_lead[0] = s.block3[0];
  f.extra3_lead[1] = s.block3[1];
  f.extra3_point[0] = s.block3[2];
  f.extra3_point[1] = s.block3[3];
  for (int i = 0; i < 5; ++i) {
    f.extra3_points[i][0] = s.block3[4 + i];
    f.extra3_points[i][1] = s.block3[9 + i];
  }
}

void event_to_float(const link_event_item &e, const link_state &status, float_event &f) {
  const float pos_div = divisor(status.position_prescaler);
  const float vel_div = divisor(status.velocity_prescaler);
  const bool pupil_xy = (e.read & RF_PUPIL_XY) != 0;
  auto position = [&](int16_t v) { return pupil_xy ? static_cast<float>(v) : scaled(v, pos_div); };
  f.time = e.time;
  f.type = e.type;
  f.read = e.read;
  f.eye = e.eye;
  f.start_time = e.start_time;
  f.end_time = e.end_time;
  f.start_href_x = static_cast<float>(e.start_href_x);
  f.start_href_y = static_cast<float>(e.start_href_y);
  f.start_x = position(e.start_x);
  f.start_y = position(e.start_y);
  // Event pupil sizes are taken as unsigned: an absent one (0x8000) reads 32768.
  f.start_pupil_size = static_cast<float>(e.start_pupil_size);
  f.end_href_x = static_cast<float>(e.end_href_x);
  f.end_href_y = static_cast<float>(e.end_href_y);
  f.end_x = position(e.end_x);
  f.end_y = position(e.end_y);
  f.end_pupil_size = static_cast<float>(e.end_pupil_size);
  f.avg_href_x = static_cast<float>(e.avg_href_x);
  f.avg_href_y = static_cast<float>(e.avg_href_y);
  f.avg_x = position(e.avg_x);
  f.avg_y = position(e.avg_y);
  f.avg_pupil_size = static_cast<float>(e.avg_pupil_size);
  f.avg_velocity = scaled(e.avg_velocity, vel_div);
  f.peak_velocity = scaled(e.peak_velocity, vel_div);
  f.start_velocity = scaled(e.start_velocity, vel_div);
  f.end_velocity = scaled(e.end_velocity, vel_div);
  f.start_res_x = scaled(e.start_res_x, pos_div);
  f.end_res_x = scaled(e.end_res_x, pos_div);
  f.start_res_y = scaled(e.start_res_y, pos_div);
  f.end_res_y = scaled(e.end_res_y, pos_div);
  f.status = e.status;
  if ((e.read & RF_EXTENDED) == 0) {
    for (auto &p : f.ext_pairs_a) std::fill(std::begin(p), std::end(p), kMissingFloat);
    for (auto &p : f.ext_pairs_b) std::fill(std::begin(p), std::end(p), kMissingFloat);
    for (auto &t : f.ext_triplets_a) std::fill(std::begin(t), std::end(t), kMissingFloat);
    for (auto &t : f.ext_triplets_b) std::fill(std::begin(t), std::end(t), kMissingFloat);
    return;
  }
  // The 36 floats: two sets of three pairs (x of each pair, then y of each), two sets of three
  // triplets (element 0 of each, then element 1, then element 2), then six positions.
  const float *x = e.extended;
  for (int p = 0; p < 3; ++p) {
    f.ext_pairs_a[p][0] = x[p];
    f.ext_pairs_a[p][1] = x[3 + p];
    f.ext_pairs_b[p][0] = x[6 + p];
    f.ext_pairs_b[p][1] = x[9 + p];
  }
  for (int t = 0; t < 3; ++t) {
    for (int k = 0; k < 3; ++k) {
      f.ext_triplets_a[t][k] = x[12 + 3 * k + t];
      f.ext_triplets_b[t][k] = x[21 + 3 * k + t];
    }
  }
  f.end_x = x[30];
  f.start_x = x[31];
  f.avg_x = x[32];
  f.end_y = x[33];
  f.start_y = x[34];
  f.avg_y = x[35];
}

// ---- Double conversion ------------------------------------------------------------------------

void sample_to_double(const float_sample &f, double_sample &d) {
  d.time = static_cast<double>(f.time);
  d.flags = f.flags;
  // Two samples with the same full time were half a millisecond apart.
  if (f.flags & SF_HALF_MS) {
    d.time += 0.5;
    d.flags = static_cast<uint16_t>(f.flags & ~SF_HALF_MS);
  }
  d.type = f.type;
  // Every field is carried, the block-3 fields after extra_d included, whichever path the sample
  // came by.
  std::copy(std::begin(f.pupil_x), std::end(f.pupil_x), d.pupil_x);
  std::copy(std::begin(f.pupil_y), std::end(f.pupil_y), d.pupil_y);
  std::copy(std::begin(f.href_x), std::end(f.href_x), d.href_x);
  std::copy(std::begin(f.href_y), std::end(f.href_y), d.href_y);
  std::copy(std::begin(f.pupil_size), std::end(f.pupil_size), d.pupil_size);
  std::copy(std::begin(f.gaze_x), std::end(f.gaze_x), d.gaze_x);
  std::copy(std::begin(f.gaze_y), std::end(f.gaze_y), d.gaze_y);
  d.res_x = f.res_x;
  d.res_y = f.res_y;
  d.status = f.status;
  d.input = f.input;
  d.buttons = f.buttons;
  d.aux_type = f.aux_type;
  std::copy(std::begin(f.aux_data), std::end(f.aux_data), d.aux_data);
  for (int r = 0; r < 2; ++r) {
    std::copy(std::begin(f.extra_a[r]), std::end(f.extra_a[r]), d.extra_a[r]);
    std::copy(std::begin(f.extra_b[r]), std::end(f.extra_b[r]), d.extra_b[r]);
    std::copy(std::begin(f.extra_d[r]), std::end(f.extra_d[r]), d.extra_d[r]);
  }
  d.extra_word = f.extra_word;
  std::copy(std::begin(f.extra_c), std::end(f.extra_c), d.extra_c);
  std::copy(std::begin(f.extra3_lead), std::end(f.extra3_lead), d.extra3_lead);
  std::copy(std::begin(f.extra3_point), std::end(f.extra3_point), d.extra3_point);
  for (int i = 0; i < 5; ++i) {
    std::copy(std::begin(f.extra3_points[i]), std::end(f.extra3_points[i]), d.extra3_points[i]);
  }
}

void event_to_double(const float_event &f, double_event &d) {
  d.time = static_cast<double>(f.time);
  d.type = f.type;
  d.read = f.read;
  d.eye = f.eye;
  d.start_time = static_cast<double>(f.start_time);
  d.end_time = static_cast<double>(f.end_time);
  d.start_href_x = f.start_href_x;
  d.start_href_y = f.start_href_y;
  d.start_x = f.start_x;
  d.start_y = f.start_y;
  d.start_pupil_size = f.start_pupil_size;
  d.end_href_x = f.end_href_x;
  d.end_href_y = f.end_href_y;
  d.end_x = f.end_x;
  d.end_y = f.end_y;
  d.end_pupil_size = f.end_pupil_size;
  d.avg_href_x = f.avg_href_x;
  d.avg_href_y = f.avg_href_y;
  d.avg_x = f.avg_x;
  d.avg_y = f.avg_y;
  d.avg_pupil_size = f.avg_pupil_size;
  d.avg_velocity = f.avg_velocity;
  d.peak_velocity = f.peak_velocity;
  d.start_velocity = f.start_velocity;
  d.end_velocity = f.end_velocity;
  d.start_res_x = f.start_res_x;
  d.end_res_x = f.end_res_x;
  d.start_res_y = f.start_res_y;
  d.end_res_y = f.end_res_y;
  d.status = f.status;
  for (int p = 0; p < 3; ++p) {
    std::copy(std::begin(f.ext_pairs_a[p]), std::end(f.ext_pairs_a[p]), d.ext_pairs_a[p]);
    std::copy(std::begin(f.ext_pairs_b[p]), std::end(f.ext_pairs_b[p]), d.ext_pairs_b[p]);
    std::copy(std::begin(f.ext_triplets_a[p]), std::end(f.ext_triplets_a[p]), d.ext_triplets_a[p]);
    std::copy(std::begin(f.ext_triplets_b[p]), std::end(f.ext_triplets_b[p]), d.ext_triplets_b[p]);
  }
}

}  // namespace

bool to_float(const link_data_item &item, const link_state &status, float_data &out) {
  const int type = item.head.type;
  if (type == EV_SAMPLE) {
    std::memset(&out, 0, sizeof out);
    sample_to_float(item.sample, status, out.fs);
    return true;
  }
  if (is_parsed_event(type)) {
    std::memset(&out, 0, sizeof out);
    event_to_float(item.event, status, out.fe);
    return true;
  }
  return false;
}

bool to_double(int type, const float_data &in, double_data &out) {
  if (type == EV_SAMPLE) {
    std::memset(&out, 0, sizeof out);
    sample_to_double(in.fs, out.fs);
    return true;
  }
  // Saccades, fixations and fixation updates (3..9), the block markers (their raw item in the
  // slot) and the lost-data record are carried field by field in the event layout.
  if ((type >= STARTSACC && type <= 9) || is_block_marker(type) || type == EV_LOST_DATA) {
    std::memset(&out, 0, sizeof out);
    event_to_double(in.fe, out.fe);
    return true;
  }
  if (type == EV_MESSAGE) {
    std::memset(&out, 0, sizeof out);
    out.im.time = static_cast<double>(in.im.time);
    out.im.type = in.im.type;
    out.im.length = in.im.length;
    std::memcpy(out.im.text, in.im.text, sizeof out.im.text);
    return true;
  }
  if (type == EV_BUTTONS || type == EV_INPUT) {
    std::memset(&out, 0, sizeof out);
    out.io.time = static_cast<double>(in.io.time);
    out.io.type = in.io.type;
    out.io.data = in.io.data;
    return true;
  }
  // Blinks (1, 2), type 10 and every other type have no double form.
  return false;
}

}  // namespace lvx
