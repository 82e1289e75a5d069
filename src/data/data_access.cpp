#include "data/data_access.h"

#include <algorithm>
#include <cstring>

#include "data/data_stream.h"
#include "data/item_decoder.h"
#include "data/record_conversion.h"
#include "data/stream_queries.h"
#include "link/alert.h"
#include "link/link_state.h"
#include "link/log.h"
#include "link/transport.h"

namespace lvx {

namespace {

constexpr int kDefaultWaitRounds = 20;
// The batch functions return their count as a 16-bit number: no call takes more records than
// that can count (a larger max used to write them all and return the count modulo 65536).
constexpr int kMaxBatch = 32767;
// Playback is paced by the reader: it asks for more when fewer items than this are queued.
constexpr uint32_t kPlaybackLowWater = 4;
// The newest-sample functions ask for playback data on every 256th call that finds nothing new.
constexpr uint32_t kPlaybackPollEvery = 256;
constexpr size_t kCompactSampleBytes = sizeof(compact_float_sample);
constexpr size_t kCompactEventBytes = sizeof(compact_float_event);
constexpr size_t kCompactDoubleSampleBytes = offsetof(compact_double_sample, aux_data) + 16;
constexpr size_t kCompactDoubleEventBytes = offsetof(double_event, ext_pairs_a);

// True while the tracker plays a recording back (bit 1 of its mode code).
bool playing_back() {
  return (link_record().mode_code & 0x02) != 0;
}

// The record last read, as a float-form slot: converted for samples and parsed events, the lost-
// data record built from its time, the raw decoded item for everything else.
void last_record_as_float(const link_state &s, float_data &out) {
  std::memset(&out, 0, sizeof out);
  if (s.last_item_type == EV_LOST_DATA && s.last_size == 0) {
    out.io.time = s.last_item_time;
    out.io.type = EV_LOST_DATA;
    return;
  }
  if (!to_float(s.last_item, s, out)) {
    std::memcpy(&out, &s.last_item, std::min<size_t>(s.last_size, sizeof out));
  }
}

// Where a batch's records go: float slots, or double slots, each record converted as it is
// taken (so that nothing is allocated in proportion to the caller's max).
struct Slots {
  float_data *floats = nullptr;
  double_data *doubles = nullptr;
  bool given() const { return floats != nullptr || doubles != nullptr; }
};

// A float-form record in double form: converted where a double form exists, else only its time
// and type.
void store_double(const float_data &f, double_data &out) {
  std::memset(&out, 0, sizeof out);
  if (!to_double(f.head.type, f, out)) {
    out.head.time = f.head.time;
    out.head.type = f.head.type;
  }
}

// What one pass of the reader produced.
struct ReadResult {
  int count = 0;  // records written to slots
  int type = 0;   // type of the last record (the result when no slots were given)
};

// Takes one item from the queue and decodes it (data_lock held). Returns false when the queue
// is empty. Items that fail to decode, or whose delivery has been switched off, are dropped and
// the next one taken. `gaps` gathers the kinds discarded before the items of one read, so that
// the status names every kind a batch's loss took, not only the last item's.
bool take_and_decode(DataStream &d, uint16_t &gaps) {
  link_state &s = d.status;
  while (true) {
    uint8_t bytes[kMaxItemOut];
    DataQueue::Item item;
    DataQueue::Item oversized;
    bool got;
    {
      std::lock_guard lock(d.queue_lock);
      got = d.queue.get(bytes, &item, &oversized);
      gaps = static_cast<uint16_t>(gaps | d.queue.gap_types());
      s.gap_types = gaps;
    }
    if (!got) return false;
    int size = -1;
    const Bytes taken(bytes, item.length);
    switch (item.kind) {
      case 0:
        // An item too long to read out: reported empty, which ends the read.
        lvx::log_printf("Overflow: vqueue item type 0x%X, size %u > %u\n", oversized.kind,
                        oversized.length, static_cast<unsigned>(kMaxItemOut));
        alert("Overflow: vqueue item type 0x%X, size %u > %u\n", oversized.kind, oversized.length,
              static_cast<unsigned>(kMaxItemOut));
        s.last_kind = 0;
        s.last_size = 0;
        s.last_item_type = 0;
        return true;
      case ITEM_SAMPLE:
        if (!d.samples_on) continue;
        size = decode_sample(taken, d.decoder, s, s.last_item);
        if (size > 0) {
          s.last_item_read = s.last_item.sample.flags;
          s.last_item_time = s.last_item.sample.time;
        }
        break;
      case ITEM_EVENT:
        if (!d.events_on && event_item_type(taken) != EV_LOST_DATA) continue;
        size = decode_event(taken, d.decoder, s, s.last_item);
        if (size > 0 && s.last_item.head.type == EV_LOST_DATA) {
          // A loss is placed in time by the last item delivered before it.
          s.last_item.io.time = s.last_item_time;
        } else if (size > 0 && is_parsed_event(s.last_item.head.type)) {
          s.last_item_read = s.last_item.event.read;
          s.last_item_time = s.last_item.event.time;
        } else if (size > 0 && s.last_item.head.type == EV_MESSAGE) {
          s.last_item_read = s.last_item.message.length;
          s.last_item_time = s.last_item.message.time;
        }
        break;
      case ITEM_MARKER:
        size = decode_event(taken, d.decoder, s, s.last_item);
        if (size < 0) s.control_read = 1;
        break;
      default:
        continue;
    }
    if (size < 0) continue;
    s.last_kind = d.decoder.kind;
    s.last_size = static_cast<uint16_t>(std::min(size, static_cast<int>(sizeof(link_data_item))));
    s.last_item_type = static_cast<uint16_t>(s.last_item.head.type);
    return true;
  }
}

// Takes the next item under data_lock and, when one came, puts it into slot `index` and the raw
// buffer, each when given, while the fields it was decoded with still hold. Returns false when
// the queue is empty; `type` is the record's type.
bool take_next(DataStream &d, const Slots &slots, int index, void *raw, int &type, uint16_t &gaps) {
  std::lock_guard lock(d.data_lock);
  if (!take_and_decode(d, gaps)) return false;
  const link_state &s = d.status;
  type = s.last_item_type;
  if (type != 0 && slots.floats != nullptr) last_record_as_float(s, slots.floats[index]);
  if (type != 0 && slots.doubles != nullptr) {
    float_data f;
    last_record_as_float(s, f);
    store_double(f, slots.doubles[index]);
  }
  if (type != 0 && raw != nullptr) std::memcpy(raw, &s.last_item, s.last_size);
  return true;
}

// The reader shared by the single-item and batch functions. With slots, fills up to max of them
// (at most kMaxBatch) and returns the count; without, takes one item and returns its type (and
// with raw, copies the raw decoded item there). Waits up to `wait` packet waits while the queue is
// empty.
//
// The reader lock keeps the batch of one reader whole against other readers; data_lock is taken
// for each item only, so that the receive thread's intake, which needs it for every data packet,
// waits at most for one item's decoding rather than for a whole batch.
ReadResult read_items(const Slots &slots, int max, int wait, void *raw = nullptr) {
  ReadResult r;
  if (!data_link_ready()) return r;
  max = std::clamp(max, 1, kMaxBatch);
  DataStream &d = data_stream();
  const bool playback = playing_back();
  std::unique_lock reader(d.reader_lock);
  uint32_t queued;
  uint16_t gaps = 0;
  {
    std::lock_guard lock(d.data_lock);
    link_state &s = d.status;
    s.control_read = 0;
    s.last_item_read = 0;
    bool lost;
    {
      std::lock_guard q(d.queue_lock);
      lost = d.queue.lost_pending();
      if (lost) {
        d.queue.clear_lost_pending();
        gaps = d.queue.discarded_kinds();
      }
      queued = d.queue.samples() + d.queue.events();
    }
    if (lost) {
      s.last_kind = 0;
      s.last_size = 0;
      s.last_item_type = EV_LOST_DATA;
      s.gap_types = gaps;
      r.type = EV_LOST_DATA;
      if (slots.given()) {
        float_data f;
        std::memset(&f, 0, sizeof f);
        f.io.time = s.last_item_time;
        f.io.type = EV_LOST_DATA;
        if (slots.floats != nullptr) slots.floats[0] = f;
        if (slots.doubles != nullptr) store_double(f, slots.doubles[0]);
        r.count = 1;
      }
      if (!slots.given() || max == 1) {
        publish_status();
        return r;
      }
    }
  }
  if (playback && queued < kPlaybackLowWater) {
    reader.unlock();
    request_playback_data();
    publish_status();
    return r;
  }

  int type = 0;
  bool took = take_next(d, slots, r.count, raw, type, gaps);
  for (int round = 0; !took && round < wait; ++round) {
    reader.unlock();
    // Announce the wait before the last look at the queue, so that an item queued in between
    // still wakes this reader.
    wait_for_packet_unless([&d] {
      std::lock_guard q(d.queue_lock);
      return d.queue.items() > 0;
    });
    reader.lock();
    took = take_next(d, slots, r.count, raw, type, gaps);
  }
  while (took) {
    r.type = type;
    if (!slots.given() || type == 0) break;
    ++r.count;
    if (r.count >= max) break;
    took = take_next(d, slots, r.count, nullptr, type, gaps);
  }
  publish_status();
  return r;
}

// The newest sample in one of its four forms; waits once while no new sample is there when `wait`
// is at least 1.
int16_t newest_sample_into(void *buf, int wait, SampleForm form) {
  if (!data_link_ready()) return -1;
  DataStream &d = data_stream();
  bool playback = playing_back();
  std::unique_lock lock(d.data_lock);
  if ((d.newest_length == 0 || !d.newest_is_new) && playback &&
      d.newest_polls++ % kPlaybackPollEvery == 0) {
    lock.unlock();
    request_playback_data();
    lock.lock();
  }
  if (wait >= 1 && !d.newest_is_new) {
    lock.unlock();
    wait_for_packet_unless([&d] { return d.newest_is_new.load(); });
    lock.lock();
  }
  if (d.newest_length == 0) return -1;
  int16_t result = d.newest_is_new ? 1 : 0;
  d.newest_is_new = false;
  if (!d.newest_decoded) {
    // Decoded once per arrival, so that asking again gives the same sample even when its time
    // was delta-coded.
    link_data_item item{};
    if (decode_sample(Bytes(d.newest, d.newest_length), d.decoder, d.status, item) < 0 ||
        !to_float(item, d.status, d.newest_float)) {
      return -1;
    }
    d.newest_decoded = true;
  }
  if (buf == nullptr) return result;
  switch (form) {
    case SampleForm::CompactFloat:
      std::memcpy(buf, &d.newest_float, kCompactSampleBytes);
      break;
    case SampleForm::Float:
      std::memcpy(buf, &d.newest_float, sizeof(float_sample));
      break;
    case SampleForm::CompactDouble:
    case SampleForm::Double: {
      double_data dd{};
      to_double(EV_SAMPLE, d.newest_float, dd);
      std::memcpy(
          buf, &dd,
          form == SampleForm::CompactDouble ? kCompactDoubleSampleBytes : sizeof(double_sample));
      break;
    }
  }
  return result;
}

// The reader's result as the batch functions give it: the count with slots, the type without.
int16_t records_result(const float_data *slots, const ReadResult &r) {
  return static_cast<int16_t>(slots != nullptr ? r.count : r.type);
}

int wait_rounds(int wait) {
  return wait == 0 ? kDefaultWaitRounds : wait;
}

}  // namespace

int get_next_data(void *buf) {
  return read_items(Slots{}, 1, 0, buf).type;
}

// Copies the record last read in float form into buf, compact when the scripting host asked for
// compact records. Returns its type.
int16_t last_record_float(void *buf) {
  if (!data_link_ready()) return 0;
  DataStream &d = data_stream();
  std::lock_guard lock(d.data_lock);
  const link_state &s = d.status;
  if (buf == nullptr || s.last_item_type == 0) return static_cast<int16_t>(s.last_item_type);
  float_data slot;
  last_record_as_float(s, slot);
  size_t n = sizeof slot;
  if (link_system().scripting_host) {
    int type = s.last_item_type;
    if (type == EV_SAMPLE) {
      n = kCompactSampleBytes;
    } else if (type == EV_MESSAGE) {
      n = sizeof slot;
    } else if (type == EV_BUTTONS || type == EV_INPUT) {
      n = sizeof(io_event);
    } else {
      n = kCompactEventBytes;
    }
  }
  std::memcpy(buf, &slot, n);
  return static_cast<int16_t>(s.last_item_type);
}

int16_t last_record_double(void *buf) {
  if (buf == nullptr) return last_record_float(nullptr);
  float_data slot{};
  const int16_t type = last_record_float(&slot);
  if (type == 0) return 0;
  double_data dd{};
  if (!to_double(type, slot, dd)) return type;
  size_t n = sizeof dd;
  if (link_system().scripting_host) {
    if (type == EV_SAMPLE) {
      n = kCompactDoubleSampleBytes;
    } else if (type == EV_BUTTONS || type == EV_INPUT) {
      n = sizeof(double_io_event);
    } else if (type != EV_MESSAGE) {
      n = kCompactDoubleEventBytes;
    }
  }
  std::memcpy(buf, &dd, n);
  return type;
}

int16_t take_float_records(float_data *slots, int max) {
  return records_result(slots, read_items(Slots{slots, nullptr}, max, 0));
}

int16_t wait_float_records(float_data *slots, int max, int wait) {
  return records_result(slots, read_items(Slots{slots, nullptr}, max, wait_rounds(wait)));
}

int16_t wait_double_records(double_data *slots, int max, int wait) {
  // Without slots the wait is taken as given: 0 does not wait.
  if (slots == nullptr) return static_cast<int16_t>(read_items(Slots{}, 1, wait).type);
  if (max <= 0) return 0;
  return static_cast<int16_t>(read_items(Slots{nullptr, slots}, max, wait_rounds(wait)).count);
}

int16_t newest_sample(void *buf, SampleForm form) {
  return newest_sample_into(buf, 0, form);
}

int16_t wait_for_newest_sample(void *buf, int wait, SampleForm form) {
  return newest_sample_into(buf, wait_rounds(wait), form);
}

int take_next_data_item(int wait_rounds) {
  return read_items(Slots{}, 1, wait_rounds).type;
}

}  // namespace lvx
