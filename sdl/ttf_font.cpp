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

const TtfFont::Rendered &TtfFont::render(const std::string &text) const {
  if (text == last_.text && !last_.coverage.empty()) return last_;
  last_ = Rendered{text, 0, 0, {}};
  SDL_Surface *s = TTF_RenderText_Blended(font_, text.c_str(), SDL_Color{255, 255, 255, 255});
  if (s == nullptr) return last_;
  if (SDL_LockSurface(s) == 0) {
    last_.w = s->w;
    last_.h = s->h;
    last_.coverage.resize(static_cast<size_t>(s->w) * static_cast<size_t>(s->h));
    const auto *bytes = static_cast<const uint8_t *>(s->pixels);
    for (int row = 0; row < s->h; ++row) {
      const auto *line = reinterpret_cast<const uint32_t *>(bytes + row * s->pitch);
      for (int col = 0; col < s->w; ++col) {
        uint8_t r = 0, g = 0, b = 0, a = 0;
        SDL_GetRGBA(line[col], s->format, &r, &g, &b, &a);
        last_.coverage[static_cast<size_t>(row) * static_cast<size_t>(s->w) +
                       static_cast<size_t>(col)] = a;
      }
    }
    SDL_UnlockSurface(s);
  }
  SDL_FreeSurface(s);
  return last_;
}

int TtfFont::draw(lvxcanvas::Framebuffer &fb, int x, int y, const std::string &text,
                  lvxcanvas::Rgba c) const {
  if (text.empty()) return 0;
  const Rendered &r = render(text);
  for (int row = 0; row < r.h; ++row) {
    for (int col = 0; col < r.w; ++col) {
      fb.blend(x + col, y + row, c,
               r.coverage[static_cast<size_t>(row) * static_cast<size_t>(r.w) +
                          static_cast<size_t>(col)]);
    }
  }
  return r.w;
}

}  // namespace lvxsdl
