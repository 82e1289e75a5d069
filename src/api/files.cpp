// File transfer: downloads from the tracker (its file service or the link), uploads, and the
// link's block interface.
#include "api/guard.h"
#include "files/download.h"
#include "files/file_service.h"
#include "files/link_transfer.h"
#include "link/link_state.h"

using lvx::api::guard;

namespace {
constexpr int32_t kFileFailed = -1;
constexpr int16_t kFailed16 = -1;
}  // namespace

extern "C" {

int32_t receive_data_file(const char *src, const char *dest, int16_t dest_is_path) noexcept {
  return guard(kFileFailed, [&]() -> int32_t {
    if (lvx::link_record().is_connected == 0) return 0;
    return lvx::receive_file(src, dest, dest_is_path, nullptr);
  });
}

int32_t receive_data_file_feedback(const char *src, const char *dest, int16_t dest_is_path,
                                   download_progress32_fn progress) noexcept {
  return guard(kFileFailed,
               [&] { return lvx::receive_file_32(src, dest, dest_is_path, progress); });
}

int32_t receive_data_file_feedback64(const char *src, const char *dest, int32_t options,
                                     download_progress_fn progress) noexcept {
  return guard(kFileFailed, [&] { return lvx::receive_file(src, dest, options, progress); });
}

int32_t send_data_file(const char *src, const char *dest, int16_t /*dest_is_path*/) noexcept {
  return guard(kFileFailed, [&] { return lvx::send_file_to_tracker(src, dest, nullptr); });
}

int32_t send_data_file_feedback(const char *src, const char *dest, int16_t /*dest_is_path*/,
                                upload_progress_fn progress) noexcept {
  return guard(kFileFailed, [&] { return lvx::send_file_to_tracker(src, dest, progress); });
}

int32_t send_data_file_mem(const void *data, const char *dest, uint32_t size,
                           upload_progress_fn progress) noexcept {
  return guard(kFileFailed,
               [&] { return lvx::send_memory_to_tracker(data, dest, size, progress); });
}

int16_t lumavex_request_file_read(const char *name) noexcept {
  return guard(kFailed16, [&] { return lvx::request_file_read(name, false, true); });
}

int16_t lumavex_get_file_block(void *buf, int32_t *offset) noexcept {
  return guard(kFailed16, [&] { return lvx::get_file_block(buf, offset); });
}

int16_t lumavex_request_file_block(int32_t /*offset*/) noexcept {
  return guard(int16_t{0}, [] { return int16_t{0}; });
}

int16_t lumavex_end_file_transfer(void) noexcept {
  return guard(kFailed16, [] { return lvx::end_file_transfer(); });
}

}  // extern "C"
