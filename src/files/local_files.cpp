#include "files/local_files.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "link/clock.h"
#include "link/log.h"
#include "platform/files.h"

namespace lvx {

namespace fs = std::filesystem;

namespace {

constexpr size_t kHostNameLimit = 256;
constexpr int kSearchTries = 10;
constexpr size_t kSearchPathLimit = 4079;
// Room kept in a temporary file's name for its suffix (".partNN").
constexpr size_t kTempSuffixRoom = 8;

}  // namespace

NameProblem check_host_name(std::string_view name) {
  if (name.empty()) return NameProblem::kEmpty;
  if (name.size() >= kHostNameLimit) return NameProblem::kTooLong;
  if (name == "." || name == "..") return NameProblem::kDotName;
  for (char c : name) {
    auto u = static_cast<unsigned char>(c);
    if (c == '/' || c == '\\') return NameProblem::kSeparator;
    if (u < 0x20 || u == 0x7F) return NameProblem::kControl;
    if (c == ':') return NameProblem::kDrive;
  }
  return NameProblem::kOk;
}

const char *name_problem_text(NameProblem p) {
  switch (p) {
    case NameProblem::kOk:
      return "acceptable";
    case NameProblem::kEmpty:
      return "empty";
    case NameProblem::kTooLong:
      return "too long";
    case NameProblem::kDotName:
      return "names a folder itself or its parent";
    case NameProblem::kSeparator:
      return "holds a path separator";
    case NameProblem::kControl:
      return "holds a control character";
    case NameProblem::kDrive:
      return "holds a drive colon";
  }
  return "unknown";
}

bool host_name_acceptable(std::string_view name, const char *who) {
  NameProblem p = check_host_name(name);
  if (p == NameProblem::kOk) return true;
  // The name is logged with its unsafe bytes shown as '?', so the log itself stays one line.
  std::string shown(name.substr(0, 200));
  for (char &c : shown)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  log_printf("%s: refused file name from the tracker \"%s\": %s\n", who, shown.c_str(),
             name_problem_text(p));
  return false;
}

bool has_control_character(std::string_view text) {
  for (char c : text) {
    auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) return true;
  }
  return false;
}

bool has_qrd_extension(std::string_view name) {
  if (name.size() < 4) return false;
  std::string_view ext = name.substr(name.size() - 4);
  return ext[0] == '.' && (ext[1] | 0x20) == 'q' && (ext[2] | 0x20) == 'r' &&
         (ext[3] | 0x20) == 'd';
}

