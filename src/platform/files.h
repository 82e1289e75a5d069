// Files and folders as the library needs them beyond the standard library: whether a path exists
// and may be written, making one folder, the current working folder, a file's last-write time as
// seconds since 1970 (UTC), setting its access and write times, and the local calendar time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace lvx::platform {

enum class PathAccess {
  kWritable,  // exists, and the process may write it
  kMissing,   // it (or a folder on the way) does not exist
  kDenied,    // exists but cannot be written, or cannot be checked
};
PathAccess path_access(const char *path);

enum class MakeFolder {
  kCreated,
  kExists,
  kMissingParent,
  kFailed,
};
// Makes one folder (mode 0777, narrowed by the umask).
MakeFolder make_folder(const char *path);

// Makes a new folder inside `parent` named `prefix` followed by six characters chosen to make it
// unique, readable and writable by this user alone (mode 0700). Its path, or "" on failure.
std::string make_private_folder(const std::string &parent, const std::string &prefix);

// The longest file name (one path component, in bytes) the file system of `folder` takes.
size_t longest_name(const std::string &folder);

// The current working folder; empty when it cannot be read.
std::string current_folder();

// Seconds since 1970-01-01 UTC of the file's last write; nothing when it cannot be read.
std::optional<int64_t> file_write_time(const std::string &path);
// Sets the last-access and last-write times of a file; false on failure.
bool set_file_times(const std::string &path, int64_t utc_seconds);
// The local calendar time of a moment (seconds since 1970 UTC); false when it cannot be formed.
bool local_calendar(int64_t utc_seconds, std::tm *out);
// The current time in seconds since 1970 UTC.
int64_t utc_now_seconds();

}  // namespace lvx::platform
