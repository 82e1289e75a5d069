// The checksum the tracker's file service announces for a file: CRC-32 of polynomial 0x04C11DB7,
// processed most-significant bit first (not reflected), starting from 0, with no final
// complement and no length folded in. The update runs eight bytes per step (slicing by 8) so
// that checking a download costs a fraction of receiving it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace lvx {

// Folds `size` bytes into a running checksum (start with 0).
uint32_t crc32_update(uint32_t crc, const uint8_t *data, size_t size);
// The same, one byte per step: the definition the fast update must agree with.
uint32_t crc32_update_bytewise(uint32_t crc, const uint8_t *data, size_t size);

struct FileChecksum {
  uint32_t crc = 0;
  uint64_t length = 0;
};

// The checksum and length of a whole file; nothing when it cannot be read.
std::optional<FileChecksum> file_checksum(const std::string &path);

}  // namespace lvx

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace lvx {

// Folds a stream of bytes into the checksum on a thread of its own, so that checking a download
// overlaps receiving it instead of adding to it. The receiver places bytes straight into the
// pipe's buffers (reserve, then commit what was placed); full buffers go to the worker in order.
class ChecksumPipe {
 public:
  ChecksumPipe();
  ~ChecksumPipe();
  ChecksumPipe(const ChecksumPipe &) = delete;
  ChecksumPipe &operator=(const ChecksumPipe &) = delete;

  // Room for at least `want` bytes (at most kBufferBytes); waits while every buffer is queued.
  uint8_t *reserve(size_t want);
  // The first n bytes at the last reserve() pointer belong to the stream.
  void commit(size_t n);
  // Hands over what is left, waits for the worker and returns the checksum of all bytes.
  uint32_t finish();

  static constexpr size_t kBufferBytes = 1 << 20;
  static constexpr int kBuffers = 4;

 private:
  struct Block {
    std::unique_ptr<uint8_t[]> bytes;
    size_t used = 0;
  };
  void run();
  void hand_over();

  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<Block> full_;   // waiting for the worker, in stream order
  std::vector<Block> free_;  // ready for the receiver
  Block current_;
  bool stop_ = false;
  int busy_ = 0;      // blocks the worker has taken and not yet returned
  uint32_t crc_ = 0;  // written by the worker, read after it has drained
  std::thread worker_;
};

}  // namespace lvx
