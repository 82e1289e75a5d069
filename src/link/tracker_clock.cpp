// Tracker-clock estimate: the offset between the tracker's clock and the local clock, smoothed
// over the steady stream of packet headers.
#include "link/tracker_clock.h"

#include <cmath>
#include <mutex>

#include "link/clock.h"

namespace lvx {

// The offset follows the stream of headers: each header close in time and value moves it by a
// small share of its error, so that the jitter of single packets averages out; the first header
// after a reset, a restart or a gap sets it outright.
//
// A header far from the estimate (a jump) is held back until several consecutive headers agree
// on the new offset. Taking a lone far header at once, as a plain "replace when far" rule does,
// lets one stray or forged time stamp move the estimate anywhere; since reports never go
// backwards, a stamp far ahead then froze the reported time there until the next connection. A
// real change of the tracker's clock is still followed, a few headers late. Held-back headers
// leave the estimate, the gap timer and the count alone.
bool TrackerClock::update(double tracker_usec, double now_usec) {
  const double difference = tracker_usec - now_usec;
  const double error = difference - offset_usec_;
  const bool anchored = known() && last_update_local_usec_ >= 0.0;
  if (anchored && std::fabs(error) > kSmoothLimitUsec) {
    if (jump_run_ > 0 && std::fabs(difference - jump_offset_usec_) <= kSmoothLimitUsec) {
      ++jump_run_;
    } else {
      jump_offset_usec_ = difference;
      jump_run_ = 1;
    }
    if (jump_run_ < kJumpConfirmations) {
      ++held_back_count_;
      return false;
    }
  }
  jump_run_ = 0;
  // Headers that continue the stream are smoothed; the first after a reset, a restart or a gap,
  // and the confirmation of a jump, replace the offset.
  const bool continues = anchored && now_usec - last_update_local_usec_ <= kSmoothLimitUsec;
  if (continues && std::fabs(error) <= kSmoothLimitUsec)
    offset_usec_ += kSmoothGain * error;
  else
    offset_usec_ = difference;
  last_tracker_usec_ = tracker_usec;
  last_update_local_usec_ = now_usec;
  ++update_count_;
  return true;
}

void TrackerClock::reset() {
  last_tracker_usec_ = -1.0;
  last_update_local_usec_ = -1.0;
  offset_usec_ = 0.0;
  jump_run_ = 0;
}

void TrackerClock::restart() {
  last_report_usec_ = 0.0;
  last_report_local_usec_ = 0.0;
  last_update_local_usec_ = -1.0;
  jump_run_ = 0;
}

double TrackerClock::report(double now_usec) {
  if (!known()) return -1.0;
  const double estimate = offset_usec_ + now_usec;
  if (estimate > last_report_usec_) last_report_usec_ = estimate;
  last_report_local_usec_ = now_usec;
  return last_report_usec_;
}

double TrackerClock::report_offset(double now_usec) {
  if (!known()) return -1.0;
  report(now_usec);
  return last_report_usec_ - last_report_local_usec_;
}

uint32_t usec_to_msec_u32(double usec) {
  if (!(usec >= 0.0)) return 0;
  const double msec = std::floor(usec / 1000.0);
  return static_cast<uint32_t>(std::fmod(msec, 4294967296.0));
}

void tracker_clock_set_arrival(double local_usec) {
  thread_arrival_usec() = local_usec;
}

// The lock only throws when the system refuses it; the estimate then keeps its state.
void tracker_clock_update(double tracker_usec) {
  try {
    SharedTrackerClock &s = shared_tracker_clock();
    std::lock_guard<std::recursive_mutex> guard(s.lock);
    const double arrival = thread_arrival_usec();
    s.clock.update(tracker_usec, arrival >= 0.0 ? arrival : local_double_usec());
  } catch (...) {
  }
}

void tracker_clock_reset() {
  try {
    SharedTrackerClock &s = shared_tracker_clock();
    std::lock_guard<std::recursive_mutex> guard(s.lock);
    s.clock.reset();
  } catch (...) {
  }
}

void tracker_clock_restart() {
  try {
    SharedTrackerClock &s = shared_tracker_clock();
    std::lock_guard<std::recursive_mutex> guard(s.lock);
    s.clock.restart();
  } catch (...) {
  }
}

double tracker_time_usec() {
  try {
    SharedTrackerClock &s = shared_tracker_clock();
    std::lock_guard<std::recursive_mutex> guard(s.lock);
    return s.clock.report(local_double_usec());
  } catch (...) {
    return -1.0;
  }
}

double tracker_offset_usec() {
  try {
    SharedTrackerClock &s = shared_tracker_clock();
    std::lock_guard<std::recursive_mutex> guard(s.lock);
    return s.clock.report_offset(local_double_usec());
  } catch (...) {
    return -1.0;
  }
}

}  // namespace lvx
