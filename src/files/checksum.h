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
