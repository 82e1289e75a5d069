// The live gaze view: the newest sample as a cursor, fixations as they end, and how late the
// cursor is.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <mutex>

#include "lumavex_sdl.h"

namespace lvxsdl {

namespace {

// When each sample reached the library, by its time: written by the data-ready callback on the
// receive thread, read by the view.
struct Arrivals {
  struct Slot {
    bool used = false;
    uint32_t time = 0;
    double us = 0;
  };
  std::mutex mu;
  std::array<Slot, 4096> slots{};
  uint32_t last_time = 0;
  std::atomic<lumavex_data_ready_callback> chained{nullptr};
};

Arrivals &arrivals() {
  static auto *a = new Arrivals;  // the receive thread may still call in at exit
  return *a;
}

void note_arrival(int reason) {
  Arrivals &a = arrivals();
  if (reason == 2) {
    const double now = current_double_usec();
    float_sample s{};
    if (lumavex_newest_float_sample2(&s) >= 0) {
      std::lock_guard<std::mutex> lock(a.mu);
      if (!a.slots[s.time % a.slots.size()].used || a.last_time != s.time) {
        a.slots[s.time % a.slots.size()] = Arrivals::Slot{true, s.time, now};
        a.last_time = s.time;
      }
    }
  }
  if (lumavex_data_ready_callback next = a.chained.load()) next(reason);
}

double arrival_of(uint32_t time) {
  Arrivals &a = arrivals();
  std::lock_guard<std::mutex> lock(a.mu);
  const Arrivals::Slot &s = a.slots[time % a.slots.size()];
  return s.used && s.time == time ? s.us : 0.0;
}

bool valid(float v) {
  return v != MISSING_VALUE;
}

// Mean and 95th percentile of the values.
std::pair<double, double> summary(std::vector<double> v) {
  if (v.empty()) return {0, 0};
  double sum = 0;
  for (double x : v) sum += x;
  const size_t k = std::min(v.size() - 1, v.size() * 95 / 100);
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
  return {sum / static_cast<double>(v.size()), v[k]};
}

constexpr size_t kMarks = 12;     // fixations kept on screen
constexpr size_t kHistory = 120;  // frames the status line sums up

}  // namespace

GazeView::GazeView(Window &window) : window_(window) {
  previous_ = lumavex_get_data_ready_notify();
  arrivals().chained.store(previous_);
  lumavex_set_data_ready_notify(note_arrival);
}

GazeView::~GazeView() {
  lumavex_set_data_ready_notify(previous_);
  arrivals().chained.store(nullptr);
}

void GazeView::take_data() {
  float_data d[64];
  // Bounded, so that a flood cannot hold the frame back for long.
  for (int round = 0; round < 200; ++round) {
    const int n = lumavex_get_all_float_data(d, 64);
    if (n <= 0) break;
    for (int i = 0; i < n; ++i) {
      const int type = d[i].head.type;
      if (type == EV_SAMPLE) {
        const float_sample &s = d[i].fs;
        float x = 0, y = 0;
        int eyes = 0;
        for (int e = 0; e < 2; ++e) {
          if (!valid(s.gaze_x[e]) || !valid(s.gaze_y[e])) continue;
          x += s.gaze_x[e];
          y += s.gaze_y[e];
          ++eyes;
        }
        blink_ = eyes == 0;
        if (eyes > 0) {
          GazeFrame f;
          f.has_sample = true;
          f.sample_time = s.time;
          f.x = x / static_cast<float>(eyes);
          f.y = y / static_cast<float>(eyes);
          newest_ = f;
        }
      } else if (type == ENDFIX) {
        const float_event &e = d[i].fe;
        if (eye_ < 0) eye_ = e.eye;
        if (e.eye != eye_) continue;
        marks_.push_back(Fixation{e.avg_x, e.avg_y, e.end_time - e.start_time});
        if (marks_.size() > kMarks) marks_.erase(marks_.begin());
        ++fixations_seen_;
      }
    }
  }
}

void GazeView::draw(double now_us) {
  lvxcanvas::Framebuffer &fb = window_.canvas().screen();
  fb.fill(kBackground);
  auto px = [](float v) { return static_cast<int>(v + 0.5f); };
  for (size_t i = 1; i < marks_.size(); ++i) {
    fb.line(px(marks_[i - 1].x), px(marks_[i - 1].y), px(marks_[i].x), px(marks_[i].y), kPath);
  }
  for (const Fixation &m : marks_) {
    // The longer the fixation, the larger its ring.
    const int r = 6 + static_cast<int>(std::min<uint32_t>(m.duration_ms, 750) / 25);
    fb.circle(px(m.x), px(m.y), r, kFixation);
    fb.circle(px(m.x), px(m.y), r - 1, kFixation);
  }
  if (newest_ && !blink_) fb.disc(px(newest_->x), px(newest_->y), kCursorRadius, kCursor);

  std::string status;
  char part[200];
  if (newest_ && !blink_) {
    std::snprintf(part, sizeof part, "gaze %4.0f, %4.0f", static_cast<double>(newest_->x),
                  static_cast<double>(newest_->y));
    status = part;
  } else {
    status = newest_ ? "gaze lost (blink)" : "no gaze yet";
  }
  const auto [mean, p95] = summary(latencies_ms_);
  int fps = 0;
  for (double t : shown_at_us_) fps += now_us - t <= 1e6 ? 1 : 0;
  std::snprintf(part, sizeof part,
                "   arrival to screen %.1f ms (95%% %.1f)   sample age %.1f ms   %d frames/s   "
                "%d fixations",
                mean, p95, last_age_ms_, fps, fixations_seen_);
  status += part;
  window_.font().draw(fb, 10, 8, status, kText);
}

void GazeView::frame() {
  const double started = current_double_usec();
  take_data();
  draw(started);
  window_.present();
  GazeFrame f = newest_.value_or(GazeFrame{});
  if (blink_) f.has_sample = false;
  f.drawn_us = started;
  f.shown_us = current_double_usec();
  if (f.has_sample) {
    f.arrival_us = arrival_of(f.sample_time);
    if (f.arrival_us > 0) latencies_ms_.push_back((f.shown_us - f.arrival_us) / 1000.0);
    // The sample's moment on the display's clock, by the tracker-clock estimate.
    const double taken_ms = f.sample_time - lumavex_double_msec_offset();
    f.sample_age_ms = f.shown_us / 1000.0 - taken_ms;
    last_age_ms_ = f.sample_age_ms;
  }
  if (latencies_ms_.size() > kHistory) latencies_ms_.erase(latencies_ms_.begin());
  shown_at_us_.push_back(f.shown_us);
  if (shown_at_us_.size() > kHistory) shown_at_us_.erase(shown_at_us_.begin());
  ++frames_;
  if (on_frame) on_frame(f);
}

}  // namespace lvxsdl