std::string_view base_of_host_path(std::string_view path) {
  size_t cut = path.find_last_of("/\\:");
  return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

bool ends_in_separator(std::string_view path) {
  return !path.empty() && (path.back() == '/' || path.back() == '\\');
}

std::string join_path(std::string_view dir, std::string_view name) {
  std::string out(dir);
  if (!out.empty() && !ends_in_separator(out)) out += '/';
  out += name;
  return out;
}

std::string time_stamp_suffix(int64_t utc_seconds) {
  std::tm tm{};
  if (!platform::local_calendar(utc_seconds, &tm)) return {};
  char text[17];
  if (std::strftime(text, sizeof text, "_%Y%m%d_%H%M%S", &tm) == 0) return {};
  return text;
}

std::string stamped_name(std::string_view path, std::string_view stamp) {
  if (has_qrd_extension(path)) {
    std::string out(path.substr(0, path.size() - 4));
    out += stamp;
    out += path.substr(path.size() - 4);
    return out;
  }
  std::string out(path);
  out += stamp;
  return out;
}

bool path_exists(const std::string &path) {
  std::error_code ec;
  return fs::symlink_status(path, ec).type() != fs::file_type::not_found && !ec;
}

int filename_search(std::string &path, int wait_ms) {
  log_printf("filename_search: find unused version of %s\n", path.c_str());
  if (path.size() > kSearchPathLimit) {
    log_printf("filename_search: file name buffer overflow: %s\n", path.c_str());
    return 1;
  }
  for (int i = 0; i < kSearchTries; ++i) {
    if (i > 0) delay_ms(wait_ms);
    std::string stamp = time_stamp_suffix(platform::utc_now_seconds());
    if (stamp.empty()) {
      log_printf("filename_search: failed to format date/time\n");
      return 1;
    }
    std::string candidate = stamped_name(path, stamp);
    if (!path_exists(candidate)) {
      log_printf("filename_search: found unused name: %s\n", candidate.c_str());
      path = candidate;
      return 0;
    }
  }
  log_printf("filename_search: failed to find unused name: %s\n", path.c_str());
  return 1;
}

bool delete_path(const std::string &path) {
  std::error_code ec;
  fs::remove_all(path, ec);
  return !path_exists(path);
}

bool make_folders(const std::string &path) {
  std::error_code ec;
  fs::create_directories(path, ec);
  return fs::is_directory(path, ec);
}

std::unique_ptr<PendingFile> PendingFile::open(const std::string &path, bool replace) {
  if (path.empty() || path.size() >= kPathLimit) {
    log_printf("open_xfer_file: no usable local name\n");
    return nullptr;
  }
  std::unique_ptr<PendingFile> f(new PendingFile);
  f->final_ = path;
  f->replace_ = replace;
  std::error_code ec;
  if (path_exists(path)) {
    if (fs::is_directory(path, ec)) {
      log_printf("open_xfer_file: %s is a folder\n", path.c_str());
      return nullptr;
    }
    if (!replace && filename_search(f->final_) != 0) return nullptr;
  }
  // A final name the file system cannot take is refused before anything is received for it.
  const size_t cut = f->final_.find_last_of('/') + 1;  // 0 without a folder
  const std::string folder = f->final_.substr(0, cut);
  const size_t longest = platform::longest_name(folder);
  if (f->final_.size() - cut > longest) {
    log_printf("open_xfer_file: %s: name longer than %d bytes\n", f->final_.c_str(),
               static_cast<int>(longest));
    return nullptr;
  }
  // The temporary file sits beside the final one (same file system, so the rename is atomic)
  // and is created exclusively, so that nothing already there is ever opened. Its name is the
  // final one cut short enough that the suffix never pushes it over the longest name.
  const std::string stem =
      folder + f->final_.substr(cut, longest > kTempSuffixRoom ? longest - kTempSuffixRoom : 1);
  for (int i = 0; i < 100 && f->file_ == nullptr; ++i) {
    f->temp_ = stem + ".part" + (i == 0 ? std::string() : std::to_string(i));
    f->file_ = std::fopen(f->temp_.c_str(), "wbx");
    if (f->file_ == nullptr && errno != EEXIST) break;
  }
  if (f->file_ == nullptr) {
    log_printf("open_xfer_file: fopen %s: %s\n", f->temp_.c_str(), std::strerror(errno));
    f->temp_.clear();
    return nullptr;
  }
  log_printf("open_xfer_file: open: %s\n", f->final_.c_str());
  return f;
}

PendingFile::~PendingFile() {
  if (!done_) discard();
}

size_t PendingFile::write(const void *data, size_t size) {
  if (file_ == nullptr || size == 0) return 0;
  return std::fwrite(data, 1, size, file_);
}

bool PendingFile::commit(std::optional<int64_t> utc_time) {
  if (done_ || file_ == nullptr) return false;
  bool ok = std::fclose(file_) == 0;
  file_ = nullptr;
  if (!ok) {
    log_printf("open_xfer_file: closing %s failed\n", temp_.c_str());
    discard();
    return false;
  }
  if (utc_time) platform::set_file_times(temp_, *utc_time);
  if (!replace_ && path_exists(final_) && filename_search(final_) != 0) {
    discard();
    return false;
  }
  std::error_code ec;
  fs::rename(temp_, final_, ec);
  if (ec) {
    log_printf("open_xfer_file: rename %s to %s failed: %s\n", temp_.c_str(), final_.c_str(),
               ec.message().c_str());
    discard();
    return false;
  }
  done_ = true;
  return true;
}

bool PendingFile::discard() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  done_ = true;
  if (temp_.empty()) return true;
  std::error_code ec;
  fs::remove(temp_, ec);
  return !path_exists(temp_);
}

}  // namespace lvx
