// Packet builders: the byte layouts of the packets the tracker sends, written field by field.
#include <cstring>

#include "sim/tracker.h"

namespace lvxsim {

namespace build {

std::vector<uint8_t> header(uint8_t type, uint8_t mode, uint8_t state, uint32_t seq,
                            uint32_t time_ms, uint16_t time_us) {
  std::vector<uint8_t> h(kHeaderSize, 0);
  lvx::MutableBytes b(h);
  lvx::put_u8(b, 0, type);
  lvx::put_u8(b, 1, static_cast<uint8_t>(kHeaderSize));
  lvx::put_u8(b, 2, mode);
  lvx::put_u8(b, 3, state);
  lvx::put_u32(b, 4, seq);
  lvx::put_u32(b, 8, time_ms);
  lvx::put_u16(b, 12, time_us);
  return h;
}

std::vector<uint8_t> connect_packet(uint8_t code, uint8_t major, uint8_t minor,
                                    const std::string &tracker_name, const std::string &remote_name,
                                    const std::string &identity) {
  std::vector<uint8_t> p = header(kConnectPkt, 0, 0, 0, 0, 0);
  p.resize(kConnectSize, 0);
  lvx::MutableBytes b(p);
  lvx::put_u8(b, kConnectCodeOffset, code);
  lvx::put_u8(b, kConnectMajorOffset, major);
  lvx::put_u8(b, kConnectMinorOffset, minor);
  lvx::put_text(b, kTrackerNameOffset, kNameSize, tracker_name);
  lvx::put_text(b, kRemoteNameOffset, kNameSize, remote_name);
  lvx::put_text(b, kIdentityOffset, kIdentitySize, identity);
  return p;
}

std::vector<uint8_t> node_packet(const std::vector<uint8_t> &payload) {
  // The length field is 16 bits; anything longer is cut there (the display refuses above 420
  // anyway, and tests use this to build such packets).
  size_t n = payload.size() > 0xFFFF ? 0xFFFF : payload.size();
  std::vector<uint8_t> p(n + kNodeOverhead, 0);
  lvx::MutableBytes b(p);
  lvx::put_u8(b, 0, kNodePkt);
  lvx::put_u8(b, 1, static_cast<uint8_t>(kHeaderSize));
  lvx::put_u16(b, 2, static_cast<uint16_t>(n));
  if (n > 0) std::memcpy(p.data() + 4, payload.data(), n);
  return p;
}

std::vector<uint8_t> status_packet(uint32_t serial, uint16_t status_type, uint16_t value1,
                                   uint16_t value2, const std::string &text) {
  // The display advances past a status packet by a length that depends on its type; the padding
  // makes the packet exactly that long so that a following packet in the datagram is found.
  size_t len = text.size() > 0xFFFF ? 0xFFFF : text.size();
  size_t total = len + 34;
  if (status_type >= 100 && status_type <= 103) {
    total = len + 35;
  } else if (status_type == 50 || status_type == kStatusMsgLost || status_type == 150) {
    total = len + 37;
  }
  std::vector<uint8_t> p = header(kStatusPkt, 0, 0, serial, 0, 0);
  p.resize(total, 0);
  lvx::MutableBytes b(p);
  lvx::put_u16(b, 20, status_type);
  lvx::put_u16(b, 22, value1);
  lvx::put_u16(b, 24, value2);
  lvx::put_u16(b, 30, static_cast<uint16_t>(len));
  if (len > 0) std::memcpy(p.data() + 32, text.data(), len);
  return p;
}

}  // namespace build

std::vector<uint8_t> SimTracker::frame_tcp(const std::vector<uint8_t> &packet) {
  std::vector<uint8_t> f(4 + packet.size(), 0);
  lvx::MutableBytes b(f);
  lvx::put_u8(b, 0, 'L');
  lvx::put_u8(b, 1, 'V');
  lvx::put_u16(b, 2, static_cast<uint16_t>(packet.size() > 0xFFFF ? 0xFFFF : packet.size()));
  if (!packet.empty()) std::memcpy(f.data() + 4, packet.data(), packet.size());
  return f;
}

}  // namespace lvxsim
