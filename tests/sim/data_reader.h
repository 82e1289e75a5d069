// Reading DATA packets back in tests: the item walk and a field-by-field reader of sample items,
// so that what the tracker's encoders wrote can be compared with what they were given.
#pragma once

#include <optional>
#include <vector>

#include "common/byte_io.h"
#include "lumavex_core.h"
#include "sim/data_items.h"

namespace simtest {

struct ItemView {
  bool event = false;
  bool last = false;
  std::vector<uint8_t> body;
  uint8_t event_type() const { return body.empty() ? 0 : static_cast<uint8_t>(body[0] & 0x3F); }
};

// The items of a DATA packet, or nothing when the packet's length rules do not hold (shorter
// than L + 47, an item running past the area, no last-item mark on the final item).
inline std::optional<std::vector<ItemView>> read_items(const std::vector<uint8_t> &p) {
  lvx::Bytes b(p);
  if (p.size() < 47 || p[0] != 4) return std::nullopt;
  size_t area = lvx::get_u16(b, 20);
  if (p.size() < area + 47) return std::nullopt;
  size_t at = 44 + p[22];
  size_t end = at + area;
  if (end > p.size()) return std::nullopt;
  std::vector<ItemView> items;
  while (at < end) {
    if (at + 2 > end) return std::nullopt;
    uint16_t h = lvx::get_u16(b, at);
    size_t n = h & 0x3FFF;
    if (at + 2 + n > end) return std::nullopt;
    ItemView v;
    v.event = (h & 0x4000) != 0;
    v.last = (h & 0x8000) != 0;
    v.body.assign(p.begin() + static_cast<std::ptrdiff_t>(at + 2),
                  p.begin() + static_cast<std::ptrdiff_t>(at + 2 + n));
    items.push_back(std::move(v));
    at += 2 + n;
    if (items.back().last) break;
  }
  if (at != end || items.empty() || !items.back().last) return std::nullopt;
  return items;
}

// Reads a sample item back into its fields; nothing when the fields do not use up the item.
inline std::optional<lvxsim::build::SampleFields> read_sample(const std::vector<uint8_t> &body) {
  lvx::Bytes b(body);
  size_t at = 0;
  auto u8 = [&]() { return at < b.size() ? b[at++] : uint8_t{0}; };
  auto u16 = [&]() {
    uint16_t v = lvx::get_u16(b, at);
    at += 2;
    return v;
  };
  auto i16 = [&]() { return static_cast<int16_t>(u16()); };
  lvxsim::build::SampleFields s;
  s.flags = u16();
  const uint16_t f = s.flags;
  if (f & SF_FULL_TIME) {
    s.time = lvx::get_u32(b, at);
    at += 4;
  } else {
    s.delta = u8();
  }
  auto pairs = [&](lvxsim::build::XY(&v)[2]) {
    if (f & SF_LEFT) v[0] = {i16(), i16()};
    if (f & SF_RIGHT) v[1] = {i16(), i16()};
  };
  if (f & SF_PUPIL_XY) pairs(s.pupil);
  if (f & SF_HREF_XY) pairs(s.href);
  if (f & SF_GAZE_XY) pairs(s.gaze);
  if (f & SF_RESOLUTION) {
    s.res_x = i16();
    s.res_y = i16();
  }
  if (f & SF_PUPIL_SIZE) {
    if (f & SF_LEFT) s.pupil_size[0] = u16();
    if (f & SF_RIGHT) s.pupil_size[1] = u16();
  }
  if (f & SF_STATUS) s.status = u16();
  if (f & SF_INPUT) s.input = u16();
  if (f & SF_BUTTONS) s.buttons = u16();
  if (f & SF_AUX) {
    s.aux_type = u8();
    for (size_t i = 0; i < std::min<size_t>(s.aux_type & 0x0F, 8); ++i) s.aux[i] = u16();
  }
  if (f & SF_BLOCKS) {
    for (uint8_t len = u8(); len != 0 && at < b.size(); len = u8()) {
      lvxsim::build::ExtensionBlock blk;
      blk.type = u8();
      if (at + len > b.size()) return std::nullopt;
      blk.data.assign(body.begin() + static_cast<std::ptrdiff_t>(at),
                      body.begin() + static_cast<std::ptrdiff_t>(at + len));
      at += len;
      s.blocks.push_back(std::move(blk));
    }
  }
  if (f & SF_SKIP_CHUNKS) {
    for (uint8_t c = u8(); c != 0 && at < b.size(); c = u8()) {
      if (at + c + 1u > b.size()) return std::nullopt;
      s.skip_chunks.emplace_back(body.begin() + static_cast<std::ptrdiff_t>(at),
                                 body.begin() + static_cast<std::ptrdiff_t>(at + c + 1u));
      at += c + 1u;
    }
  }
  if (at != b.size()) return std::nullopt;
  return s;
}

// The tagged values of an event item, in order: (tag, value bytes).
struct Tag {
  uint8_t tag = 0;
  std::vector<uint8_t> value;
  uint32_t u32() const { return lvx::get_u32(lvx::Bytes(value), 0); }
  uint16_t u16(size_t i = 0) const { return lvx::get_u16(lvx::Bytes(value), 2 * i); }
};

// Nothing when the tags do not end with the zero tag exactly at the item's end.
inline std::optional<std::vector<Tag>> read_tags(const std::vector<uint8_t> &body) {
  std::vector<Tag> tags;
  size_t at = 2;
  while (at < body.size()) {
    uint8_t tag = body[at++];
    if (tag == 0) return at == body.size() ? std::optional(tags) : std::nullopt;
    size_t n = (tag & 0x10) ? 2 : 4;
    if (tag == 0x5E) {
      if (at + 2 > body.size()) return std::nullopt;
      n = 2u + lvx::get_u16(lvx::Bytes(body), at);
    }
    if (at + n > body.size()) return std::nullopt;
    tags.push_back({tag, std::vector<uint8_t>(body.begin() + static_cast<std::ptrdiff_t>(at),
                                              body.begin() + static_cast<std::ptrdiff_t>(at + n))});
    at += n;
  }
  return std::nullopt;
}

inline const Tag *find_tag(const std::vector<Tag> &tags, uint8_t tag) {
  for (const Tag &t : tags) {
    if (t.tag == tag) return &t;
  }
  return nullptr;
}

}  // namespace simtest
