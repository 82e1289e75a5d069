// The library's key codes for SDL's keys.
#include <SDL.h>

#include "lumavex_sdl.h"

namespace lvxsdl {

uint16_t key_code(int32_t sdl_key, uint16_t sdl_modifiers) {
  switch (sdl_key) {
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
      return 13;
    case SDLK_ESCAPE:
      return 27;
    case SDLK_BACKSPACE:
      return 8;
    case SDLK_TAB:
      return 9;
    case SDLK_UP:
      return kKeyUp;
    case SDLK_DOWN:
      return kKeyDown;
    case SDLK_LEFT:
      return kKeyLeft;
    case SDLK_RIGHT:
      return kKeyRight;
    case SDLK_PAGEUP:
      return kKeyPageUp;
    case SDLK_PAGEDOWN:
      return kKeyPageDown;
    case SDLK_HOME:
      return kKeyHome;
    case SDLK_END:
      return kKeyEnd;
    case SDLK_INSERT:
      return kKeyInsert;
    case SDLK_DELETE:
      return kKeyDelete;
    case SDLK_F11:
      return kKeyF11;
    case SDLK_F12:
      return kKeyF12;
    default:
      break;
  }
  if (sdl_key >= SDLK_F1 && sdl_key <= SDLK_F10) {
    return static_cast<uint16_t>(kKeyF1 + 0x100 * (sdl_key - SDLK_F1));
  }
  if (sdl_key >= SDLK_KP_1 && sdl_key <= SDLK_KP_9) {
    return static_cast<uint16_t>('1' + (sdl_key - SDLK_KP_1));
  }
  if (sdl_key == SDLK_KP_0) return '0';
  if (sdl_key >= ' ' && sdl_key <= '~') {
    const bool shift = (sdl_modifiers & KMOD_SHIFT) != 0;
    const bool caps = (sdl_modifiers & KMOD_CAPS) != 0;
    if (sdl_key >= 'a' && sdl_key <= 'z' && shift != caps) {
      return static_cast<uint16_t>(sdl_key - 'a' + 'A');
    }
    return static_cast<uint16_t>(sdl_key);
  }
  return 0;
}

}  // namespace lvxsdl
