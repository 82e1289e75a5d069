#include "sim/backdrop_receiver.h"

#include <algorithm>
#include <sstream>

#include "common/wire_reader.h"

namespace lvxsim {

namespace {

constexpr int16_t kComplete = -32002;
constexpr size_t kBmpHeader = 54;

// Bit fields read from the most significant bit of each byte on.
class BitReader {
 public:
  explicit BitReader(lvx::Bytes bytes) : in_(bytes) {}
  uint32_t get(int bits) {
    uint32_t v = 0;
    for (int i = 0; i < bits; ++i, ++pos_) {
      const uint8_t byte = in_.u8_at(pos_ / 8);
      v = (v << 1) | ((byte >> (7 - pos_ % 8)) & 1u);
    }
    return v;
  }
  void to_byte() { pos_ = (pos_ + 7) / 8 * 8; }

 private:
  lvx::WireReader in_;  // past the end it reads zeros
  size_t pos_ = 0;
};

uint32_t le(lvx::WireReader &r, size_t off, size_t n) {
  const lvx::Bytes b = r.bytes_at(off, n);
  uint32_t v = 0;
  for (size_t i = b.size(); i > 0; --i) v = (v << 8) | b[i - 1];
  return v;
}

size_t packed_bytes(int levels, int w, int h) {
  const size_t rows = static_cast<size_t>(h) - 1, plane = (static_cast<size_t>(w) - 1 + 7) / 8;
  const size_t pixels = static_cast<size_t>(w) * static_cast<size_t>(h);
  switch (levels) {
    case 2:
      return rows * 3 * plane;
    case 4:
      return rows * 2 * plane;
    case 5:
      return (pixels * 7 + 7) / 8;
    case 32:
      return (pixels * 5 + 7) / 8;
    default:
      return 0;
  }
}

}  // namespace

std::optional<Backdrop> decode_link_image(int levels, int width, int height, lvx::Bytes packed) {
  if (width < 1 || height < 1 || width > 32767 || height > 32767) return std::nullopt;
  const size_t need = packed_bytes(levels, width, height);
  if ((need == 0 && levels != 2 && levels != 4) || packed.size() < need) return std::nullopt;
  Backdrop img;
  img.width = width;
  img.height = height;
  img.source = "link format " + std::to_string(levels);
  img.rgb.assign(3 * static_cast<size_t>(width) * static_cast<size_t>(height), 0);
  auto pixel = [&](int x, int y) {
    return img.rgb.data() +
           3 * (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x));
  };
  BitReader bits(packed);
  if (levels == 2 || levels == 4) {
    for (int y = 0; y + 1 < height; ++y) {
      const int planes = levels == 2 ? 3 : 2;
      for (int plane = 0; plane < planes; ++plane) {
        for (int x = 0; x + 1 < width; ++x) {
          const uint32_t bit = bits.get(1);
          uint8_t *p = pixel(x, y);
          if (levels == 2) {
            p[plane] = bit ? 255 : 0;  // red, green, blue
          } else {
            const int grey = std::min(255, p[0] + static_cast<int>(bit) * (plane == 0 ? 170 : 85));
            p[0] = p[1] = p[2] = static_cast<uint8_t>(grey);
          }
        }
        bits.to_byte();
      }
    }
    return img;
  }
  for (int y = height - 1; y >= 0; --y) {
    for (int x = 0; x < width; ++x) {
      uint8_t *p = pixel(x, y);
      if (levels == 5) {
        const uint32_t code = bits.get(7);
        if (code > 124) return std::nullopt;
        p[0] = static_cast<uint8_t>(code / 25 * 255 / 4);
        p[1] = static_cast<uint8_t>(code / 5 % 5 * 255 / 4);
        p[2] = static_cast<uint8_t>(code % 5 * 255 / 4);
      } else {
        p[0] = p[1] = p[2] = static_cast<uint8_t>(bits.get(5) * 255 / 31);
      }
    }
  }
  return img;
}

