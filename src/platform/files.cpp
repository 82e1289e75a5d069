#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

namespace lvx::platform {

PathAccess path_access(const char *path) {
  if (access(path, W_OK) == 0) return PathAccess::kWritable;
  return errno == ENOENT || errno == ENOTDIR ? PathAccess::kMissing : PathAccess::kDenied;
}

MakeFolder make_folder(const char *path) {
  if (mkdir(path, 0777) == 0) return MakeFolder::kCreated;
  switch (errno) {
    case EEXIST:
      return MakeFolder::kExists;
    case ENOENT:
      return MakeFolder::kMissingParent;
    default:
      return MakeFolder::kFailed;
  }
}

std::string make_private_folder(const std::string &parent, const std::string &prefix) {
  std::string path = parent.empty() ? std::string(".") : parent;
  if (path.back() != '/') path += '/';
  path += prefix + "XXXXXX";
  std::vector<char> name(path.begin(), path.end());
  name.push_back('\0');
  if (mkdtemp(name.data()) == nullptr) return {};
  return std::string(name.data());
}

size_t longest_name(const std::string &folder) {
  long n = pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
  return n > 0 ? static_cast<size_t>(n) : 255;
}

std::string current_folder() {
  std::vector<char> buf(4096);
  if (getcwd(buf.data(), buf.size()) == nullptr) return {};
  return std::string(buf.data());
}

std::optional<int64_t> file_write_time(const std::string &path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return static_cast<int64_t>(st.st_mtim.tv_sec);
}

bool set_file_times(const std::string &path, int64_t utc_seconds) {
  struct timespec times[2];
  times[0].tv_sec = static_cast<time_t>(utc_seconds);
  times[0].tv_nsec = 0;
  times[1] = times[0];
  return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool local_calendar(int64_t utc_seconds, std::tm *out) {
  time_t t = static_cast<time_t>(utc_seconds);
  return ::localtime_r(&t, out) != nullptr;
}

int64_t utc_now_seconds() {
  return static_cast<int64_t>(::time(nullptr));
}

}  // namespace lvx::platform
