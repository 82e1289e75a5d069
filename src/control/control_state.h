// The tracker-control record: what the tracker reported through status and key packets, and the
// state of the requests, keys and buttons the application exchanges with it.
//
// Written by the receive thread (status and key packets) while it holds the link lock, and by
// application threads. Fields that application threads poll without the lock are atomics; the
// rest are read and written under the link lock.
#pragma once

#include <atomic>
#include <cstdint>

namespace lvx {

constexpr int kKeyQueueSize = 16;
constexpr uint16_t kNoReplyYet = 1000;  // reply state and calibration result while none came
// The result for a text that is missing or too long for the tracker's packets.
constexpr int16_t kBadText = -3;

struct TrackerKey {
  int16_t code = 0;
  uint8_t modifiers = 0;
  uint8_t state = 0;
  uint16_t raw = 0;
  uint32_t time = 0;
};

// The 16 newest keys from the tracker; enqueueing into a full queue drops the oldest.
class KeyQueue {
 public:
  void push(const TrackerKey &k);
  bool pop(TrackerKey *k);
  void clear() { read_ = write_ = count_ = 0; }
  int size() const { return count_; }

 private:
  TrackerKey keys_[kKeyQueueSize];
  int read_ = 0;
  int write_ = 0;
  int count_ = 0;
};

struct ControlState {
  // Setup: 0 camera setup opens the setup menu, nonzero the imaging mode.
  std::atomic<int16_t> setup_default{0};

  // Read requests (link lock for the texts).
  uint32_t request_serial = 0;
  std::atomic<uint16_t> reply_state{kNoReplyYet};
  char reply_text[200] = {};

  // Time requests.
  std::atomic<uint32_t> time_serial{0};
  std::atomic<uint32_t> tracker_time{0};

  // Calibration and drift correction (link lock for the message).
  char cal_message[100] = {};
  int16_t cal_result = static_cast<int16_t>(kNoReplyYet);
  uint32_t last_cal_poll = 0;
  float target_x = 0;
  float target_y = 0;
  std::atomic<int16_t> target_visible{0};

  // User menu (cleared by the header echo when the tracker enters a user menu).
  std::atomic<int16_t> menu{0};
  std::atomic<int16_t> menu_selection{0};
  std::atomic<int16_t> menu_selection_count{0};

  // Bitmap acknowledgements (link lock).
  int16_t ack_count = 0;
  int16_t ack_error = 0;
  uint32_t last_ack_serial = 0;

  // Keys and buttons from the tracker (link lock).
  KeyQueue keys;
  std::atomic<uint16_t> button_states{0};
  uint16_t button_change = 0;  // the button mask with 0x100 set; 0: no change since read
  uint32_t button_change_time = 0;
  uint16_t last_button = 0;  // 0: none
  uint32_t last_button_time = 0;
  bool buttons_as_keys = true;

  std::atomic<bool> playback{false};
  std::atomic<int16_t> remembered_eye{-1};
};

ControlState &control_state();

}  // namespace lvx
