// Small text helpers shared by the subsystems: ASCII case-insensitive comparison and search.
#pragma once

#include <algorithm>
#include <string_view>

namespace lvx {

inline char ascii_lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// True when a and b are equal, ignoring ASCII case.
inline bool equals_nocase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return ascii_lower(x) == ascii_lower(y);
         });
}

// True when needle occurs in text, ignoring ASCII case.
inline bool contains_nocase(std::string_view text, std::string_view needle) {
  auto it = std::search(text.begin(), text.end(), needle.begin(), needle.end(),
                        [](char x, char y) { return ascii_lower(x) == ascii_lower(y); });
  return needle.empty() || it != text.end();
}

}  // namespace lvx
