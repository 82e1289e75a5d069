#include "recording/file_names.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/text.h"
#include "platform/files.h"

namespace lvx {

namespace {

bool is_separator(char c) {
  return c == '/' || c == '\\';
}

std::string forward_slashes(std::string_view text) {
  std::string out(text);
  for (char &c : out)
    if (c == '\\') c = '/';
  return out;
}

std::string cut_path(std::string text) {
  if (text.size() > kMaxPathText) text.resize(kMaxPathText);
  return text;
}

// A drive prefix such as "D:".
bool has_drive(std::string_view folder) {
  return folder.size() >= 2 && std::isalpha(static_cast<unsigned char>(folder[0])) != 0 &&
         folder[1] == ':';
}

}  // namespace

DataFileName split_data_file_name(std::string_view name) {
  DataFileName n;
  size_t cut = name.find_last_of("/\\");
  n.base = std::string(cut == std::string_view::npos ? name : name.substr(cut + 1));
  size_t dot = n.base.rfind('.');
  if (dot == std::string::npos) {
    n.stem = n.base;
  } else {
    n.stem = n.base.substr(0, dot);
    n.extension = n.base.substr(dot + 1);
  }
  return n;
}

std::optional<std::string> data_file_name_problem(std::string_view name, bool long_names) {
  const DataFileName n = split_data_file_name(name);
  char text[256];
  if (n.stem.empty())
    return std::string("The QRD file name (without path or .qrd) may not be empty");
  if (long_names && n.stem.size() > kMaxLongBaseName) {
    std::snprintf(text, sizeof text, "Long QRD base name may not exceed %d bytes.\n",
                  static_cast<int>(kMaxLongBaseName));
    return std::string(text);
  }
  if (!long_names && n.stem.size() > kMaxShortBaseName) {
    return std::string("The QRD file name cannot exceed eight characters.\n");
  }
  if (n.extension && !equals_nocase(*n.extension, "qrd")) {
    return std::string("name extension has to be qrd\n");
  }
  for (size_t i = 0; i < n.stem.size(); ++i) {
    const char c = n.stem[i];
    const bool ascii_alnum =
        static_cast<unsigned char>(c) < 0x80 && std::isalnum(static_cast<unsigned char>(c)) != 0;
    if (!ascii_alnum && c != '_') {
      std::snprintf(text, sizeof text,
                    "Invalid character '%c'. The QRD file name can only include ASCII printable "
                    "letters, numbers, and the underscore character.\n",
                    c);
      return std::string(text);
    }
    if (c == '_' && i == 0) return std::string("underscore can only appear after 1st place\n");
  }
  return std::nullopt;
}

std::string open_data_file_command(std::string_view name) {
  const DataFileName n = split_data_file_name(name);
  return "open_data_file '" + n.base + (n.extension ? "" : ".qrd") + "'";
}

int16_t apply_library_options(const char *text, long *longname) {
  if (text == nullptr) return 0;
  std::string options(text, strnlen(text, kMaxOptionsText));
  size_t at = 0;
  while (at < options.size()) {
    at = options.find_first_not_of(" \t\n", at);
    if (at == std::string::npos) break;
    size_t end = options.find_first_of(" \t\n", at);
    if (end == std::string::npos) end = options.size();
    const std::string token = options.substr(at, end - at);
    at = end;
    const size_t eq = token.find('=');
    if (eq == std::string::npos ||
        !equals_nocase(std::string_view(token).substr(0, eq), "longname")) {
      return -1;
    }
    const char *value = token.c_str() + eq + 1;
    char *rest = nullptr;
    errno = 0;
    const long v = std::strtol(value, &rest, 0);
    if (rest == value || *rest != '\0' || errno != 0) return -1;
    *longname = v;
  }
  return 1;
}

std::string splice_file_name(std::string_view fname, std::string_view path, std::string_view cwd) {
  if (fname.empty()) return {};
  if (fname.find(':') != std::string_view::npos) return cut_path(forward_slashes(fname));
  const std::string folder = forward_slashes(path.empty() ? cwd : path);
  const std::string name = forward_slashes(fname);
  if (name.front() == '/') return cut_path((has_drive(folder) ? folder.substr(0, 2) : "") + name);
  if (folder.empty()) return cut_path(name);
  return cut_path(folder + (folder.back() == '/' ? "" : "/") + name);
}

int16_t check_filename_characters(std::string_view name) {
  for (const char *reserved : {"aux", "con", "lpt1", "prn"}) {
    if (name == reserved) return -1;
  }
  return name.find_first_of("<>:\"|'*?") == std::string_view::npos ? 0 : -1;
}

int16_t file_exists(const char *path) {
  if (path == nullptr) return -1;
  switch (platform::path_access(path)) {
    case platform::PathAccess::kWritable:
      return 1;
    case platform::PathAccess::kMissing:
      return 0;
    case platform::PathAccess::kDenied:
      break;
  }
  return -1;
}

int16_t create_path(char *path, int16_t is_dir) {
  if (path == nullptr) return -1;
  for (char *p = path; *p != '\0'; ++p)
    if (*p == '\\') *p = '/';
  std::string folder(path);
  if (is_dir == 0) {
    size_t cut = folder.rfind('/');
    folder = cut == std::string::npos ? std::string() : folder.substr(0, cut + 1);
  }
  while (folder.size() > 1 && is_separator(folder.back())) folder.pop_back();
  if (folder.empty()) return 0;  // the current folder
  switch (platform::make_folder(folder.c_str())) {
    case platform::MakeFolder::kCreated:
      return 1;
    case platform::MakeFolder::kExists:
      return 0;
    case platform::MakeFolder::kFailed:
      return -1;
    case platform::MakeFolder::kMissingParent:
      break;
  }
  // Each folder on the way, from the left; failures of those that exist do not matter.
  for (size_t at = folder.find('/', 1); at != std::string::npos; at = folder.find('/', at + 1)) {
    platform::make_folder(folder.substr(0, at).c_str());
  }
  platform::make_folder(folder.c_str());
  return file_exists(folder.c_str()) == 1 ? 1 : -1;
}

}  // namespace lvx
