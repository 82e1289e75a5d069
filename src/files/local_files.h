// Local-file rules shared by every download: names that come from the tracker are checked before
// they touch the disk, an existing file is replaced only when asked (otherwise a free name with a
// time stamp is chosen), and data goes to a temporary file beside the final one that is renamed
// into place only when the transfer succeeded, so no partial file ever sits under the final name.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace lvx {

// Local paths are held to this many bytes including the terminator.
inline constexpr size_t kPathLimit = 4096;

// Why a name from the tracker is refused; kOk for a name that is a plain file name.
enum class NameProblem { kOk, kEmpty, kTooLong, kDotName, kSeparator, kControl, kDrive };
// Checks a single file or folder name that came from the tracker: it must not be empty, "." or
// "..", hold "/" or "\", a control character or a drive colon, and must be shorter than 256.
NameProblem check_host_name(std::string_view name);
const char *name_problem_text(NameProblem p);
// check_host_name, logging "<who>: refused file name from the tracker ..." when it fails.
bool host_name_acceptable(std::string_view name, const char *who);

// True when the text holds a control character (below 0x20, or 0x7F). Such a name is refused
// before it goes into a request: a newline would end the tracker's command line early.
bool has_control_character(std::string_view text);

// True for a name ending in ".qrd" in any case.
bool has_qrd_extension(std::string_view name);
// The part of a tracker path after its last '/', '\' or ':'.
std::string_view base_of_host_path(std::string_view path);
// True when the text ends in '/' or '\'.
bool ends_in_separator(std::string_view path);
// dir + "/" (unless it ends in a separator) + name.
std::string join_path(std::string_view dir, std::string_view name);

// "_YYYYMMDD_HHMMSS" for a moment, in local time; "" when it cannot be formed.
std::string time_stamp_suffix(int64_t utc_seconds);
// The path with a stamp put before a ".qrd" extension (any case) or at its end.
std::string stamped_name(std::string_view path, std::string_view stamp);

// Finds an unused version of path by stamping it with the local time, trying at most ten times a
// second apart. Returns 0 with path changed to the free name, or 1 when none was found (path
// unchanged). `wait_ms` is the pause between tries (1000 in the library; tests shorten it).
int filename_search(std::string &path, int wait_ms = 1000);
// Removes a file or a folder with everything in it; true when nothing is left at path.
bool delete_path(const std::string &path);
// Creates a folder and its parents; true when it exists afterwards. (The exported create_path,
// with its own result codes and file-or-folder argument, lives with the recording file rules.)
bool make_folders(const std::string &path);
bool path_exists(const std::string &path);

// A download's output: a temporary file beside the final name, renamed into place by commit().
// Destroying it without commit() removes the temporary file.
class PendingFile {
 public:
  // Chooses the final name (path itself; with replace it is overwritten at commit, without it a
  // free stamped name is chosen when path exists) and opens the temporary file. Null, with the
  // reason logged, when either fails.
  static std::unique_ptr<PendingFile> open(const std::string &path, bool replace);
  ~PendingFile();
  PendingFile(const PendingFile &) = delete;
  PendingFile &operator=(const PendingFile &) = delete;

  // Writes bytes; returns how many were written.
  size_t write(const void *data, size_t size);
  // Closes the temporary file, gives it the time (when set) and renames it to the final name.
  // Without replace, a file that has appeared at the final name meanwhile moves the data to a
  // free stamped name instead. False (and the temporary file removed) on failure.
  bool commit(std::optional<int64_t> utc_time);
  // Closes and removes the temporary file. True when it is gone.
  bool discard();

  const std::string &final_path() const { return final_; }
  const std::string &temp_path() const { return temp_; }

 private:
  PendingFile() = default;
  std::FILE *file_ = nullptr;
  std::string final_;
  std::string temp_;
  bool replace_ = false;
  bool done_ = false;
};

}  // namespace lvx
