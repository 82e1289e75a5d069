#include "backdrop/pixel_pipeline.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace lvx::backdrop {

namespace {

constexpr uint32_t kOne = 65536;  // 1.0 in 16.16 fixed point
constexpr double kTwoLevelGamma = 1.25;
constexpr double kCoarseFactor = 2.0;
constexpr double kFineFactor = 0.06;

// A 16-bit pixel's channels, each scaled from 5 bits to 0..247 (x 7.96875, truncated).
void unpack_16(const uint8_t *p, uint8_t *bgr) {
  uint16_t v;
  std::memcpy(&v, p, sizeof v);
  bgr[0] = static_cast<uint8_t>((((v >> 1) & 31u) * 255u) >> 5);
  bgr[1] = static_cast<uint8_t>((((v >> 6) & 31u) * 255u) >> 5);
  bgr[2] = static_cast<uint8_t>((((v >> 11) & 31u) * 255u) >> 5);
}

uint8_t grey_of(const uint8_t *p) {
  return static_cast<uint8_t>(std::min(255, (3 * p[0] + 8 * p[1] + 5 * p[2]) >> 4));
}

// Writes values of `bits` bits as one big-endian bit stream.
class BitWriter {
 public:
  explicit BitWriter(size_t reserve) { out_.reserve(reserve); }
  void put(uint32_t value, int bits) {
    acc_ = (acc_ << bits) | (value & ((1u << bits) - 1));
    held_ += bits;
    while (held_ >= 8) {
      held_ -= 8;
      out_.push_back(static_cast<uint8_t>(acc_ >> held_));
    }
    acc_ &= (1u << held_) - 1;
  }
  // Pads the last byte with zero bits.
  void flush() {
    if (held_ > 0) put(0, 8 - held_);
  }
  std::vector<uint8_t> take() {
    flush();
    return std::move(out_);
  }

 private:
  std::vector<uint8_t> out_;
  uint32_t acc_ = 0;
  int held_ = 0;
};

size_t plane_bytes(int width) {
  return width > 1 ? (static_cast<size_t>(width) - 1 + 7) / 8 : 0;
}

}  // namespace

int bytes_per_pixel(int depth) {
  return (depth + 7) / 8;
}

std::optional<ImageView> view_of(const bitmap_record *image) {
  if (image == nullptr || image->pixels == nullptr || image->width < 1 || image->height < 1)
    return std::nullopt;
  const int d = image->depth;
  if (d != 32 && d != 24 && d != 16 && d != 15) return std::nullopt;
  const size_t row = static_cast<size_t>(image->width) * static_cast<size_t>(bytes_per_pixel(d));
  if (image->pitch < 0 || (image->pitch != 0 && static_cast<size_t>(image->pitch) < row))
    return std::nullopt;
  ImageView v;
  v.width = image->width;
  v.height = image->height;
  v.depth = d;
  v.pitch = image->pitch == 0 ? row : static_cast<size_t>(image->pitch);
  v.pixels = static_cast<const uint8_t *>(image->pixels);
  return v;
}

ImageView view_of(const Image &image) {
  return ImageView{image.width, image.height, image.depth, image.pitch, image.pixels.data()};
}

std::optional<Image> make_image(int width, int height, int depth) {
  if (width < 1 || height < 1) return std::nullopt;
  const size_t pitch = static_cast<size_t>(width) * static_cast<size_t>(bytes_per_pixel(depth));
  if (pitch > std::numeric_limits<uint32_t>::max() / static_cast<size_t>(height))
    return std::nullopt;
  Image img;
  img.width = width;
  img.height = height;
  img.depth = depth;
  img.pitch = pitch;
  img.pixels.assign(pitch * static_cast<size_t>(height), 0);
  return img;
}

void copy_rect(const ImageView &src, int xs, int ys, int width, int height, Image &dst) {
  if (xs < 0 || ys < 0 || xs >= src.width || ys >= src.height) return;
  const int w = std::min({width, src.width - xs, dst.width});
  const int h = std::min({height, src.height - ys, dst.height});
  if (w <= 0 || h <= 0) return;
  const size_t sb = static_cast<size_t>(bytes_per_pixel(src.depth));
  const size_t from = static_cast<size_t>(xs) * sb;
  for (int r = 0; r < h; ++r) {
    const uint8_t *s = src.row(ys + r) + from;
    uint8_t *d = dst.row(r);
    if (src.depth == 32 && dst.depth == 24) {
      for (int i = 0; i < w; ++i) std::memcpy(d + 3 * i, s + 4 * i, 3);
    } else if (src.depth == 24 && dst.depth == 32) {
      for (int i = 0; i < w; ++i) {
        std::memcpy(d + 4 * i, s + 3 * i, 3);
        d[4 * i + 3] = 0;
      }
    } else if (src.depth == 16 && (dst.depth == 24 || dst.depth == 32)) {
      const int db = dst.depth / 8;
      for (int i = 0; i < w; ++i) {
        unpack_16(s + 2 * i, d + db * i);
        if (db == 4) d[4 * i + 3] = 0;
      }
    } else if (src.depth == dst.depth) {
      std::memcpy(d, s, static_cast<size_t>(w) * sb);
    } else {
      std::memcpy(d, s, std::min(dst.pitch, src.pitch - from));
    }
  }
}

