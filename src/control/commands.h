// The command channel: command packets with serial numbers, and the ring of their results.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "link/user_calls.h"
#include "lumavex_core.h"

namespace lvx {

constexpr int kResultRingSize = 100;
// Results for serials further back than this from the newest are dropped.
constexpr uint32_t kLateResultWindow = 80;

// Command packet field offsets: the serial in the header, then the value, the type, the data
// length and the data (the text with its zero byte); two zero bytes end the packet.
namespace cmd_pkt {
constexpr size_t kSerial = 4, kValue = 20, kType = 25, kDataLength = 26, kData = 28;
// Bytes of a command packet besides its data.
constexpr size_t kOverhead = 30;
}  // namespace cmd_pkt

// eyecmd_printf formats at most this many characters.
constexpr size_t kMaxFormattedCommand = 992;

// Command packet types (the type field of a command packet).
enum CommandType : uint8_t {
  CMD_READ_REQUEST = 21,
  CMD_COMMAND = 22,
  CMD_TIME_REQUEST = 40,
  CMD_IMAGE_ACK = 50,
  CMD_FILE_CONTROL = 60,
  CMD_PLAYBACK_REQUEST = 61,
};

// The ring of the 100 most recent command serials and their results. Pure: the process-wide
// instance is guarded by the link lock.
class ResultRing {
 public:
  // Every slot to (0xFFFFFFFF, -1), the newest index to 0.
  void seed();
  bool seeded() const { return index_ >= 0; }
  struct Slot {
    uint32_t serial = 0xFFFFFFFF;
    int16_t result = -1;
  };
  // Advances the newest index and writes (serial, NO_REPLY) there; returns what the slot held.
  Slot push(uint32_t serial);
  // Takes back a push whose packet was never sent: restores the slot it overwrote when it is
  // still the newest, else marks it unused so that no result can be filed for it.
  void retract(uint32_t serial, Slot previous);
  // Files a result for a serial within the late-result window; false when dropped.
  bool file(uint32_t serial, int16_t result);
  // The result for a serial (0: the newest slot), NO_REPLY when not held.
  int16_t lookup(uint32_t serial) const;

 private:
  int find(uint32_t serial) const;
  Slot slots_[kResultRingSize];
  int index_ = -1;
};

// The command channel's process-wide record. The ring and the last result text are guarded by
// the link lock (the receive thread files results while holding it); the serial counter is
// advanced only under the same lock. `send_lock` is held by a sender from drawing its serial to
// the end of its send, so that serials leave in the order they were drawn; the receive thread
// never takes it. Order: send_lock, then the link lock.
struct CommandChannel {
  LibraryMutex<std::mutex> send_lock;
  uint32_t serial = 1;
  ResultRing ring;
  char last_text[200] = {};
  // Count of results filed, so that a waiter can watch for news without taking the lock.
  std::atomic<uint32_t> filed{0};
};
CommandChannel &command_channel();

// The bytes of one command packet (see cmd_pkt). An image acknowledgement with no text carries
// one data byte.
std::vector<uint8_t> encode_command_packet(uint32_t serial, uint8_t type, const char *text,
                                           uint32_t value);

// Restarts the serial counter at `start` and clears the result ring.
void seed_command_serial(uint32_t start);

// Called with a command's serial (and the caller's context) under the link lock, before the
// packet leaves, so that whatever the caller files under that serial is in place when the answer
// is handled.
using SerialDrawn = void (*)(uint32_t serial, void *context);

// Sends one command packet of `type` with optional text to dest. Returns the new serial (> 0),
// -100 when the send failed, or 0 without sending in dummy mode. Serials reach the tracker in the
// order they were drawn, whichever threads send. The caller holds no link lock.
int64_t send_cmd_pkt(uint8_t type, const char *text, uint32_t value, const LVXADDR &dest,
                     SerialDrawn on_drawn = nullptr, void *context = nullptr);

// Files a command result for a serial (receive thread, link lock held).
void file_command_result(uint32_t serial, int16_t result, const char *text, int text_length);

// The result held for serial (0: the newest command), NO_REPLY when not held.
int16_t get_command_result_for_sn(uint32_t serial);

// Waits up to msec for the result of serial (0: the newest command); NO_REPLY when the time runs
// out.
int16_t wait_for_result(uint32_t serial, uint32_t msec);

// Sends a tracker command and waits up to msec for its result: the result, NO_REPLY when none
// came, 0 when skipped (dummy, quiet, relay, "set_idle_mode" while idle), -3 for a bad or too
// long text, or -100 when not connected or the send failed.
int16_t timed_command(uint32_t msec, const char *text);
// Sends a tracker command without waiting (the two waited kinds still wait): 0 once sent, or the
// codes of timed_command.
int16_t send_command(const char *text);

// The result of the newest command: NO_REPLY while none came, 0 in dummy mode, -100 while the
// link system is closed.
int16_t command_result();
// Sends a formatted command text, piece by piece where the tracker needs its lines apart
// (command_pieces), waiting for each piece's answer before the next; returns the last piece's
// result. The waits of one call share 5 s in all, so that a long text to a tracker that does not
// answer cannot hold the caller for minutes: every piece is still sent, in order, but once the
// 5 s are spent the rest go out without waiting and the result is the last piece's result as it
// stands on return (NO_REPLY when its answer has not come).
int16_t send_command_pieces(const char *text);
// Copies the text of the last command result into buf (when not null) and returns its length;
// 0 in dummy mode or while the link system is closed.
int16_t last_command_message(char *buf);

}  // namespace lvx
