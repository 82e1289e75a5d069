// A TrueType font for the reference display's texts, through SDL_ttf.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "lumavex_canvas.h"

typedef struct _TTF_Font TTF_Font;

namespace lvxsdl {

class TtfFont : public lvxcanvas::Font {
 public:
  // The font at `path` in `pixels` size; null when SDL_ttf cannot open it. TTF_Init must have
  // succeeded.
  static std::unique_ptr<TtfFont> open(const std::string &path, int pixels);
  ~TtfFont() override;
  TtfFont(const TtfFont &) = delete;
  TtfFont &operator=(const TtfFont &) = delete;

  int height() const override;
  int width(const std::string &text) const override;
  // Rendered with anti-aliasing and mixed into the framebuffer by its coverage.
  int draw(lvxcanvas::Framebuffer &fb, int x, int y, const std::string &text,
           lvxcanvas::Rgba c) const override;

 private:
  explicit TtfFont(TTF_Font *font) : font_(font) {}
  // The coverage (0..255 per pixel) of the last text rendered: the camera view redraws the same
  // title with every image.
  struct Rendered {
    std::string text;
    int w = 0, h = 0;
    std::vector<uint8_t> coverage;
  };
  const Rendered &render(const std::string &text) const;

  TTF_Font *font_;
  mutable Rendered last_;
};

}  // namespace lvxsdl
