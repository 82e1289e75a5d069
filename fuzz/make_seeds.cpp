// Writes the seed corpus of a fuzz target from what the simulated tracker really sends.
//   make_seeds DIR fuzz_rx_buffer: datagrams (connect replies, status packets, node messages,
//     data packets of a recorded stream, several packets in one datagram, relay records), each
//     behind the byte that picks connection state and sender;
//   make_seeds DIR fuzz_item_decoder: the sample and event items inside those data packets, each
//     behind the byte that picks the decoder and the prescalers;
//   make_seeds DIR fuzz_tcp_framing: TCP streams of those packets in "LV" frames (one packet or
//     several a frame, an empty frame, a stream cut within a frame), each behind the byte that
//     picks the size of the pieces it arrives in.
//   make_seeds DIR fuzz_image_packet: the image segments of small camera pictures, as chunks;
//   make_seeds DIR fuzz_image_decoder: compressed camera pictures behind their line length,
//     piece size and palette information.
//   make_seeds DIR fuzz_status_packet: status packets of every type the tracker sends, alone, cut
//     short and followed by more, each behind the byte that picks the pending requests;
//   make_seeds DIR fuzz_key_packet: key, flush and button packets, alone and several in a row,
//     each behind the byte that picks the button states.
//   make_seeds DIR fuzz_file_packet: runs of FILE_PKTs as the tracker sends them (the file
//     information, blocks one at a time and in windows, repeats, gaps, error packets), each
//     behind the byte that picks the transfer style and the reader's pace.
//   make_seeds DIR fuzz_service_reply: the file service's replies (with file bytes after them,
//     cut short, with over-long fields) and video listings.
//   make_seeds DIR fuzz_relay_slave_records: what relay slaves send their master (every kind of
//     record, well made and not), each behind the byte that picks the size of its pieces;
//   make_seeds DIR fuzz_relay_stream: what a relay master sends its slaves (data packets in
//     "LV_PKT:" records, a serial and its reply, unusable lengths, a cut tag), likewise.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "sim/camera.h"
#include "sim/data_items.h"
#include "sim/stream.h"
#include "sim/tracker.h"

