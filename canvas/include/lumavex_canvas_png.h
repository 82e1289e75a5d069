// PNG snapshots of the reference display's framebuffer. A library of its own
// (lumavex::canvas_png), so that only programs that write snapshots need libpng.
#pragma once

#include <string>

#include "lumavex_canvas.h"

namespace lvxcanvas {

// Writes the picture as an 8-bit RGBA PNG file. False (with the reason in *error) on failure.
bool save_png(const Framebuffer &picture, const std::string &path, std::string *error = nullptr);

}  // namespace lvxcanvas
