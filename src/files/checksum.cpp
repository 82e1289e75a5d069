#include "files/checksum.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

namespace lvx {

namespace {

constexpr uint32_t kPolynomial = 0x04C11DB7u;
constexpr size_t kReadBlock = 10240;

// tables[0] is the ordinary byte table; tables[k][b] is the checksum of byte b followed by k
// zero bytes, which lets eight bytes be folded with eight independent look-ups.
using Tables = std::array<std::array<uint32_t, 256>, 8>;

constexpr Tables make_tables() {
  Tables t{};
  for (uint32_t b = 0; b < 256; ++b) {
    uint32_t c = b << 24;
    for (int i = 0; i < 8; ++i) c = (c & 0x80000000u) ? (c << 1) ^ kPolynomial : c << 1;
    t[0][b] = c;
  }
  for (size_t k = 1; k < 8; ++k)
    for (uint32_t b = 0; b < 256; ++b) {
      uint32_t prev = t[k - 1][b];
      t[k][b] = (prev << 8) ^ t[0][prev >> 24];
    }
  return t;
}

constexpr Tables kTables = make_tables();

}  // namespace

uint32_t crc32_update_bytewise(uint32_t crc, const uint8_t *data, size_t size) {
  for (size_t i = 0; i < size; ++i) crc = (crc << 8) ^ kTables[0][(crc >> 24) ^ data[i]];
  return crc;
}

uint32_t crc32_update(uint32_t crc, const uint8_t *data, size_t size) {
  const auto &t = kTables;
  while (size >= 8) {
    // The first four bytes meet the running checksum; the last four only the tables.
    uint32_t hi = crc ^ (uint32_t(data[0]) << 24 | uint32_t(data[1]) << 16 |
                         uint32_t(data[2]) << 8 | uint32_t(data[3]));
    crc = t[7][hi >> 24] ^ t[6][(hi >> 16) & 0xFF] ^ t[5][(hi >> 8) & 0xFF] ^ t[4][hi & 0xFF] ^
          t[3][data[4]] ^ t[2][data[5]] ^ t[1][data[6]] ^ t[0][data[7]];
    data += 8;
    size -= 8;
  }
  return crc32_update_bytewise(crc, data, size);
}

std::optional<FileChecksum> file_checksum(const std::string &path) {
  std::FILE *f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return std::nullopt;
  FileChecksum result;
  std::vector<uint8_t> block(kReadBlock);
  size_t n;
  while ((n = std::fread(block.data(), 1, block.size(), f)) > 0) {
    result.crc = crc32_update(result.crc, block.data(), n);
    result.length += n;
  }
  bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) return std::nullopt;
  return result;
}

}  // namespace lvx

namespace lvx {

ChecksumPipe::ChecksumPipe() {
  for (int i = 0; i < kBuffers; ++i)
    free_.push_back(Block{std::make_unique<uint8_t[]>(kBufferBytes), 0});
  current_ = std::move(free_.back());
  free_.pop_back();
  worker_ = std::thread([this] { run(); });
}

ChecksumPipe::~ChecksumPipe() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
  }
  cv_.notify_all();
  if (worker_.joinable()) worker_.join();
}

void ChecksumPipe::run() {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    cv_.wait(lock, [this] { return stop_ || !full_.empty(); });
    if (full_.empty()) return;  // stopping, nothing left
    Block b = std::move(full_.front());
    full_.pop_front();
    ++busy_;
    lock.unlock();
    uint32_t crc = crc32_update(crc_, b.bytes.get(), b.used);
    lock.lock();
    crc_ = crc;
    b.used = 0;
    free_.push_back(std::move(b));
    --busy_;
    cv_.notify_all();
  }
}

void ChecksumPipe::hand_over() {
  std::unique_lock<std::mutex> lock(mu_);
  if (current_.used > 0)
    full_.push_back(std::move(current_));
  else
    free_.push_back(std::move(current_));
  cv_.notify_all();
  cv_.wait(lock, [this] { return !free_.empty(); });
  current_ = std::move(free_.back());
  free_.pop_back();
}

uint8_t *ChecksumPipe::reserve(size_t want) {
  want = std::min(want, kBufferBytes);
  if (kBufferBytes - current_.used < want) hand_over();
  return current_.bytes.get() + current_.used;
}

void ChecksumPipe::commit(size_t n) {
  current_.used += std::min(n, kBufferBytes - current_.used);
}

uint32_t ChecksumPipe::finish() {
  hand_over();
  std::unique_lock<std::mutex> lock(mu_);
  cv_.wait(lock, [this] { return full_.empty() && busy_ == 0; });
  return crc_;
}

}  // namespace lvx