std::optional<Backdrop> decode_bmp(lvx::Bytes file) {
  lvx::WireReader r(file);
  if (r.u8_at(0) != 'B' || r.u8_at(1) != 'M') return std::nullopt;
  const uint32_t offset = le(r, 10, 4);
  const auto width = static_cast<int32_t>(le(r, 18, 4));
  const auto raw_height = static_cast<int32_t>(le(r, 22, 4));
  if (!r.ok() || le(r, 14, 4) != 40 || le(r, 26, 2) != 1 || le(r, 28, 2) != 24 ||
      le(r, 30, 4) != 0 || offset < kBmpHeader || width < 1 || raw_height == 0 || width > 32767 ||
      raw_height > 32767 || raw_height < -32767)
    return std::nullopt;
  const int height = raw_height < 0 ? -raw_height : raw_height;
  const size_t row = 3 * static_cast<size_t>(width);
  const size_t rows = file.size() - std::min<size_t>(offset, file.size());
  // Rows as the display writes them (no padding), or padded to 4 bytes as BMP readers expect.
  size_t stride = row;
  if (rows < row * static_cast<size_t>(height)) return std::nullopt;
  if (rows >= ((row + 3) & ~size_t{3}) * static_cast<size_t>(height) &&
      rows != row * static_cast<size_t>(height))
    stride = (row + 3) & ~size_t{3};
  Backdrop img;
  img.width = width;
  img.height = height;
  img.rgb.resize(row * static_cast<size_t>(height));
  for (int y = 0; y < height; ++y) {
    const int stored = raw_height < 0 ? y : height - 1 - y;
    const lvx::Bytes src = r.bytes_at(offset + static_cast<size_t>(stored) * stride, row);
    if (!r.ok()) return std::nullopt;
    uint8_t *d = img.rgb.data() + static_cast<size_t>(y) * row;
    for (size_t i = 0; i < row; i += 3) {  // blue, green, red to red, green, blue
      d[i] = src[i + 2];
      d[i + 1] = src[i + 1];
      d[i + 2] = src[i];
    }
  }
  return img;
}

BackdropReceiver::Start BackdropReceiver::start(const std::string &command_text) {
  int args[5] = {0, 0, 0, 0, 0};
  std::istringstream in(
      command_text.substr(std::min(command_text.size(), command_text.find(' ') + 1)));
  for (int &a : args) in >> a;
  std::lock_guard<std::mutex> lock(mu_);
  bitmap_ = ReceivedBitmap{};
  bitmap_.start_command = command_text;
  active_ = true;
  expected_ = 1;
  unacked_ = 0;
  resend_pending_ = false;
  x_ = args[1];
  y_ = args[2];
  target_width_ = settings_.target_width > 0 ? settings_.target_width : args[3];
  target_height_ = settings_.target_height > 0 ? settings_.target_height : args[4];
  Start s;
  s.answer = std::to_string(target_width_) + " " + std::to_string(target_height_) + " 0 0 " +
             std::to_string(settings_.format) + " 0";
  // The display sends nothing before it has credit.
  s.credit = static_cast<int16_t>(std::clamp(settings_.window, 1, 32767));
  return s;
}

void BackdropReceiver::stop() {
  std::lock_guard<std::mutex> lock(mu_);
  active_ = false;
}

std::optional<int16_t> BackdropReceiver::on_packet(uint16_t sequence, lvx::Bytes data) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!active_) return std::nullopt;
  if (faults_.silent_after >= 0 && bitmap_.packets >= faults_.silent_after) return std::nullopt;
  if (faults_.drop_sequence != 0 && sequence == faults_.drop_sequence) {
    faults_.drop_sequence = 0;
    ++bitmap_.dropped;
    return std::nullopt;
  }
  if (sequence != expected_) {
    if (resend_pending_) return std::nullopt;
    resend_pending_ = true;
    ++bitmap_.resend_requests;
    return static_cast<int16_t>(-static_cast<int>(std::min<uint16_t>(expected_, 32767)));
  }
  resend_pending_ = false;
  ++expected_;
  if (data.empty()) {
    bitmap_.complete = true;
    active_ = false;
    completed_ = true;
    return kComplete;
  }
  bitmap_.bytes.insert(bitmap_.bytes.end(), data.begin(), data.end());
  ++bitmap_.packets;
  if (++unacked_ < std::max(1, settings_.ack_every)) return std::nullopt;
  const auto acked = static_cast<int16_t>(unacked_);
  unacked_ = 0;
  return acked;
}

bool BackdropReceiver::show_completed() {
  std::vector<uint8_t> bytes;
  int w, h, x, y;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!completed_) return false;
    completed_ = false;
    bytes = bitmap_.bytes;
    w = target_width_;
    h = target_height_;
    x = x_;
    y = y_;
  }
  std::optional<Backdrop> img = decode_link_image(settings_.format, w, h, bytes);
  if (!img) return false;
  img->x = x;
  img->y = y;
  show(std::move(*img));
  return true;
}

void BackdropReceiver::show(Backdrop image) {
  std::lock_guard<std::mutex> lock(mu_);
  backdrop_ = std::move(image);
  ++shown_;
}

void BackdropReceiver::set_faults(const BitmapFaults &faults) {
  std::lock_guard<std::mutex> lock(mu_);
  faults_ = faults;
}

ReceivedBitmap BackdropReceiver::bitmap() const {
  std::lock_guard<std::mutex> lock(mu_);
  return bitmap_;
}

std::optional<Backdrop> BackdropReceiver::backdrop() const {
  std::lock_guard<std::mutex> lock(mu_);
  return backdrop_;
}

uint64_t BackdropReceiver::shown() const {
  std::lock_guard<std::mutex> lock(mu_);
  return shown_;
}

}  // namespace lvxsim
