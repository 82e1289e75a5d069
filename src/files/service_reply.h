// The texts of the tracker's file service: the replies to "GET", "QXGETVS" and "PUT" requests,
// and the split of the first received bytes into the reply and the file data that followed it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lvx {

inline constexpr std::string_view kGetReadyPrefix = "GET_Ready ";
inline constexpr std::string_view kVideoListPrefix = "QXGETVS_Ready ";
inline constexpr size_t kReplyNameLimit = 127;
inline constexpr size_t kReplyTimeLimit = 63;
inline constexpr size_t kVideoNamesLimit = 1023;

// The first bytes received after a request: the zero-terminated reply text and how many bytes
// after its terminator belong to the file. Without a terminator the whole is the text.
struct ReplySplit {
  std::string_view text;
  size_t surplus_offset = 0;
  size_t surplus_size = 0;
};
ReplySplit split_reply(const uint8_t *data, size_t size);

// "GET_Ready <name> <size> <time> <checksum>".
struct GetReady {
  std::string name;
  uint64_t size = 0;
  std::string time;       // "" when the reply carries none
  uint32_t checksum = 0;  // 0: the host gives none
};
// Nothing when the text does not begin with the prefix, lacks a name or a size, or a field is
// longer than its limit (name 127, time 63) or out of range.
std::optional<GetReady> parse_get_ready(std::string_view text);

// "QXGETVS_Ready <folder> <count> <name;name;...>".
struct VideoList {
  std::string folder;
  int count = 0;
  std::vector<std::string> names;  // the ';'-separated list with empty entries dropped
};
std::optional<VideoList> parse_video_list(std::string_view text);

// True for the upload acceptance: "PUT_Ready" and its terminator in the first 10 bytes.
bool is_put_ready(const uint8_t *data, size_t size);

// The "GET" request text for a tracker file: ".qrd" is added unless the name is empty or ends in
// it already (in any case).
std::string get_request_text(std::string_view src);

}  // namespace lvx
