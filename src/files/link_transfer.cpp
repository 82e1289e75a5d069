#include "files/link_transfer.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "common/wire_reader.h"
#include "control/commands.h"
#include "control/error_table.h"
#include "control/input.h"
#include "control/keys.h"
#include "control/realtime.h"
#include "control/tracker_mode.h"
#include "files/file_service.h"
#include "files/local_files.h"
#include "link/alert.h"
#include "link/clock.h"
#include "link/connection.h"
#include "link/link_state.h"
#include "link/log.h"
#include "link/transport.h"
#include "link/user_calls.h"
#include "recording/recording.h"

namespace lvx {

namespace {

constexpr size_t kMaxRequestName = 120;
constexpr uint32_t kAnnounceWaitMs = 8000;
constexpr int kWindowedRoom = 17;
constexpr int kSingleRoom = 2;
constexpr int kMaxFailedReads = 6;
constexpr int kShortBlock = 512;
constexpr int kPumpMs = 100;
constexpr size_t kNameLimit = 255;
constexpr int kEscKey = 27;
constexpr uint16_t kIdleModeBit = 0x01;

using Entry = FileTransfer::Entry;
using enum FileTransfer::Style;

bool quiet_or_broadcast() {
  return quiet_level() != 0 || link_system().broadcast_open || connection_state() == 2;
}

// Sends the acknowledgement for `offset`: 0, -100 when not connected, or the send's error.
int send_filebuf_ack(int32_t offset) {
  if (file_transfer().acks_stubbed) {
    file_transfer().acks.fetch_add(1);
    return 0;
  }
  if (link_system().relay_master < 0 || dummy_mode() || quiet_or_broadcast()) return 0;
  LVXADDR to{};
  {
    LinkLockGuard lock;
    if (link_record().is_connected == 0) return -100;
    to = link_record().tracker_address;
  }
  int64_t sent = send_cmd_pkt(kFileAckCommand, nullptr, static_cast<uint32_t>(offset), to);
  if (sent <= 0) return sent == 0 ? 0 : -100;
  file_transfer().acks.fetch_add(1);
  return 0;
}

// An acknowledgement that failed ends the transfer.
bool ack_or_end(int32_t offset, const char *failure_log) {
  if (send_filebuf_ack(offset) == 0) return true;
  file_transfer().active = false;
  log_printf("%s", failure_log);
  return false;
}

// Deferred from the receive thread until it has let go of the link lock.
void deferred_ack(int offset, const char *) {
  ack_or_end(offset, "lumavex_end_file_transfer  send_filebuf_ack failed1.\n");
}
void deferred_finish(int, const char *) {
  if (!quiet_or_broadcast() && link_record().is_connected != 0) send_command("abort_file_transfer");
}

void note_ack(FileTransfer &t, int64_t offset) {
  t.last_acked = offset;
  t.last_ack_ms = local_ms();
}

}  // namespace

const char *file_error_text(int dlen) {
  switch (dlen) {
    case -113:
      return "data corruption";
    case -112:
      return "no reply";
    case -111:
      return "can't open file";
    case -110:
      return "transfer aborted";
    default:
      return nullptr;
  }
}

int handle_file_packet(const LVXADDR & /*sender*/, Bytes packet) {
  FileTransfer &t = file_transfer();
  WireReader in(packet);
  uint32_t position = in.u32_at(file_pkt::kPosition);
  auto dlen = static_cast<int16_t>(in.u16_at(file_pkt::kLength));
  if (!in.ok()) {
    log_printf("file_xfer_handler: short packet of %zu bytes\n", packet.size());
    return 0;
  }
  if (dlen < 0) {
    const char *text = file_error_text(dlen);
    log_printf("File transfer error %d: %s\n", dlen, text ? text : "");
    return file_pkt::kOverhead;
  }
  // The data the packet claims must be inside it; a block longer than a ring entry is refused.
  const bool info = dlen == file_pkt::kInfo;
  if (!info && dlen > file_pkt::kMaxBlock) {
    log_printf("file_xfer_handler: block of %d bytes is longer than %d: dropped\n", dlen,
               file_pkt::kMaxBlock);
    return 0;
  }
  std::string_view name;
  Bytes block;
  int used = file_pkt::kOverhead + dlen;
  if (info) {
    size_t room = packet.size() > file_pkt::kData ? packet.size() - file_pkt::kData : 0;
    name = in.text_at(file_pkt::kData, room);
    used = file_pkt::kOverhead + static_cast<int>(name.size());
  } else {
    block = in.bytes_at(file_pkt::kData, static_cast<size_t>(dlen));
    if (!in.ok()) {
      log_printf("file_xfer_handler: block of %d bytes in a packet of %zu: dropped\n", dlen,
                 packet.size());
      return 0;
    }
  }
  log_printf("API-2516  file_xfer_handler dlen=%d datalen=%d, sizeof(FILE_PKT)=%d \n", dlen,
             static_cast<int>(packet.size()) - static_cast<int>(file_pkt::kData),
             static_cast<int>(file_pkt::kData) + file_pkt::kMaxBlock);
  if (!t.active) {
    log_printf("file_xfer_active stopped. more file transfer packets coming.\n");
    return used;
  }
  if (!t.ring) return used;
  const uint32_t flags = position >> 28;
  const auto offset = static_cast<int32_t>(position & kOffsetMask);
  const int64_t expected = t.next_expected;
  if (!info && offset >= 1 && offset < expected) return used;  // a repeat
  // Bits 31 and 28 belong to no window flag: such a word names no place in a file.
  if (!info && (offset < 0 || (flags & 1u) != 0)) {
    log_printf("file_xfer_handler: block with position word 0x%08x dropped\n", position);
    return used;
  }

  const int w = t.w;
  Entry &e = t.ring[static_cast<size_t>(w)];
  e.dlen = dlen;
  e.offset = offset;
  if (info) {
    t.next_expected = 0;
    t.name = std::string(name.substr(0, kNameLimit));
    t.size = position;
    note_ack(t, 0);
    log_printf("CONTINUE_FILE_TRANSFER %d. (file_xfer_style=%d)\n", 0, t.style.load());
    user_call(deferred_ack, 0);
    e.empty();  // the information is not a block
    return used;
  }
  if (t.style == kWindowAsked) t.style = flags != 0 ? kWindowed : kSingle;
  if (expected != -1 && offset != expected) {
    log_printf("unexpected or outof order packet!!! \n");
    t.window_count = 0;
    e.empty();
    return used;
  }
  if (flags == kWindowFirst) t.window_count = 0;
  ++t.window_count;
  std::memcpy(e.data, block.data(), block.size());
  const int64_t next = static_cast<int64_t>(offset) + dlen;
  t.next_expected = next;
  const int next_w = (w + 1) % kRingEntries;
  if (static_cast<int64_t>(t.size) <= next) {
    log_printf("lumavex_end_file_transfer  file too large or done %d %d %d \n",
               static_cast<int>(t.size), static_cast<int>(next), dlen);
    t.next_expected = -1;
    t.active = false;
    user_call(deferred_finish, 0);
  } else {
    const int distance = (t.r - w + kRingEntries) % kRingEntries;
    const int room = t.style == kWindowed ? kWindowedRoom : kSingleRoom;
    if (distance >= 1 && distance <= room) {
      log_printf("file_xfer_handler ... queue full %d %d\n", w, t.r.load());
    } else if (flags == kNoWindow || flags == kWindowLast) {
      note_ack(t, next);
      log_printf("CONTINUE_FILE_TRANSFER %d\n", static_cast<int>(next));
      user_call(deferred_ack, static_cast<int>(next));
    }
  }
  t.w = next_w;
  if (next_w == t.r) log_printf("############ over-writing ....\n");
  return used;
}

// Empties the ring and the transfer's position and name, for a new transfer. Link lock held.
static void clear_ring_locked(FileTransfer &t) {
  if (!t.ring) t.ring.reset(new Entry[kRingEntries]);
  for (int i = 0; i < kRingEntries; ++i) t.ring[static_cast<size_t>(i)].empty();
  t.w = 0;
  t.r = 0;
  t.next_expected = -1;
  t.name.clear();
}

int16_t request_file_read(const char *name, bool windowed, bool first_call_info) {
  FileTransfer &t = file_transfer();
  if (first_call_info) t.first_call = true;
  log_printf("lumavex_request_file_read start\n");
  if (t.active) {
    log_printf("lumavex_request_file_read Cancelling existing file transfer.\n");
    end_file_transfer();
  }
  {
    LinkLockGuard lock;
    clear_ring_locked(t);
  }
  if (quiet_or_broadcast()) return -100;
  // The name goes into a command line: one that cannot go whole is refused before any command
  // is sent (a newline in it would end the tracker's command early).
  if (name == nullptr || std::strlen(name) > kMaxRequestName || has_control_character(name))
    return -3;
  t.size = 0;
  int style = kSingle;
  const TrackerVersion v = [] {
    LinkLockGuard lock;
    return link_record().version;
  }();
  double number = 0;
  size_t at = v.text.find("LUMAVEX RX");
  if (at != std::string::npos) std::sscanf(v.text.c_str() + at + 10, "%lf", &number);
  if (v.generation >= 3 && number >= 4.45) {
    log_printf("lumavex_file_xfer_packets = 16 %d\n", windowed ? 1 : 0);
    int16_t r = timed_command(
        1000, windowed ? "lumavex_file_xfer_packets = 16" : "lumavex_file_xfer_packets = 1");
    if (r < 0) return r;
    style = r == 0 && windowed ? kWindowAsked : kSingle;
  }
  t.style = style;
  std::string command = std::string("start_file_transfer ") + name;
  t.active = true;
  log_printf("lumavex_send_command %s\n", command.c_str());
  int16_t sent = send_command(command.c_str());
  if (sent < 0) {
    t.active = false;
    return sent;
  }
  const uint32_t start = local_ms();
  while (local_ms() - start < kAnnounceWaitMs) {
    if (t.size != 0 || !t.active) break;
    int16_t result = command_result();
    if (result != NO_REPLY) {
      if (result == 0) {
        log_printf("get_command_result_for_sn=OK_RESULT result =%d\n", result);
      } else {
        log_printf("get_command_result_for_sn result =%d\n", result);
        break;
      }
    }
    wait_for_packet_unless([&] { return t.size != 0 || !t.active; });
  }
  if (t.size != 0) return 0;
  log_printf("lumavex_request_file_read error..%d \n", command_result());
  t.active = false;
  return -110;
}

int16_t get_file_block(void *buf, int32_t *offset) {
  return take_file_block(buf, offset, nullptr);
}

int16_t take_file_block(void *buf, int32_t *offset, bool *from_ring) {
  FileTransfer &t = file_transfer();
  if (from_ring) *from_ring = false;
  if (t.first_call) {
    if (t.size == 0) return 1000;
    if (buf == nullptr) return -3;
    LinkLockGuard lock;
    std::memcpy(buf, t.name.c_str(), t.name.size() + 1);
    if (offset) *offset = static_cast<int32_t>(t.size);
    t.first_call = false;
    return file_pkt::kInfo;
  }
  const uint32_t start = local_ms();
  for (;;) {
    if (buf == nullptr) return -3;
    int32_t ack = -1;
    int16_t result = 1000;
    bool waiting = false;
    {
      LinkLockGuard lock;
      if (!t.ring || t.r == t.w) {
        if (!t.active) return -110;
        if (t.next_expected == -1) {
          log_printf("Last request for file transfer did not return\n");
          return 1000;
        }
        if (local_ms() - t.last_ack_ms > static_cast<uint32_t>(t.reack_ms.load())) {
          ack = static_cast<int32_t>(t.next_expected);
          note_ack(t, ack);
          log_printf("CONTINUE_FILE_TRANSFER_X %d\n", ack);
        }
        waiting = true;
      } else {
        Entry &e = t.ring[static_cast<size_t>(t.r.load())];
        result = e.dlen;
        if (from_ring) *from_ring = true;
        if (e.dlen >= 1 && e.dlen <= file_pkt::kMaxBlock) {
          std::memcpy(buf, e.data, static_cast<size_t>(e.dlen));
          if (offset) *offset = e.offset;
        } else if (offset) {
          *offset = 0;
        }
        e.empty();
        t.r = (t.r + 1) % kRingEntries;
        if (t.next_expected != -1 && t.r == t.w) {
          ack = static_cast<int32_t>(t.next_expected);
          note_ack(t, ack);
        }
      }
    }
    if (ack >= 0 && !ack_or_end(ack, "lumavex_end_file_transfer  send_filebuf_ack failed.2\n"))
      return -110;
    if (!waiting) return result;
    if (local_ms() - start >= static_cast<uint32_t>(t.block_wait_ms.load())) return -112;
    wait_for_packet_unless([&] { return t.r != t.w || !t.active; });
  }
}

int16_t end_file_transfer() {
  FileTransfer &t = file_transfer();
  if (t.active) {
    log_printf("lumavex_end_file_transfer cancelling   file transfer\n");
    t.active = false;
  }
  if (quiet_or_broadcast() || link_record().is_connected == 0) return 0;
  return timed_command(1000, "abort_file_transfer");
}

void end_link_file_transfer() {
  file_transfer().active = false;
}

uint32_t announced_file_size() {
  return file_transfer().size;
}

std::string announced_file_name() {
  LinkLockGuard lock;
  return file_transfer().name;
}

uint64_t file_acks_sent() {
  return file_transfer().acks;
}

void set_file_reack_ms_for_testing(int ms) {
  file_transfer().reack_ms = ms > 0 ? ms : 200;
}

void begin_file_transfer_for_testing(int style) {
  FileTransfer &t = file_transfer();
  LinkLockGuard lock;
  clear_ring_locked(t);
  t.size = 0;
  t.first_call = false;
  t.window_count = 0;
  t.style = style;
  t.active = true;
  t.acks_stubbed = true;
}

bool file_transfer_active() {
  return file_transfer().active;
}

void set_file_block_wait_ms_for_testing(int ms) {
  file_transfer().block_wait_ms = ms > 0 ? ms : 2000;
}

namespace {

// receive_file_block: the block for `expected`, with "nothing yet" turned into -112. A block of
// 999 or 1000 bytes is a block: only the reader's own answers mean information or nothing.
int16_t receive_file_block(int64_t expected, uint8_t *buf, int32_t *at) {
  int32_t &offset = *at;
  offset = 0;
  bool block = false;
  int16_t r = take_file_block(buf, &offset, &block);
  if (!block && r == 1000) return -112;
  if (!block && r == file_pkt::kInfo) return -112;
  if (r > 0 && offset != expected)
    log_printf("called lumavex_get_file_block offset mismatch =%d!=%d \n", offset,
               static_cast<int>(expected));
  return r;
}

// Starts a windowed transfer; the file size or a negative code.
int32_t start_file_receive(const char *src) {
  int16_t r = request_file_read(src, true, false);
  if (r != 0) return r;
  return static_cast<int32_t>(file_transfer().size.load());
}

}  // namespace

int32_t receive_data_file_feedback_udp(const char *src, const char *dest, bool dest_is_path,
                                       bool replace, download_progress_fn progress) {
  clear_terminal_break();
  if (dummy_mode()) return 0;
  if (link_record().is_connected == 0 || break_key_pressed()) return -6;
  // The tracker's data file must be closed before it can be sent: its answer is waited for.
  set_offline();
  close_tracker_file();
  pump_for(kPumpMs);
  drop_to_normal_priority();
  const char *source = src ? src : "";
  auto start = [&] {
    int32_t size = start_file_receive(source);
    log_printf("receive_data_file_feedback = %d\n", size);
    if (size <= 0) {
      const char *why = size < 0 ? find_error_text(size, "start_file_receive") : nullptr;
      char text[1200];
      std::snprintf(text, sizeof text, "Failed to transfer file %s.  %s", source,
                    why ? why : "Unknown Error");
      end_file_transfer();
      alert("%s %s.", text, "");
    }
    return size;
  };
  int32_t size = start();
  if (size <= 0) return -1;
  // The tracker's name for the file decides the local name only when no file name was given;
  // it must then be a plain name, not a path.
  std::string base(base_of_host_path(announced_file_name()));
  std::string d = dest ? dest : "";
  std::string local;
  if (d.empty() || dest_is_path) {
    if (!host_name_acceptable(base, "receive_data_file_feedback_udp")) {
      end_file_transfer();
      return -1;
    }
    if (d.empty()) {
      local = base;
    } else {
      make_folders(d);
      local = join_path(d, base);
    }
  } else {
    local = d;
  }
  std::unique_ptr<PendingFile> out = PendingFile::open(local, replace);
  log_printf(" qrd file name %s and to save name %s isPath %d \n", source, local.c_str(),
             dest_is_path ? 1 : 0);
  if (!out) {
    // Not 0, which would read as "not connected": the file could not be made.
    log_printf("lumavex_end_file_transfer file_ref == 0 \n");
    end_file_transfer();
    alert("open_file %s failed.\n", local.c_str());
    pump_for(kPumpMs);
    return -2;
  }
  if ((current_mode_bits() & kIdleModeBit) == 0) {
    log_printf("receive_data_file_feedback_udp: tracker not idle: offline, transfer again\n");
    set_offline();
    size = start();
    if (size <= 0) return -1;
  }
  console_printf("file size = %d\n", size);
  while (read_key() != 0) {
  }
  std::vector<uint8_t> buffer(file_pkt::kMaxBlock);
  DownloadProgress prog(progress, source, static_cast<uint64_t>(size));
  int64_t total = 0;
  int failures = 0;
  int32_t result = 0;
  bool finished = false;
  bool terminated = false;
  while (!finished) {
    uint32_t key = pump_and_read_key(nullptr);
    int16_t r;
    int32_t offset = 0;
    if (key == TERMINATE_KEY) {
      terminated = true;
      r = -110;
    } else if (key == kEscKey) {
      r = -110;
    } else {
      r = receive_file_block(total, buffer.data(), &offset);
      log_printf("receive_file_block rec =%d \n", r);
    }
    if (r > 0 && offset != total) {
      // Blocks are written one after the other: a block for another place (a tracker that
      // announced the file again and started over) would put bytes where they do not belong.
      log_printf("receive_data_file_feedback_udp: block for offset %d where %lld was due\n", offset,
                 static_cast<long long>(total));
      end_file_transfer();
      alert("Error: the tracker sent the file out of order. So far transferred %d of %d",
            static_cast<int>(total), size);
      result = -4;
      break;
    }
    if (r >= 0) {
      size_t n = static_cast<size_t>(r);
      if (out->write(buffer.data(), n) < n) {
        end_file_transfer();
        alert("Error writing to file %s", out->final_path().c_str());
        result = -5;
        break;
      }
      total += r;
      failures = 0;
      log_printf("file_size %d %d %d\n", size, static_cast<int>(total), r);
      prog.update(static_cast<uint64_t>(total));
      if (r < kShortBlock || total >= size) finished = true;
      continue;
    }
    if (r < 0) {
      pump_for(kPumpMs);
      if (r == -110 || ++failures > kMaxFailedReads) break;
    }
  }
  if (result == 0 && !finished) {
    if (terminated) {
      log_printf("Cancelling file transfer  key==TERMINATE_KEY %d=%d \n", TERMINATE_KEY,
                 TERMINATE_KEY);
      console_printf("receive_data_file_feedback_udp cancelled\n");
      end_file_transfer();
      alert("File transfer cancelled");
      result = -3;
    } else {
      char text[160];
      std::snprintf(text, sizeof text,
                    "Error: Timedout, transfer aborted. So far transferred %d of %d",
                    static_cast<int>(total), size);
      console_printf("receive_data_file_feedback_udp timeout\n");
      end_file_transfer();
      alert("%s", text);
      result = -4;
    }
  }
  if (result == 0 && total != size) {
    // A short block ended the transfer before the announced size: the file is incomplete.
    alert(
        "Received file size does not match the original file size. Received:(%lld) "
        "Original:(%d).\n",
        static_cast<long long>(total), size);
    result = -4;
  }
  if (result < 0) {
    out->discard();
    return result;
  }
  if (!out->commit(std::nullopt)) return -5;
  if (total > 0) console_printf("total bytes = %d\n", static_cast<int>(total));
  return static_cast<int32_t>(total);
}

}  // namespace lvx