std::optional<Image> scale_bilinear(const Image &src, int width, int height) {
  std::optional<Image> out = make_image(width, height, src.depth);
  if (!out || src.width < 1 || src.height < 1) return std::nullopt;
  const size_t bpp = static_cast<size_t>(bytes_per_pixel(src.depth));
  const auto tw = static_cast<size_t>(width);
  const uint64_t step_x = static_cast<uint64_t>(src.width - 1) * kOne / tw;
  const uint64_t step_y =
      static_cast<uint64_t>(src.height - 1) * kOne / static_cast<uint64_t>(height);
  const auto last_x = static_cast<size_t>(src.width - 1);
  // Per target column: the byte offsets of the two source pixels and the fraction between them.
  std::vector<size_t> x0(tw), x1(tw);
  std::vector<uint32_t> fx(tw);
  for (size_t x = 0; x < tw; ++x) {
    const uint64_t p = x * step_x;
    x0[x] = static_cast<size_t>(p >> 16) * bpp;
    x1[x] = std::min(static_cast<size_t>(p >> 16) + 1, last_x) * bpp;
    fx[x] = static_cast<uint32_t>(p & 0xFFFF);
  }
  for (int y = 0; y < height; ++y) {
    const uint64_t p = static_cast<uint64_t>(y) * step_y;
    const int y0 = static_cast<int>(p >> 16);
    const uint32_t fy = static_cast<uint32_t>(p & 0xFFFF);
    const uint8_t *top = src.row(y0);
    const uint8_t *bottom = src.row(std::min(y0 + 1, src.height - 1));
    uint8_t *d = out->row(y);
    for (size_t x = 0; x < tw; ++x) {
      const uint32_t f = fx[x];
      for (size_t k = 0; k < bpp; ++k) {
        const uint32_t t = (top[x0[x] + k] * (kOne - f) + top[x1[x] + k] * f) >> 16;
        const uint32_t b = (bottom[x0[x] + k] * (kOne - f) + bottom[x1[x] + k] * f) >> 16;
        d[x * bpp + k] = static_cast<uint8_t>((t * (kOne - fy) + b * fy) >> 16);
      }
    }
  }
  return out;
}

void convert_to_grey(Image &image) {
  for (int y = 0; y + 1 < image.height; ++y) {
    uint8_t *p = image.row(y);
    for (int x = 0; x + 1 < image.width; ++x, p += 4) p[0] = grey_of(p);
  }
}

ByteRange byte_range(const Image &image) {
  if (image.width < 2 || image.height < 2) return ByteRange{};
  int lo = 255, hi = 0;
  for (int y = 0; y + 1 < image.height; ++y) {
    const uint8_t *p = image.row(y);
    const uint8_t *end = p + 4 * static_cast<size_t>(image.width - 1);
    for (; p != end; ++p) {
      lo = std::min<int>(lo, *p);
      hi = std::max<int>(hi, *p);
    }
  }
  return ByteRange{lo, hi};
}

LevelTables make_level_tables(ByteRange range, int levels, bool coarse) {
  LevelTables t;
  t.levels = levels;
  const int steps = levels - 1;
  const double gamma = levels <= 2 ? kTwoLevelGamma : 1.0;
  for (int v = 0; v < 256; ++v) {
    int s = v;
    if (range.largest != range.smallest)
      s = std::clamp((v - range.smallest) * 255 / (range.largest - range.smallest), 0, 255);
    // With gamma 1 the curve is the identity; computed in floating point it could fall a hair
    // short of a whole value and truncate one lower.
    const int stretched =
        gamma == 1.0 ? s
                     : static_cast<int>(255.0 * std::pow(static_cast<double>(s) / 255.0, gamma));
    const int level = (2 * stretched * steps + 255) / 510;
    const auto i = static_cast<size_t>(v);
    t.stretch[i] = static_cast<uint8_t>(stretched);
    t.level[i] = static_cast<uint8_t>(level);
    t.output[i] = static_cast<uint8_t>(std::min(255, level * 255 / steps));
  }
  t.threshold = static_cast<int>(255.0 / steps * (coarse ? kCoarseFactor : kFineFactor));
  return t;
}

