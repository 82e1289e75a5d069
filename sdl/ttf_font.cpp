// Texts in a TrueType font, mixed into the framebuffer.
#include "ttf_font.h"

#include <SDL.h>
#include <SDL_ttf.h>

namespace lvxsdl {

std::unique_ptr<TtfFont> TtfFont::open(const std::string &path, int pixels) {
  TTF_Font *f = TTF_OpenFont(path.c_str(), pixels);
  if (f == nullptr) return nullptr;
  return std::unique_ptr<TtfFont>(new TtfFont(f));
}

TtfFont::~TtfFont() {
  TTF_CloseFont(font_);
}

int TtfFont::height() const {
  return TTF_FontHeight(font_);
}

int TtfFont::width(const std::string &text) const {
  int w = 0;
  int h = 0;
  // The library's texts are 8-bit, with 176 for the degree sign: Latin-1.
  if (text.empty() || TTF_SizeText(font_, text.c_str(), &w, &h) != 0) return 0;
  return w;
}

int TtfFont::draw(lvxcanvas::Framebuffer &fb, int x, int y, const std::string &text,
                  lvxcanvas::Rgba c) const {
  if (text.empty()) return 0;
  SDL_Surface *s = TTF_RenderText_Blended(font_, text.c_str(), SDL_Color{c.r, c.g, c.b, 255});
  if (s == nullptr) return 0;
  if (SDL_LockSurface(s) == 0) {
    const auto *bytes = static_cast<const uint8_t *>(s->pixels);
    for (int row = 0; row < s->h; ++row) {
      const auto *line = reinterpret_cast<const uint32_t *>(bytes + row * s->pitch);
      for (int col = 0; col < s->w; ++col) {
        uint8_t r = 0, g = 0, b = 0, a = 0;
        SDL_GetRGBA(line[col], s->format, &r, &g, &b, &a);
        fb.blend(x + col, y + row, c, a);
      }
    }
    SDL_UnlockSurface(s);
  }
  const int w = s->w;
  SDL_FreeSurface(s);
  return w;
}

}  // namespace lvxsdl
