// Files and folders as the file-name utilities need them: whether a path exists and may be
// written, making one folder, and the current working folder.
#pragma once

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

// The current working folder; empty when it cannot be read.
std::string current_folder();

}  // namespace lvx::platform
