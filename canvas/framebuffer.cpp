// The framebuffer: pixels, lines, shapes, scaled pictures and the 5x7 font.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "lumavex_canvas.h"

namespace lvxcanvas {

namespace {

// 5x7 glyphs: seven rows of five dots, the high bit of the five on the left.
struct Glyph {
  char c;
  uint8_t rows[7];
};

constexpr Glyph kGlyphs[] = {
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
    {'D', {0x1E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1E}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}},
    {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}},
    {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
    {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}},
    {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04}},
    {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {' ', {0, 0, 0, 0, 0, 0, 0}},
    {'!', {0x04, 0x04, 0x04, 0x04, 0x04, 0x00, 0x04}},
    {'"', {0x0A, 0x0A, 0, 0, 0, 0, 0}},
    {'#', {0x0A, 0x0A, 0x1F, 0x0A, 0x1F, 0x0A, 0x0A}},
    {'%', {0x18, 0x19, 0x02, 0x04, 0x08, 0x13, 0x03}},
    {'\'', {0x04, 0x04, 0, 0, 0, 0, 0}},
    {'(', {0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02}},
    {')', {0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08}},
    {'*', {0, 0x04, 0x15, 0x0E, 0x15, 0x04, 0}},
    {'+', {0, 0x04, 0x04, 0x1F, 0x04, 0x04, 0}},
    {',', {0, 0, 0, 0, 0x0C, 0x04, 0x08}},
    {'-', {0, 0, 0, 0x1F, 0, 0, 0}},
    {'.', {0, 0, 0, 0, 0, 0x0C, 0x0C}},
    {'/', {0, 0x01, 0x02, 0x04, 0x08, 0x10, 0}},
    {':', {0, 0x0C, 0x0C, 0, 0x0C, 0x0C, 0}},
    {';', {0, 0x0C, 0x0C, 0, 0x0C, 0x04, 0x08}},
    {'<', {0x02, 0x04, 0x08, 0x10, 0x08, 0x04, 0x02}},
    {'=', {0, 0, 0x1F, 0, 0x1F, 0, 0}},
    {'>', {0x08, 0x04, 0x02, 0x01, 0x02, 0x04, 0x08}},
    {'?', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x00, 0x04}},
    {'_', {0, 0, 0, 0, 0, 0, 0x1F}},
    {'[', {0x0E, 0x08, 0x08, 0x08, 0x08, 0x08, 0x0E}},
    {']', {0x0E, 0x02, 0x02, 0x02, 0x02, 0x02, 0x0E}},
    {'|', {0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
};
constexpr uint8_t kDegree[7] = {0x0C, 0x12, 0x12, 0x0C, 0, 0, 0};
constexpr uint8_t kUnknown[7] = {0x1F, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1F};
constexpr int kGlyphAdvance = 6;  // five dots and a gap

const uint8_t *glyph(unsigned char c) {
  if (c == 176) return kDegree;
  if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 'a' + 'A');
  for (const Glyph &g : kGlyphs) {
    if (static_cast<unsigned char>(g.c) == c) return g.rows;
  }
  return kUnknown;
}

}  // namespace

uint32_t pack(Rgba c) {
  const uint8_t bytes[4] = {c.r, c.g, c.b, c.a};
  uint32_t v;
  std::memcpy(&v, bytes, sizeof v);
  return v;
}

Rgba unpack(uint32_t pixel) {
  uint8_t bytes[4];
  std::memcpy(bytes, &pixel, sizeof bytes);
  return Rgba{bytes[0], bytes[1], bytes[2], bytes[3]};
}

Framebuffer::Framebuffer(int width, int height, Rgba fill_colour)
    : width_(std::max(0, width)),
      height_(std::max(0, height)),
      pixels_(static_cast<size_t>(width_) * static_cast<size_t>(height_), pack(fill_colour)) {}

void Framebuffer::fill(Rgba c) {
  std::fill(pixels_.begin(), pixels_.end(), pack(c));
}

void Framebuffer::set(int x, int y, Rgba c) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  pixels_[static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)] = pack(c);
}

void Framebuffer::blend(int x, int y, Rgba c, uint8_t coverage) {
  if (coverage == 0) return;
  const Rgba under = get(x, y);
  auto mix = [coverage](uint8_t a, uint8_t b) {
    return static_cast<uint8_t>((a * (255 - coverage) + b * coverage + 127) / 255);
  };
  set(x, y, Rgba{mix(under.r, c.r), mix(under.g, c.g), mix(under.b, c.b), under.a});
}

Rgba Framebuffer::get(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return Rgba{0, 0, 0, 0};
  return unpack(
      pixels_[static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)]);
}

