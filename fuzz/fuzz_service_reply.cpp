// Feeds arbitrary bytes to the file service's reply parsing: the split of the first received
// bytes into the reply and the file data after it, the "GET_Ready" and "QXGETVS_Ready" parsers,
// the upload acceptance and the time text. Whatever parses must keep the fields' limits, and a
// time that parses must read back the same after formatting.
#include <cstddef>
#include <cstdint>

#include "files/host_time.h"
#include "files/local_files.h"
#include "files/service_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  lvx::ReplySplit split = lvx::split_reply(data, size);
  if (split.text.size() > size) __builtin_trap();
  if (split.surplus_size > 0 && split.surplus_offset + split.surplus_size != size) __builtin_trap();
  if (auto r = lvx::parse_get_ready(split.text)) {
    if (r->name.empty() || r->name.size() > lvx::kReplyNameLimit) __builtin_trap();
    if (r->time.size() > lvx::kReplyTimeLimit) __builtin_trap();
    if (r->name.find(' ') != std::string::npos) __builtin_trap();
    // The name rules decide on any name without failing.
    (void)lvx::check_host_name(r->name);
    if (auto t = lvx::parse_host_time(r->time)) {
      auto again = lvx::parse_host_time(lvx::format_host_time(*t));
      if (!again || *again != *t) __builtin_trap();
    }
  }
  if (auto v = lvx::parse_video_list(split.text)) {
    if (v->folder.size() > lvx::kReplyNameLimit || v->count < 0) __builtin_trap();
    for (const std::string &n : v->names)
      if (n.empty() || n.find(';') != std::string::npos) __builtin_trap();
  }
  (void)lvx::is_put_ready(data, size);
  return 0;
}
