// Estimate of the tracker's clock, formed from the time stamps in the headers of the tracker's
// packets.
#pragma once

#include <cstdint>
#include <mutex>

namespace lvx {

// The estimator itself, with local times passed in so that it can be driven deterministically.
// Not thread-safe; the process-wide instance behind the functions below is locked.
class TrackerClock {
 public:
  // Headers closer together than this, and errors smaller than this, are smoothed. A header
  // within this of the estimate after a longer gap replaces the offset outright.
  static constexpr double kSmoothLimitUsec = 25000.0;
  // Share of each error that a smoothed header moves the offset by.
  static constexpr double kSmoothGain = 0.02;
  // A header further than kSmoothLimitUsec from the estimate is a jump. One alone is not taken:
  // it replaces the offset only as the last of this many consecutive jumped headers that agree
  // with each other (within kSmoothLimitUsec of the first of them).
  static constexpr int kJumpConfirmations = 3;

  // A tracker time stamp `tracker_usec` arrived at local time `now_usec`. False when the header
  // was held back as a jump not (yet) confirmed.
  bool update(double tracker_usec, double now_usec);

  // Forgets the tracker time (link reset, clock initialisation). Earlier reports still bound
  // later ones until restart().
  void reset();

  // Starts a new connection: the next header replaces the offset, and reports may start lower.
  void restart();

  // Estimated tracker time at local time `now_usec`, never below an earlier report since the last
  // restart(); -1.0 when no tracker time is known.
  double report(double now_usec);

  // Tracker time minus local time at `now_usec`, taken from report(); -1.0 when unknown.
  double report_offset(double now_usec);

  bool known() const { return last_tracker_usec_ >= 0.0; }
  double offset_usec() const { return offset_usec_; }
  double last_tracker_usec() const { return last_tracker_usec_; }
  // Headers taken (held-back jumps are not counted).
  uint64_t update_count() const { return update_count_; }
  // Headers held back as unconfirmed jumps since the clock was made.
  uint64_t held_back_count() const { return held_back_count_; }

 private:
  double last_tracker_usec_ = -1.0;       // negative: no tracker time known
  double offset_usec_ = 0.0;              // tracker time minus local time
  double last_update_local_usec_ = -1.0;  // negative: no header since reset or restart
  uint64_t update_count_ = 0;
  uint64_t held_back_count_ = 0;
  double jump_offset_usec_ = 0.0;  // the offset the first header of a run of jumps implies
  int jump_run_ = 0;               // consecutive jumped headers that agree with it
  double last_report_usec_ = 0.0;  // floor of reports
  double last_report_local_usec_ = 0.0;
};

// The process-wide estimate and the tracker-clock lock that guards it.
struct SharedTrackerClock {
  std::recursive_mutex lock;
  TrackerClock clock;
};
SharedTrackerClock &shared_tracker_clock();

// The arrival time that tracker_clock_set_arrival keeps: a field of the calling thread's record.
double &thread_arrival_usec() noexcept;

// The functions over the process-wide estimate. tracker_clock_update is called by the receive
// thread with the time stamp of every tracker packet header.
void tracker_clock_update(double tracker_usec);
// The local time (us) the datagram now being walked arrived, for the calling thread (the receive
// thread): headers read from it are taken as of that time, not of the moment the walk reaches
// them, which leaves the receive thread's wake-up and the walk itself out of the estimate's
// error. Negative: the moment of the update.
void tracker_clock_set_arrival(double local_usec);
void tracker_clock_reset();
void tracker_clock_restart();

// The estimated tracker time now, in microseconds (never below an earlier report since the last
// restart), and the tracker time minus the local time; both -1.0 while no tracker time is known.
double tracker_time_usec();
double tracker_offset_usec();

// A time in microseconds as whole milliseconds, rounded down and reduced modulo 2^32; 0 for a
// negative (unknown) time.
uint32_t usec_to_msec_u32(double usec);

}  // namespace lvx
