#include "platform/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

std::string current_folder() {
  std::vector<char> buf(4096);
  if (getcwd(buf.data(), buf.size()) == nullptr) return {};
  return std::string(buf.data());
}

}  // namespace lvx::platform