void dither(Image &image, const LevelTables &t) {
  if (image.width < 2 || image.height < 2) return;
  const auto w = static_cast<size_t>(image.width);
  // err[x + 1] holds the error carried to pixel x of the row being dithered (or, once pixel x
  // is done, to pixel x of the next row); err[0] stands for pixel -1 and is never read.
  std::vector<int> err(w + 1, 0);
  for (int y = 0; y + 1 < image.height; ++y) {
    uint8_t *row = image.row(y);
    for (size_t k = 0; k < 3; ++k) {
      int carry = 0;
      int below_right = 0;  // for the next pixel of the next row, once it has been read
      err[0] = 0;
      for (size_t x = 0; x + 1 < w; ++x) {
        uint8_t &p = row[4 * x + k];
        const int value = t.stretch[p] + carry + err[x + 1];
        const auto c = static_cast<size_t>(std::clamp(value, 0, 255));
        p = t.level[c];
        int e = value - t.output[c];
        if (std::abs(e) < t.threshold) e = 0;
        const int right = (e * 7) >> 4, left = (e * 3) >> 4, below = (e * 5) >> 4;
        carry = right;
        err[x] += left;
        err[x + 1] = below_right + below;
        below_right = e - right - left - below;
      }
      err[w] = below_right;
    }
  }
}

void finish_edges(Image &image, const LevelTables &t, bool grey) {
  auto finish = [&](uint8_t *p) {
    if (grey) p[0] = grey_of(p);
    for (int k = 0; k < 3; ++k) p[k] = t.level[t.stretch[p[k]]];
  };
  const int last_x = image.width - 1, last_y = image.height - 1;
  for (int y = 0; y < last_y; ++y) finish(image.row(y) + 4 * static_cast<size_t>(last_x));
  for (int x = 0; x <= last_x; ++x) finish(image.row(last_y) + 4 * static_cast<size_t>(x));
}

bool known_format(int levels) {
  return levels == 2 || levels == 4 || levels == 5 || levels == 32;
}

size_t packet_payload(int levels) {
  switch (levels) {
    case 2:
    case 4:
      return 512;
    case 5:
      return 511;
    case 32:
      return 510;
    default:
      return 0;
  }
}

size_t packed_size(int levels, int width, int height) {
  if (width < 1 || height < 1) return 0;
  const size_t rows = static_cast<size_t>(height) - 1;
  const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
  switch (levels) {
    case 2:
      return rows * 3 * plane_bytes(width);
    case 4:
      return rows * 2 * plane_bytes(width);
    case 5:
      return (pixels * 7 + 7) / 8;
    case 32:
      return (pixels * 5 + 7) / 8;
    default:
      return 0;
  }
}

std::vector<uint8_t> pack(const Image &image, int levels) {
  const int w = image.width, h = image.height;
  BitWriter out(packed_size(levels, w, h));
  if (levels == 2 || levels == 4) {
    // Planes: the byte and the bit of it that each plane shows.
    static constexpr int kColourPlanes[3][2] = {{2, -1}, {1, -1}, {0, -1}};
    static constexpr int kGreyPlanes[2][2] = {{0, 1}, {0, 0}};
    const int count = levels == 2 ? 3 : 2;
    for (int y = 0; y + 1 < h; ++y) {
      const uint8_t *row = image.row(y);
      for (int plane = 0; plane < count; ++plane) {
        const int *which = levels == 2 ? kColourPlanes[plane] : kGreyPlanes[plane];
        for (int x = 0; x + 1 < w; ++x) {
          const uint8_t v = row[4 * x + which[0]];
          out.put(which[1] < 0 ? (v != 0 ? 1u : 0u) : (v >> which[1]) & 1u, 1);
        }
        out.flush();
      }
    }
  } else if (levels == 5 || levels == 32) {
    for (int y = h - 1; y >= 0; --y) {
      const uint8_t *p = image.row(y);
      for (int x = 0; x < w; ++x, p += 4) {
        if (levels == 5) {
          out.put(static_cast<uint32_t>(p[2] * 25 + p[1] * 5 + p[0]), 7);
        } else {
          out.put(p[0], 5);
        }
      }
    }
  }
  return out.take();
}

std::vector<uint8_t> convert_and_pack(Image &image, int levels, bool grey, bool coarse) {
  if (grey) convert_to_grey(image);
  const LevelTables tables = make_level_tables(byte_range(image), levels, coarse);
  dither(image, tables);
  finish_edges(image, tables, grey);
  return pack(image, levels);
}

}  // namespace lvx::backdrop