namespace {

using Bytes = std::vector<uint8_t>;

void write(const std::string &dir, const std::string &name, uint8_t mode, const Bytes &body) {
  std::string path = dir + "/" + name;
  FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return;
  std::fputc(mode, f);
  std::fwrite(body.data(), 1, body.size(), f);
  std::fclose(f);
}

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// A short binocular stream with events, extension blocks and delta times: its opening markers,
// some sample packets and its closing markers.
std::vector<Bytes> stream_packets() {
  lvxsim::StreamConfig c;
  c.rate_hz = 500;
  c.full_time_every = 4;
  c.samples_per_packet = 3;
  c.sample_content |= SF_AUX | SF_BLOCKS;
  c.block_kinds = {lvxsim::kBlockRaw, lvxsim::kBlockFloatGaze, lvxsim::kBlockPoints};
  c.mean_blink_interval_s = 0.5;
  lvxsim::StreamEngine engine(c, 5'000'000, 1);
  std::vector<Bytes> packets{engine.open_packet().bytes};
  engine.queue_message(5001, "TRIALID 1");
  engine.queue_buttons(2);
  for (int i = 0; i < 400; ++i) {
    lvxsim::StreamPacket p = engine.next_packet();
    if (i % 40 == 0 || !p.events.empty()) packets.push_back(p.bytes);
  }
  packets.push_back(engine.close_packet(5900).bytes);
  return packets;
}

// DATA packet fields the item walk reads: the item area's length and offset, and each item's
// 2-byte header.
constexpr size_t kItemAreaLength = 20;
constexpr size_t kItemAreaOffset = 22;
constexpr size_t kItemHeader = 2;

// Writes the items of the data packets, each behind its decoder byte (bit 0: event; prescalers
// of 10).
void write_items(const std::string &dir, const std::vector<Bytes> &packets) {
  int n = 0;
  namespace b = lvxsim::build;
  auto u16 = [](const Bytes &p, size_t at) { return static_cast<size_t>(p[at]) << 8 | p[at + 1]; };
  for (const Bytes &p : packets) {
    if (p.size() < b::kDataItemsOffset) continue;
    size_t at = b::kDataItemsOffset + p[kItemAreaOffset];
    size_t end = std::min(p.size(), at + u16(p, kItemAreaLength));
    while (at + kItemHeader <= end && n < 200) {
      size_t header = u16(p, at);
      size_t length = header & b::kItemLengthMask;
      bool event = (header & b::kItemEvent) != 0;
      at += kItemHeader;
      if (at + length > end) break;
      Bytes item(p.begin() + static_cast<std::ptrdiff_t>(at),
                 p.begin() + static_cast<std::ptrdiff_t>(at + length));
      write(dir, "item" + std::to_string(n++), static_cast<uint8_t>(0x14 | (event ? 1 : 0)), item);
      at += length;
      if ((header & b::kItemLast) != 0) break;
    }
  }
}

// Streams of "LV" frames as the tracker sends them over TCP.
void write_tcp_streams(const std::string &dir, const std::vector<Bytes> &packets) {
  namespace b = lvxsim::build;
  auto frames = [](std::initializer_list<Bytes> each) {
    Bytes out;
    for (const Bytes &p : each) {
      Bytes f = lvxsim::SimTracker::frame_tcp(p);
      out.insert(out.end(), f.begin(), f.end());
    }
    return out;
  };
  Bytes ack = b::connect_packet(0x81, 3, 2, "tracker", "display", "QX VELOTRIS LUMAVEX RX 5.7");
  Bytes status = b::status_packet(7, 22, 0xFFFD, 0, "ok");
  Bytes node = b::node_packet(Bytes(24, 'n'));
  Bytes stream;
  for (size_t i = 0; i < packets.size() && stream.size() < 6000; i += 5) {
    Bytes f = lvxsim::SimTracker::frame_tcp(packets[i]);
    stream.insert(stream.end(), f.begin(), f.end());
  }
  write(dir, "connect", 255, frames({ack, status}));
  write(dir, "data_stream_whole", 255, stream);
  write(dir, "data_stream_by_7", 6, stream);
  write(dir, "data_stream_by_1", 0, Bytes(stream.begin(), stream.begin() + 600));
  write(dir, "two_packets_a_frame", 31, frames({cat({status, node}), Bytes{}, ack}));
  Bytes cut = frames({status, node});
  cut.resize(cut.size() - 3);
  write(dir, "cut_within_a_frame", 9, cut);
  write(dir, "largest_frame", 99, frames({Bytes(1500, 0x5A)}));
}

// Small camera pictures of each camera, compressed in each mode.
void write_images(const std::string &dir, bool packets) {
  int n = 0;
  for (uint8_t camera : {lvxsim::kCameraLeftEye, lvxsim::kCameraHead}) {
    for (int mode = -1; mode <= 2; ++mode) {
      lvxsim::CameraScene scene;
      scene.camera = camera;
      scene.extended = camera == lvxsim::kCameraHead;
      const int w = 24 + 8 * n, h = 12;
      lvxsim::CameraPicture pic = lvxsim::render_camera(scene, w, h);
      Bytes stream = lvxsim::imgcode::encode_image(pic.pixels, w, h, mode);
      Bytes body;
      if (packets) {
        for (const Bytes &seg : lvxsim::imgcode::segments(stream, pic.info, w, h, 97)) {
          body.push_back(static_cast<uint8_t>(body.empty() ? 3 : 2));
          body.push_back(static_cast<uint8_t>(seg.size() >> 8));
          body.push_back(static_cast<uint8_t>(seg.size()));
          body.insert(body.end(), seg.begin(), seg.end());
        }
      } else {
        body = {0, static_cast<uint8_t>(w), static_cast<uint8_t>(13 + n)};
        body.insert(body.end(), pic.info.begin(), pic.info.end());
        body.insert(body.end(), stream.begin(), stream.end());
      }
      // The first byte written is part of the input here.
      write(dir, "image" + std::to_string(n++), body.front(), Bytes(body.begin() + 1, body.end()));
    }
  }
}

void write_status_packets(const std::string &dir) {
  namespace b = lvxsim::build;
  struct Seed {
    const char *name;
    uint16_t type, value1, value2;
    const char *text;
  };
  const Seed seeds[] = {
      {"result", 22, 0xFFFD, 0, "ok"},
      {"result_20", 20, 0, 0, ""},
      {"read_reply", 21, 0, 0, "screen_pixel_coords = 0 0 1023 767"},
      {"time_reply", 40, 0, 0, ""},
      {"bitmap_ack", 50, 4, 0, ""},
      {"bitmap_error", 50, 0xFFFE, 0, ""},
      {"show_target", 100, 512, 384, "show_fixpoint 512.5 384.25"},
      {"show_target_values", 100, 100, 200, ""},
      {"hide_target", 101, 0, 0, ""},
      {"fix_accepted", 102, 0, 0, ""},
      {"cal_info", 103, 0, 0, "calibration result: GOOD"},
      {"messages_lost", 128, 0, 0, ""},
      {"menu_selection", 150, 1, 2, ""},
      {"unknown_type", 999, 1, 1, "x"},
  };
  uint8_t mode = 0;
  for (const Seed &seed : seeds) {
    Bytes p = b::status_packet(0x1234, seed.type, seed.value1, seed.value2, seed.text);
    write(dir, seed.name, static_cast<uint8_t>(mode++ % 4), p);
  }
  Bytes result = b::status_packet(7, 22, 0xFFFD, 0, "ok");
  write(dir, "cut_short", 1, Bytes(result.begin(), result.begin() + 31));
  write(dir, "text_cut_short", 1, Bytes(result.begin(), result.end() - 3));
  write(dir, "followed", 3, cat({result, b::status_packet(8, 150, 1, 2, "")}));
}

// A key packet as the tracker sends it (30 bytes: no raw code), or a button packet (32 bytes).
Bytes key_packet(uint16_t code, uint16_t modifiers, uint8_t state, uint8_t button, uint32_t time) {
  Bytes p = lvxsim::build::header(KEY_PKT, 0, 0, 1, time, 0);
  p.resize(button != 0 ? 32 : 30, 0);
  auto put16 = [&p](size_t at, uint16_t v) {
    p[at] = static_cast<uint8_t>(v >> 8);
    p[at + 1] = static_cast<uint8_t>(v);
  };
  put16(20, static_cast<uint16_t>(time >> 16));
  put16(22, static_cast<uint16_t>(time));
  put16(24, code);
  put16(26, modifiers);
  p[28] = state;
  p[29] = button;
  return p;
}

void write_key_packets(const std::string &dir) {
  Bytes key = key_packet(0x41, 0x0041, 1, 0, 5000);
  Bytes release = key_packet(0x41, 0, 0, 0, 5010);
  Bytes flush = key_packet(0xFFF0, 0x0005, 0, 0, 5020);
  Bytes press = key_packet(0, 0, 10, 3, 5030);
  Bytes unpress = key_packet(0, 0, 0xFF, 3, 5040);
  Bytes odd_button = key_packet(0, 0, 10, 16, 5050);
  write(dir, "key", 0, key);
  write(dir, "flush", 0, flush);
  write(dir, "press", 1, press);
  write(dir, "release", 0x0B, unpress);
  write(dir, "odd_button", 1, odd_button);
  write(dir, "button_cut_short", 1, Bytes(press.begin(), press.end() - 2));
  write(dir, "key_cut_short", 0, Bytes(key.begin(), key.end() - 4));
  write(dir, "keys", 1, cat({key, release, press, unpress, flush, key}));
  Bytes many;
  for (int i = 0; i < 20; ++i)
    many = cat({many, key_packet(static_cast<uint16_t>(0x30 + i), 0, 1, 0, 6000)});
  write(dir, "overflow", 0, many);
}

// A FILE_PKT: header, position word, signed length, two unused bytes, data.
Bytes file_packet(uint32_t position, int16_t dlen, const Bytes &body) {
  Bytes p = lvxsim::build::header(7, 0, 0, 1, 1000, 0);
  p.resize(28 + body.size() + 1, 0);
  for (int i = 0; i < 4; ++i) p[20 + i] = static_cast<uint8_t>(position >> (24 - 8 * i));
  p[24] = static_cast<uint8_t>(static_cast<uint16_t>(dlen) >> 8);
  p[25] = static_cast<uint8_t>(dlen);
  std::copy(body.begin(), body.end(), p.begin() + 28);
  return p;
}

void write_file_packets(const std::string &dir) {
  const std::string name = "/lvrx/data/trial.qrd";
  Bytes info = file_packet(2500, 999, Bytes(name.begin(), name.end() + 1));
  Bytes run = info;
  for (uint32_t at = 0; at < 2500; at += 992) {
    int16_t n = static_cast<int16_t>(std::min<uint32_t>(992, 2500 - at));
    run = cat({run, file_packet(at, n, Bytes(static_cast<size_t>(n), 0x5A))});
  }
  write(dir, "single", 0x04, run);
  Bytes window = file_packet(40000, 999, Bytes(name.begin(), name.end() + 1));
  for (uint32_t i = 0; i < 16; ++i) {
    uint32_t flags = i == 0 ? 6 : i == 15 ? 2 : 4;
    window = cat({window, file_packet(i * 1024 | flags << 28, 1024, Bytes(1024, 0x33))});
  }
  write(dir, "window", 0x02 | 0x0C, window);
  write(dir, "stalled_reader", 0x01, window);
  write(dir, "repeat", 0x04,
        cat({info, file_packet(0, 992, Bytes(992, 1)), file_packet(0, 992, Bytes(992, 1)),
             file_packet(1984, 516, Bytes(516, 2))}));
  for (int16_t e : {-113, -112, -111, -110})
    write(dir, "error" + std::to_string(-e), 0x04, cat({info, file_packet(0, e, {})}));
  write(dir, "long_block", 0x04, cat({info, file_packet(0, 2000, Bytes(2000, 3))}));
  Bytes cut = file_packet(0, 992, Bytes(992, 4));
  cut.resize(500);
  write(dir, "cut", 0x04, cat({info, cut}));
}

void write_service_replies(const std::string &dir) {
  auto text = [](const std::string &s) { return Bytes(s.begin(), s.end() + 1); };
  write(dir, "ready", 'G', text("ET_Ready trial.qrd 2500 2023-11-14-02@22:13:20 2309737967"));
  Bytes with_data = cat({text("GET_Ready trial.qrd 10 2023-1-2-3@4:5:6 0"), Bytes(10, 7)});
  write(dir, "with_data", with_data[0], Bytes(with_data.begin() + 1, with_data.end()));
  write(dir, "not_found", 'G', text("ET_Error no such file"));
  write(dir, "long_name", 'G', text("ET_Ready " + std::string(200, 'n') + " 1 x 1"));
  write(dir, "hostile", 'G', text("ET_Ready ../../etc/passwd 1 2023-11-14-02@22:13:20 1"));
  write(dir, "videos", 'Q', text("XGETVS_Ready trial 3 a.evf;;b.evf"));
  write(dir, "put", 'P', text("UT_Ready"));
}

// What relay slaves send their master: zero-terminated records of every kind, well made and not.
void write_slave_records(const std::string &dir) {
  auto records = [](std::initializer_list<std::string> each) {
    Bytes out;
    for (const std::string &r : each) {
      out.insert(out.end(), r.begin(), r.end());
      out.push_back(0);
    }
    return out;
  };
  Bytes session = records({"LV_OPN:00001a2b", "LV_MSG:00001a2b:00003039:02a6:TRIALID 1",
                           "LV_MSG:00001a2b:00000000:0000:no time",
                           "LV_CMD:00001a2b:00000000:0000:screen_pixel_coords", "LV_CLS:00001a2b"});
  write(dir, "session_whole", 255, session);
  write(dir, "session_by_7", 6, session);
  write(dir, "session_by_1", 0, session);
  write(dir, "upper_case_hex", 255, records({"LV_MSG:00001A2B:FFFFFFFF:03E7:x"}));
  write(dir, "longest_text", 200,
        records({"LV_MSG:00000001:00000001:0001:" + std::string(993, 't')}));
  write(dir, "overlong", 100,
        records({"LV_MSG:00000001:00000001:0001:" + std::string(1100, 'o'), "LV_CLS:00000001"}));
  write(dir, "broken_fields", 255,
        records({"LV_MSG:0000000g:00000001:0001:x", "LV_MSG:00000001:00000001:03e8:x",
                 "LV_MSG:00000001-00000001:0001:x", "LV_CLS:0001", "xLV_OPN:00000001",
                 "LV_MSG:00000001:00000001:0001"}));
}

// What a relay master sends its slaves: the tracker's datagrams in "LV_PKT:" records, a read
// request's serial in an "LV_SER:" record, and records of unusable lengths.
void write_relay_streams(const std::string &dir, const std::vector<Bytes> &packets) {
  uint32_t counter = 0;
  auto packet_record = [&counter](const Bytes &data) {
    char head[32];
    std::snprintf(head, sizeof head, "LV_PKT:%08x:%08zx:", counter++, data.size());
    Bytes out(head, head + 25);
    out.insert(out.end(), data.begin(), data.end());
    return out;
  };
  auto serial_record = [&counter](uint32_t serial) {
    char text[48];
    std::snprintf(text, sizeof text, "LV_SER:%08x:0000000d:SER=%08x:", counter++, serial);
    Bytes out(text, text + std::strlen(text));
    out.push_back(0);
    return out;
  };
  namespace b = lvxsim::build;
  Bytes stream;
  for (size_t i = 0; i < packets.size() && stream.size() < 6000; i += 3) {
    Bytes r = packet_record(packets[i]);
    stream.insert(stream.end(), r.begin(), r.end());
  }
  write(dir, "data_whole", 255, stream);
  write(dir, "data_by_13", 12, stream);
  write(dir, "data_by_1", 0, Bytes(stream.begin(), stream.begin() + 500));
  Bytes reply = b::status_packet(0x51, 21, 0, 0, "1280 1024");
  write(dir, "serial_then_reply", 30, cat({serial_record(0x51), packet_record(reply)}));
  write(dir, "largest", 255, packet_record(Bytes(1499, 0x5A)));
  write(dir, "unusable_lengths", 255,
        cat({packet_record(Bytes{}), packet_record(Bytes(1500, 1)),
             Bytes{'L', 'V', '_', 'S', 'E', 'R', ':', '0', '0', '0', '0', '0', '0',
                   '0', '0', ':', '0', '0', '0', '0', '0', '0', '0', 'e', ':'},
             packet_record(reply)}));
  write(dir, "cut_tag", 3, cat({packet_record(reply), Bytes{'L', 'V', '_', 'P'}}));
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) return 2;
  std::string dir = argv[1];
  std::string target = argc > 2 ? argv[2] : "fuzz_rx_buffer";
  std::vector<Bytes> stream = stream_packets();
  if (target == "fuzz_item_decoder") {
    write_items(dir, stream);
    return 0;
  }
  if (target == "fuzz_tcp_framing") {
    write_tcp_streams(dir, stream);
    return 0;
  }
  if (target == "fuzz_image_packet" || target == "fuzz_image_decoder") {
    write_images(dir, target == "fuzz_image_packet");
    return 0;
  }
  if (target == "fuzz_status_packet") {
    write_status_packets(dir);
    return 0;
  }
  if (target == "fuzz_key_packet") {
    write_key_packets(dir);
    return 0;
  }
  if (target == "fuzz_file_packet") {
    write_file_packets(dir);
    return 0;
  }
  if (target == "fuzz_service_reply") {
    write_service_replies(dir);
    return 0;
  }
  if (target == "fuzz_relay_slave_records") {
    write_slave_records(dir);
    return 0;
  }
  if (target == "fuzz_relay_stream") {
    write_relay_streams(dir, stream);
    return 0;
  }
  for (size_t i = 0; i < stream.size(); i += 7) {
    write(dir, "stream" + std::to_string(i), 0, stream[i]);
  }
  namespace b = lvxsim::build;
  Bytes ack = b::connect_packet(0x81, 3, 2, "tracker", "display", "QX VELOTRIS LUMAVEX RX 5.7");
  Bytes poll = b::connect_packet(0x91, 3, 2, "tracker", "", "QX VELOTRIS LUMAVEX");
  Bytes status = b::status_packet(7, 22, 0xFFFD, 0, "ok");
  Bytes menu = b::status_packet(8, 150, 1, 2, "");
  Bytes node = b::node_packet(Bytes(24, 'n'));
  Bytes data = b::header(4, 14, 0, 9, 1000, 5);
  data.resize(60, 0);
  write(dir, "ack", 0, ack);
  write(dir, "poll_reply", 4, poll);
  write(dir, "status", 0, status);
  write(dir, "menu", 0, menu);
  write(dir, "node", 4, node);
  write(dir, "data_from_tracker", 0, data);
  write(dir, "data_from_stranger", 4, data);
  write(dir, "several", 0, cat({status, menu, data}));
  write(dir, "data_and_status", 0, cat({stream[1], status, stream[2]}));
  char head[32];
  std::snprintf(head, sizeof head, "LV_PKT:00000001:%08zx:", status.size());
  std::string relay = head + std::string(status.begin(), status.end());
  relay.push_back('\0');
  relay += "LV_SER:00000000:0000000d:00000000002a:";
  write(dir, "relay", 3, Bytes(relay.begin(), relay.end()));
  return 0;
}
