// A TrueType font for the reference display's texts, through SDL_ttf.
#pragma once

#include <memory>
#include <string>

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
  TTF_Font *font_;
};

}  // namespace lvxsdl