void Framebuffer::line(int x1, int y1, int x2, int y2, Rgba c) {
  // Bresenham, clipped point by point; very long lines are cut to the picture's reach first.
  const int reach = 4 * (width_ + height_) + 16;
  x1 = std::clamp(x1, -reach, reach);
  x2 = std::clamp(x2, -reach, reach);
  y1 = std::clamp(y1, -reach, reach);
  y2 = std::clamp(y2, -reach, reach);
  const int dx = std::abs(x2 - x1), sx = x1 < x2 ? 1 : -1;
  const int dy = -std::abs(y2 - y1), sy = y1 < y2 ? 1 : -1;
  int err = dx + dy;
  for (;;) {
    set(x1, y1, c);
    if (x1 == x2 && y1 == y2) break;
    const int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x1 += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y1 += sy;
    }
  }
}

void Framebuffer::rect(int x, int y, int w, int h, Rgba c) {
  if (w <= 0 || h <= 0) return;
  line(x, y, x + w - 1, y, c);
  line(x + w - 1, y, x + w - 1, y + h - 1, c);
  line(x + w - 1, y + h - 1, x, y + h - 1, c);
  line(x, y + h - 1, x, y, c);
}

void Framebuffer::fill_rect(int x, int y, int w, int h, Rgba c) {
  const int x0 = std::max(0, x), y0 = std::max(0, y);
  const int x1 = std::min(width_, x + w), y1 = std::min(height_, y + h);
  for (int yy = y0; yy < y1; ++yy)
    for (int xx = x0; xx < x1; ++xx) set(xx, yy, c);
}

void Framebuffer::disc(int cx, int cy, int radius, Rgba c) {
  for (int dy = -radius; dy <= radius; ++dy)
    for (int dx = -radius; dx <= radius; ++dx)
      if (dx * dx + dy * dy <= radius * radius) set(cx + dx, cy + dy, c);
}

void Framebuffer::circle(int cx, int cy, int radius, Rgba c) {
  // Midpoint circle: one octant computed, eight drawn.
  int x = radius, y = 0, err = 1 - radius;
  while (x >= y) {
    for (const auto &[dx, dy] :
         {std::pair{x, y}, {y, x}, {-y, x}, {-x, y}, {-x, -y}, {-y, -x}, {y, -x}, {x, -y}}) {
      set(cx + dx, cy + dy, c);
    }
    ++y;
    if (err < 0) {
      err += 2 * y + 1;
    } else {
      --x;
      err += 2 * (y - x) + 1;
    }
  }
}

void Framebuffer::blit_scaled(const uint32_t *src, int src_w, int src_h, int x, int y, int w,
                              int h) {
  if (src == nullptr || src_w <= 0 || src_h <= 0 || w <= 0 || h <= 0) return;
  // Clipped once, then whole rows of pixels copied (a camera image is drawn 30 times a second).
  const int x0 = std::max(0, -x), x1 = std::min(w, width_ - x);
  const int y0 = std::max(0, -y), y1 = std::min(h, height_ - y);
  if (x0 >= x1 || y0 >= y1) return;
  std::vector<size_t> column(static_cast<size_t>(x1 - x0));
  for (int xx = x0; xx < x1; ++xx) {
    column[static_cast<size_t>(xx - x0)] = static_cast<size_t>(int64_t{xx} * src_w / w);
  }
  for (int yy = y0; yy < y1; ++yy) {
    const auto sy = static_cast<size_t>(int64_t{yy} * src_h / h);
    const uint32_t *from = src + sy * static_cast<size_t>(src_w);
    uint32_t *to = pixels_.data() + static_cast<size_t>(y + yy) * static_cast<size_t>(width_) +
                   static_cast<size_t>(x + x0);
    for (size_t i = 0; i < column.size(); ++i) to[i] = from[column[i]];
  }
}

int Framebuffer::text(int x, int y, const std::string &s, Rgba c, int scale) {
  scale = std::max(1, scale);
  int pen = x;
  for (char ch : s) {
    const uint8_t *rows = glyph(static_cast<unsigned char>(ch));
    for (int r = 0; r < 7; ++r) {
      for (int col = 0; col < 5; ++col) {
        if ((rows[r] & (0x10 >> col)) != 0)
          fill_rect(pen + col * scale, y + r * scale, scale, scale, c);
      }
    }
    pen += kGlyphAdvance * scale;
  }
  return pen - x;
}

int Framebuffer::text_width(const std::string &s, int scale) {
  return static_cast<int>(s.size()) * kGlyphAdvance * std::max(1, scale);
}

}  // namespace lvxcanvas
