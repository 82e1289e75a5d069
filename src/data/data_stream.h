// The data stream's process-wide record: the data-stream status (link_state), the decoder
// state, the data queue, the newest-sample buffer, the delivery switches and the data-ready
// callback; and the receive thread's intake of DATA_PKT packets.
//
// Locks: `data_lock` (re-entrant) guards the status, the decoder state, the intake's sequence
// and the newest-sample buffer; the receive thread holds it for a whole data packet, a reader for
// one item at a time. `queue_lock` guards the queue. `reader_lock` makes the readers take their
// batches one reader at a time; the receive thread never takes it. Order: reader_lock, the link
// lock, data_lock, queue_lock; nothing takes the link lock while holding data_lock. All three are
// library locks: the data-ready notices and alerts raised under them are made once the thread has
// released its last library lock (link/user_calls.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "common/byte_io.h"
#include "data/data_queue.h"
#include "data/item_decoder.h"
#include "link/user_calls.h"
#include "lumavex_core.h"

namespace lvx {

// A sample item is queued with at most this many bytes, and the newest-sample buffer holds as
// many.
constexpr size_t kSampleItemLimit = 230;

// Sends the tracker a request for more playback data.
using PlaybackRequester = void (*)();

struct DataStream {
  LibraryMutex<std::mutex> reader_lock;
  LibraryMutex<std::recursive_mutex> data_lock;
  link_state status{};
  DecoderState decoder;
  int64_t last_data_sequence = -1;  // -1: none since the last data reset
  uint32_t behind_run = 0;          // packets dropped in a row as late or repeated
  uint32_t last_data_time = 0;      // tracker's send time (ms) of the last data packet taken
  uint32_t last_full_time = 0xFFFFFFFF;
  // Set when a data packet shorter than its own fields was first refused (receive thread).
  std::atomic<bool> short_packet_logged{false};

  uint8_t newest[kSampleItemLimit] = {};
  size_t newest_length = 0;                // 0 until a sample arrives after a data reset
  std::atomic<bool> newest_is_new{false};  // also read, without the lock, by a waiting reader
  bool newest_decoded = false;             // newest_float holds the newest sample's float form
  float_data newest_float{};
  uint32_t newest_polls = 0;  // calls that found nothing new, for playback pacing

  LibraryMutex<std::mutex> queue_lock;
  DataQueue queue;

  std::atomic<bool> samples_on{false};
  std::atomic<bool> events_on{false};
  std::atomic<lumavex_data_ready_callback> callback{nullptr};
  std::atomic<PlaybackRequester> playback_requester{nullptr};

  // What lumavex_data_status hands out (data_lock): a copy of `status`, refreshed by the
  // application's data calls, never by the receive thread (see publish_status).
  link_state snapshot{};
};

DataStream &data_stream();

// Sets up the queue (open_lumavex_system) and clears the status. Requests below 1,000,000 bytes
// are raised to 10,000,000. Returns 0, or -1 when the buffer cannot be allocated.
int data_queue_init(uint32_t bytes);
void data_queue_release();
uint32_t data_queue_capacity();

// Resets the data-stream state; a nonzero clear also empties the queue.
void data_reset(int clear);
// Refreshes the status fields that describe the queue (data_lock held or not).
void data_status_refresh();

// Handles a DATA_PKT (receive thread, link lock held); returns the bytes used, or -1 for a
// packet shorter than its own fields or than its own length field says (the first such packet
// is logged).
int handle_data_packet(const LVXADDR &sender, Bytes packet);

// Switches sample delivery (flags 0x04) and event delivery (flags 0x08) on or off, then resets
// the data-stream state.
void data_switch(uint16_t flags);

// The data-ready callback (null: none). Called on the receive thread for each item queued (reason
// 2 a sample, 1 an event), once the dispatch of the datagram has released the link lock, in the
// order the items came; the callback installed when the call is made is the one called.
void set_data_ready_callback(lumavex_data_ready_callback callback);
lumavex_data_ready_callback data_ready_callback();

// Refreshes the status record, with the link fields (addresses, names, poll replies and the
// header echo of the tracker's last packet) copied in, and returns the snapshot the application
// reads (the same record on every call). Takes the link lock before data_lock; the caller holds
// neither.
link_state *data_status_snapshot();
// Refreshes the queue fields of the status and copies it into the snapshot (data_lock held or
// not): the readers call it after each read, so that a pointer the application kept from
// data_status_snapshot shows what its reads changed.
void publish_status();

// The sample rate and the mode digits from the last block marker; each pointer may be null.
// 0, or -1 when no mode is known.
int16_t read_mode_data(int16_t *rate, int16_t *mode_hi, int16_t *mode_mid, int16_t *mode_lo);

// True unless dummy mode is on or the link system is not open.
bool data_link_ready();

// Asks the tracker for more playback data through the requester the owner registered (the
// control subsystem's playback request); nothing until one is registered.
void set_playback_requester(PlaybackRequester requester);
void request_playback_data();

}  // namespace lvx
