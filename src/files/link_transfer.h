// Files sent by the tracker as blocks over the link (FILE_PKT). The tracker sends one block, or a
// window of up to 16, and waits for an acknowledgement naming the next byte offset it should send.
// The receive thread keeps the blocks in a ring of 128 entries; the application thread takes them
// out and acknowledges again whenever the ring runs dry, so a lost block is asked for again.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "common/byte_io.h"
#include "lumavex_core.h"

namespace lvx {

// FILE_PKT field offsets: the position word (block offset with the window flags in bits 31..28,
// or the file size in the file-information packet), the signed data length, the data.
namespace file_pkt {
constexpr size_t kPosition = 20, kLength = 24, kData = 28;
// Bytes a packet counts besides its data.
constexpr int kOverhead = 29;
constexpr int kMaxBlock = 1024;
constexpr int16_t kInfo = 999;
}  // namespace file_pkt

// Window flags: the top four bits of the position word.
enum WindowFlags : uint32_t { kNoWindow = 0, kWindowLast = 2, kWindowInside = 4, kWindowFirst = 6 };
// The offset bits of a position word (bits 29 and 30 carry the flags).
constexpr uint32_t kOffsetMask = 0x9FFFFFFFu;
constexpr int kRingEntries = 128;
// The command type of an acknowledgement.
constexpr uint8_t kFileAckCommand = 60;

// The link transfer's process-wide record. The ring and the name are read and written under the
// link lock (the receive thread's handler and the reader's look); the single words are atomics so
// that the application thread can poll them without it.
struct FileTransfer {
  enum Style : int { kSingle = 0, kWindowed = 1, kWindowAsked = 2 };
  struct Entry {
    uint8_t data[file_pkt::kMaxBlock];
    int32_t offset;
    int16_t dlen;
    void empty() {
      std::memset(data, 0, sizeof data);
      offset = -1;
      dlen = -1;
    }
  };

  std::unique_ptr<Entry[]> ring;  // allocated by the first request, kept
  std::atomic<int> w{0};
  std::atomic<int> r{0};
  std::atomic<bool> active{false};
  std::atomic<int> style{kSingle};
  std::atomic<bool> first_call{false};
  std::string name;
  std::atomic<uint32_t> size{0};
  std::atomic<int64_t> next_expected{-1};
  std::atomic<int64_t> last_acked{0};
  std::atomic<uint32_t> last_ack_ms{0};
  int window_count = 0;  // receive thread
  std::atomic<uint64_t> acks{0};
  std::atomic<int> reack_ms{200};
  std::atomic<int> block_wait_ms{2000};   // how long a block call waits for data
  std::atomic<bool> acks_stubbed{false};  // tests and fuzzing: acknowledgements "sent" unsent
};
FileTransfer &file_transfer();

// Tracker error codes carried in the data length, with their texts (null for other values).
const char *file_error_text(int dlen);

// Handles a FILE_PKT (receive thread, link lock held); returns the bytes used (0: the rest).
int handle_file_packet(const LVXADDR &sender, Bytes packet);

// Starts a transfer of the tracker file `name`: windowed when asked (and the tracker can), with
// the first block call reporting the file information when `first_call_info` is set. Returns 0
// once the tracker announced the file, or -100 quiet or broadcast, -3 name too long, -110 no
// announcement, or a command error.
int16_t request_file_read(const char *name, bool windowed, bool first_call_info);
// Takes the next block: see lumavex_get_file_block.
int16_t get_file_block(void *buf, int32_t *offset);
// The same, telling in *from_ring whether the result is a block taken from the ring (whose length
// may be 999 or 1000) rather than one of the reader's own answers.
int16_t take_file_block(void *buf, int32_t *offset, bool *from_ring);
// Cancels a transfer and tells the tracker; the command's result or 0.
int16_t end_file_transfer();
// Cancels a transfer without telling the tracker (link resets and closes).
void end_link_file_transfer();
// The size and name the tracker announced for the current transfer.
uint32_t announced_file_size();
std::string announced_file_name();

// Acknowledgements sent during the process's life (for tests and the benchmark).
uint64_t file_acks_sent();

// Downloads a tracker file over the link into a local file: dest a file name, or a folder when
// dest_is_path. Returns the bytes received or a negative code (-1 the tracker refused or never
// announced the file, -3 cancelled, -4 timed out or aborted, -5 write error, -6 not connected or
// a break is pending, 0 when the local file could not be made).
int32_t receive_data_file_feedback_udp(const char *src, const char *dest, bool dest_is_path,
                                       bool replace, download_progress_fn progress);

// Test hook: how long the reader waits after its last acknowledgement before it repeats it.
void set_file_reack_ms_for_testing(int ms);
// Test and fuzz hook: starts a transfer in `style` (0 single, 1 windowed, 2 windowing asked for)
// without a tracker; acknowledgements are counted but not sent from then on.
void begin_file_transfer_for_testing(int style);
bool file_transfer_active();
// Test hook: how long a block call waits for data before it reports -112 (2000 ms).
void set_file_block_wait_ms_for_testing(int ms);

}  // namespace lvx
