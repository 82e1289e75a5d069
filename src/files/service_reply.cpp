#include "files/service_reply.h"

#include <cstring>

#include "files/local_files.h"

namespace lvx {

namespace {

// Splits off the next blank-separated word; empty when none is left.
std::string_view next_word(std::string_view &rest) {
  size_t start = rest.find_first_not_of(" \t\r\n");
  if (start == std::string_view::npos) {
    rest = {};
    return {};
  }
  rest.remove_prefix(start);
  size_t end = rest.find_first_of(" \t\r\n");
  std::string_view word = rest.substr(0, end);
  rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
  return word;
}

// A decimal number without sign that fits `limit`.
bool parse_unsigned(std::string_view word, uint64_t limit, uint64_t *out) {
  if (word.empty() || word.size() > 20) return false;
  uint64_t v = 0;
  for (char c : word) {
    if (c < '0' || c > '9') return false;
    uint64_t d = static_cast<uint64_t>(c - '0');
    if (v > (limit - d) / 10) return false;
    v = v * 10 + d;
  }
  *out = v;
  return true;
}

}  // namespace

ReplySplit split_reply(const uint8_t *data, size_t size) {
  ReplySplit s;
  const void *nul = size > 0 ? std::memchr(data, 0, size) : nullptr;
  size_t text_size = nul ? static_cast<size_t>(static_cast<const uint8_t *>(nul) - data) : size;
  s.text = std::string_view(reinterpret_cast<const char *>(data), text_size);
  if (nul != nullptr) {
    s.surplus_offset = text_size + 1;
    s.surplus_size = size - s.surplus_offset;
  }
  return s;
}

std::optional<GetReady> parse_get_ready(std::string_view text) {
  if (text.substr(0, kGetReadyPrefix.size()) != kGetReadyPrefix) return std::nullopt;
  std::string_view rest = text.substr(kGetReadyPrefix.size());
  GetReady r;
  std::string_view name = next_word(rest);
  std::string_view size = next_word(rest);
  std::string_view time = next_word(rest);
  std::string_view sum = next_word(rest);
  if (name.empty() || name.size() > kReplyNameLimit || time.size() > kReplyTimeLimit)
    return std::nullopt;
  if (!parse_unsigned(size, UINT64_MAX, &r.size)) return std::nullopt;
  uint64_t checksum = 0;
  if (!sum.empty() && !parse_unsigned(sum, UINT32_MAX, &checksum)) return std::nullopt;
  r.name = name;
  r.time = time;
  r.checksum = static_cast<uint32_t>(checksum);
  return r;
}

std::optional<VideoList> parse_video_list(std::string_view text) {
  if (text.substr(0, kVideoListPrefix.size()) != kVideoListPrefix) return std::nullopt;
  std::string_view rest = text.substr(kVideoListPrefix.size());
  std::string_view folder = next_word(rest);
  std::string_view count = next_word(rest);
  std::string_view names = next_word(rest);
  uint64_t n = 0;
  if (folder.size() > kReplyNameLimit || names.size() > kVideoNamesLimit ||
      !parse_unsigned(count, INT32_MAX, &n))
    return std::nullopt;
  VideoList v;
  v.folder = folder;
  v.count = static_cast<int>(n);
  while (!names.empty()) {
    size_t cut = names.find(';');
    std::string_view one = names.substr(0, cut);
    if (!one.empty()) v.names.emplace_back(one);
    names.remove_prefix(cut == std::string_view::npos ? names.size() : cut + 1);
  }
  return v;
}

bool is_put_ready(const uint8_t *data, size_t size) {
  static constexpr char kReady[10] = "PUT_Ready";
  return size >= sizeof kReady && std::memcmp(data, kReady, sizeof kReady) == 0;
}

std::string get_request_text(std::string_view src) {
  std::string request = "GET ";
  request += src;
  if (!src.empty() && !has_qrd_extension(src)) request += ".qrd";
  return request;
}

}  // namespace lvx
