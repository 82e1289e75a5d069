// Feeds arbitrary bytes to a relay slave as its master's stream ("LV_PKT:" records around link
// packets, "LV_SER:" records with a serial): the first input byte picks the size of the pieces it
// arrives in (1..256 bytes), the rest is the stream.
//
// The records are found twice, in the whole stream and piece by piece as the receive thread holds
// them (what a walk leaves unused is put in front of the next piece); both must give the same
// records, each within the bytes held, and every walk must move on. Then the pieces go through
// the receive entry itself, as connected through the relay, with the receive thread's carry and
// its bound; what the packets queued is read back as the application would.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "data/data_stream.h"
#include "library/library.h"
#include "link/dispatcher.h"
#include "link/link_state.h"
#include "link/transport.h"
#include "lumavex_core.h"
#include "relay/relay_framing.h"

namespace {

using lvx::Bytes;
using lvx::RelayRecord;
using lvx::RelayRecordKind;

struct Found {
  RelayRecordKind kind;
  uint32_t serial;
  Bytes data;  // within the whole stream, or a copy's bytes compared by value
};

bool same(const Found &a, const RelayRecord &b) {
  return a.kind == b.kind && a.serial == b.serial && a.data.size() == b.data.size() &&
         std::equal(a.data.begin(), a.data.end(), b.data.begin());
}

// Walks `held` from its start; calls take(record) for each record and returns what it leaves.
template <typename Take>
size_t walk(Bytes held, Take take) {
  size_t pos = 0;
  for (;;) {
    RelayRecord r = lvx::next_relay_record(held, pos);
    if (r.kind == RelayRecordKind::kNone) {
      if (r.next < pos || r.next > held.size() || held.size() - r.next >= 7) __builtin_trap();
      return r.next;
    }
    if (r.kind == RelayRecordKind::kNeedMore) {
      if (r.start < pos || r.start > held.size()) __builtin_trap();
      return r.start;
    }
    if (r.next <= pos || r.next > held.size()) __builtin_trap();
    if (r.kind == RelayRecordKind::kPackets &&
        (r.data.empty() || r.data.size() > lvx::relay_rec::kMaxPacketBytes ||
         r.data.data() < held.data() ||
         r.data.data() + r.data.size() > held.data() + held.size())) {
      __builtin_trap();
    }
    take(r);
    pos = r.next;
  }
}

void compare_cut_with_whole(Bytes stream, size_t piece) {
  std::vector<Found> whole;
  walk(stream, [&](const RelayRecord &r) { whole.push_back({r.kind, r.serial, r.data}); });
  std::vector<uint8_t> held;
  size_t matched = 0;
  for (size_t at = 0; at < stream.size(); at += piece) {
    Bytes next = stream.subspan(at, std::min(piece, stream.size() - at));
    held.insert(held.end(), next.begin(), next.end());
    size_t used = walk(Bytes(held), [&](const RelayRecord &r) {
      if (matched >= whole.size() || !same(whole[matched], r)) __builtin_trap();
      ++matched;
    });
    held.erase(held.begin(), held.begin() + static_cast<std::ptrdiff_t>(used));
  }
  if (matched != whole.size()) __builtin_trap();
}

void feed_the_receive_entry(Bytes stream, size_t piece) {
  static const bool ready = [] {
    lvx::ensure_library();
    lvx::data_queue_init(0);
    lvx::link_system().open = true;
    lumavex_data_switch(0x0C);
    return true;
  }();
  (void)ready;
  lvx::link_record().is_connected = -1;
  uint8_t buf[4096];
  int carry = 0;
  for (size_t at = 0; at < stream.size(); at += piece) {
    const size_t n = std::min({piece, stream.size() - at, sizeof buf - static_cast<size_t>(carry)});
    std::memcpy(buf + carry, stream.data() + at, n);
    const int total = carry + static_cast<int>(n);
    int used;
    {
      lvx::LinkLockGuard lock;
      used = lvx::rx_buffer(LVXADDR{}, Bytes(buf, static_cast<size_t>(total)));
    }
    if (used < 0 || used > total) __builtin_trap();
    carry = total - used;
    if (carry > lvx::kMaxRelayCarryBytes) carry = 0;
    if (carry > 0) std::memmove(buf, buf + used, static_cast<size_t>(carry));
    at -= piece - n;  // what did not fit comes with the next piece
  }
  float_data slots[8];
  for (int i = 0; i < 8 && lumavex_get_all_float_data(slots, 8) > 0; ++i) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const size_t piece = static_cast<size_t>(data[0]) + 1;
  Bytes stream(data + 1, size - 1);
  compare_cut_with_whole(stream, piece);
  feed_the_receive_entry(stream, piece);
  return 0;
}
