#include "backdrop/bmp_writer.h"

#include <cstring>
#include <limits>

namespace lvx::backdrop {

namespace {

void put_le16(uint8_t *p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void put_le32(uint8_t *p, uint32_t v) {
  put_le16(p, v & 0xFFFF);
  put_le16(p + 2, v >> 16);
}

}  // namespace

std::vector<uint8_t> encode_bmp(const ImageView &image) {
  if (image.width < 1 || image.height < 1) return {};
  const uint64_t data =
      uint64_t{3} * static_cast<uint64_t>(image.width) * static_cast<uint64_t>(image.height);
  if (data + kBmpHeaderSize > std::numeric_limits<uint32_t>::max()) return {};
  std::optional<Image> rgb = make_image(image.width, image.height, 24);
  if (!rgb) return {};
  copy_rect(image, 0, 0, image.width, image.height, *rgb);

  std::vector<uint8_t> out(kBmpHeaderSize + data, 0);
  uint8_t *h = out.data();
  h[0] = 'B';
  h[1] = 'M';
  put_le32(h + 2, static_cast<uint32_t>(out.size()));
  put_le32(h + 10, kBmpHeaderSize);
  put_le32(h + 14, 40);
  put_le32(h + 18, static_cast<uint32_t>(image.width));
  put_le32(h + 22, static_cast<uint32_t>(image.height));
  put_le16(h + 26, 1);
  put_le16(h + 28, 24);
  put_le32(h + 34, static_cast<uint32_t>(data));
  uint8_t *d = out.data() + kBmpHeaderSize;
  for (int y = image.height - 1; y >= 0; --y, d += rgb->pitch)
    std::memcpy(d, rgb->row(y), rgb->pitch);
  return out;
}

std::string upload_name(std::string_view file_name) {
  const size_t slash = file_name.find_last_of("/\\");
  if (slash != std::string_view::npos) file_name.remove_prefix(slash + 1);
  const size_t dot = file_name.rfind('.');
  if (dot == std::string_view::npos) return std::string(file_name) + ".bmp";
  return std::string(file_name.substr(0, dot + 1)) + "bmp";
}

}  // namespace lvx::backdrop
