#include "files/download.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <system_error>

#include "control/tracker_mode.h"
#include "files/file_service.h"
#include "files/link_transfer.h"
#include "files/local_files.h"
#include "files/service_reply.h"
#include "link/alert.h"
#include "link/link_state.h"
#include "link/log.h"
#include "link/transport.h"
#include "platform/files.h"

namespace lvx {

namespace {

namespace fs = std::filesystem;

constexpr int32_t kReplaceFlag = RECEIVE_FILE_REPLACE;
constexpr size_t kVideoBaseLimit = 256;

int adapter(const char *, uint64_t total, uint64_t received) {
  download_progress32_fn fn = download_record().progress32.load();
  if (fn == nullptr) return 65535;
  return fn(static_cast<uint32_t>(total), static_cast<uint32_t>(received));
}

bool move_path(const std::string &from, const std::string &to) {
  std::error_code ec;
  fs::rename(from, to, ec);
  if (ec) {
    log_printf("resolvenames: move %s to %s failed: %s\n", from.c_str(), to.c_str(),
               ec.message().c_str());
    return false;
  }
  log_printf("resolvenames: move %s to %s\n", from.c_str(), to.c_str());
  return true;
}

// A private temporary folder inside `folder` (the folder the downloads are moved into, so that
// moving them is a rename within one file system, which a destination on another disk, a USB
// stick or a network share would otherwise make fail): "<folder>/lumavex_XXXXXX", made by this
// user alone (mode 0700). "" on failure.
std::string make_temp_folder(const std::string &folder) {
  if (folder.size() >= kPathLimit - 20) {
    log_printf("makenamebuffers: base name overflow\n");
    return {};
  }
  if (!folder.empty()) make_folders(folder);
  std::string dir = platform::make_private_folder(folder, "lumavex_");
  if (dir.empty()) {
    log_printf("makenamebuffers: failed to create a temporary folder in %s\n",
               folder.empty() ? "." : folder.c_str());
    return {};
  }
  return dir + "/";
}

// The folder the downloads of `option` end up in: dest's own folder for option 6, dest for a
// folder option, and the current folder otherwise.
std::string destination_folder(const std::string &dest, int option) {
  if (option == 6) {
    size_t cut = dest.find_last_of("/\\");
    return cut == std::string::npos ? std::string() : dest.substr(0, cut + 1);
  }
  return option % 2 == 1 ? dest : std::string();
}

// True when a folder holds a regular file anywhere below it.
bool holds_files(const std::string &dir) {
  std::error_code ec;
  for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_regular_file(ec)) return true;
  }
  return false;
}

// Tells the user where the video files of a recording can be found on the tracker.
void alert_no_video(const std::string &name) {
  LinkRecord &l = link_record();
  const char *n = name.c_str();
  if (l.is_tq)
    alert(
        "Unable to download a vfile for %s.qrd from an Lumavex Vista. Check /lvrx/data/%s/ to "
        "see if there is a *.evf file on the host and download it manually using Filonex if "
        "there is.",
        n, n);
  else if (l.is_gen4)
    alert(
        "Unable to download a vfile for %s.qrd from an Lumavex T. Check /lvrx/EyeVideo/%s/ to "
        "see if there is a *.evf file on the host and download it manually using Filonex if "
        "there is.",
        n, n);
  else
    alert("Unable to download a vfile for %s.qrd from an unidentified host.", n);
}

// Lists the video folder of recording `base` and downloads each file into dest/<folder>. All the
// files share one wait, renewed only as whole buffers arrive, so that a folder of many names
// that each stall costs one wait, not one per name. A file that does not arrive whole does not
// stop the others; the result is then the first such file's code, and the log names them all.
int video_folder_ftpd(const std::string &base, const std::string &dest,
                      download_progress_fn progress, std::string *vdir_out) {
  abort_to_idle();
  std::string reply;
  int r = request_video_list(base, &reply);
  if (r != 0) return r;
  std::optional<VideoList> list = parse_video_list(reply);
  if (!list) {
    log_printf("Failed to retrive QXGETVS message path=[%s].buf=[%s]\n", base.c_str(),
               reply.c_str());
    alert_no_video(base);
    console_printf("receive_data_vfiles_feedback_ftp failed\n");
    return -6;
  }
  log_printf("@receive_data_vfiles_feedback_ftpd: path=[%s] buf=[%s]\n", base.c_str(),
             reply.c_str());
  if (list->count <= 0 || list->folder.empty() || list->names.empty()) {
    log_printf("Failed to retrive QXGETVS message.dfname=[%s] response=[%s]\n",
               list->folder.c_str(), reply.c_str());
    alert_no_video(list->folder);
    return -6;
  }
  if (!host_name_acceptable(list->folder, "receive_data_vfiles_feedback_ftpd")) return -6;
  // A listing that names a file twice is not a folder's contents: each copy would overwrite or
  // stamp the one before.
  std::set<std::string> seen;
  for (const std::string &name : list->names) {
    if (!seen.insert(name).second) {
      log_printf(
          "receive_data_vfiles_feedback_ftpd: the listing names %s more than once: "
          "refused\n",
          name.c_str());
      return -6;
    }
  }
  *vdir_out = list->folder;
  log_printf("receive_data_vfiles_feedback done\n");
  std::string local = join_path(dest, list->folder);
  if (local.size() >= kPathLimit) return -2;
  delete_path(local);
  make_folders(local);
  const size_t count = std::min(list->names.size(), static_cast<size_t>(list->count));
  ServiceWait wait(true);
  std::string missing;
  int result = 0;
  size_t failed = 0;
  for (size_t i = 0; i < count; ++i) {
    const std::string &name = list->names[i];
    int32_t one;
    if (wait.spent()) {
      one = -2;  // the folder's wait is spent: nothing more is asked for
    } else {
      log_printf("->receive_data_vfiles_feedback_ftpd: path=[%s] fName[%s]\n", base.c_str(),
                 name.c_str());
      one = receive_video_file_ftpd(base, name, local, progress, wait);
    }
    if (one == -3) {
      log_printf("File transfer cancelled. no more file to process. \n");
      return -3;
    }
    if (one < 0) {
      ++failed;
      if (result == 0) result = one;
      missing += (missing.empty() ? "" : ", ") + name + " (" + std::to_string(one) + ")";
    }
  }
  if (failed > 0) {
    log_printf("receive_data_vfiles_feedback_ftpd: %d of %d video files did not arrive: %s\n",
               static_cast<int>(failed), static_cast<int>(count), missing.c_str());
    alert("%d of %d video files of %s did not arrive: %s", static_cast<int>(failed),
          static_cast<int>(count), base.c_str(), missing.c_str());
  }
  return result;
}

// Moves the downloads from the temporary folder into place. `option` is the (adjusted) option
// code; qrd and vdir are names inside tmp ("" when absent).
int resolve_names(const std::string &dest, int option, bool tq, bool replace,
                  const std::string &tmp, std::string qrd, const std::string &vdir) {
  std::string target_dir;
  if (!dest.empty()) {
    std::string new_name;
    if (option == 6) {
      size_t cut = dest.find_last_of("/\\");
      target_dir = cut == std::string::npos ? std::string() : dest.substr(0, cut);
      new_name = cut == std::string::npos ? dest : dest.substr(cut + 1);
    } else if (option % 2 == 1) {
      target_dir = dest;
    } else if (option == 2) {
      new_name = dest;
    }
    if ((option == 6 || option == 2) && !qrd.empty() && !new_name.empty()) {
      std::error_code ec;
      fs::rename(tmp + qrd, tmp + new_name, ec);
      log_printf("resolvenames: rename %s to %s\n", (tmp + qrd).c_str(), (tmp + new_name).c_str());
      if (ec) return -5;
      qrd = new_name;
    }
  }
  if (!target_dir.empty() && !ends_in_separator(target_dir)) target_dir += "/";
  if (target_dir.size() + std::max(qrd.size(), vdir.size()) >= kPathLimit) return -2;
  if (!target_dir.empty()) make_folders(target_dir);
  int code = option;
  if (tq && !qrd.empty() && !vdir.empty()) {
    if (!move_path(tmp + qrd, tmp + vdir + "/" + qrd)) return -5;
    code = option % 2 == 1 ? 5 : 4;
  }
  const bool move_qrd = code != 4 && code != 5 && !qrd.empty();
  const std::string qrd_target = move_qrd ? target_dir + qrd : std::string();
  const std::string vdir_target = vdir.empty() ? std::string() : target_dir + vdir;
  if (replace) {
    if (!qrd_target.empty() && path_exists(qrd_target) && !delete_path(qrd_target)) return -2;
    if (!vdir_target.empty() && path_exists(vdir_target) && !delete_path(vdir_target)) return -2;
  }
  const bool in_use = (!qrd_target.empty() && path_exists(qrd_target)) ||
                      (!vdir_target.empty() && path_exists(vdir_target));
  if (!in_use) {
    if (move_qrd && !move_path(tmp + qrd, qrd_target)) return -5;
    if (!vdir.empty() && !move_path(tmp + vdir, vdir_target)) return -5;
    return 0;
  }
  log_printf("resolvenames: target paths are in use\n");
  std::string whole = target_dir + (vdir.empty() ? std::string("lumavex") : vdir);
  if (filename_search(whole) != 0) {
    log_printf("resolvenames: failed to find unused name: %s\n", whole.c_str());
    return -5;
  }
  std::string from = tmp.substr(0, tmp.size() - 1);
  std::error_code ec;
  fs::rename(from, whole, ec);
  if (ec) {
    log_printf("resolvenames: moved %s to %s failed\n", from.c_str(), whole.c_str());
    return -5;
  }
  log_printf("resolvenames: moved %s to %s\n", from.c_str(), whole.c_str());
  return 0;
}

}  // namespace

int32_t receive_file(const char *src, const char *dest, int32_t options,
                     download_progress_fn progress) {
  const bool replace = (options & kReplaceFlag) != 0;
  int option = static_cast<int16_t>(options & 0xFFFF & ~kReplaceFlag);
  log_printf(
      "receive_data_file_feedback64( ) called:\n    src is '%s'\n    dest is '%s'\n    options "
      "is %d\n    replace existing is %s\n    progress is %p\n",
      src ? src : "NULL", dest ? dest : "NULL", option, replace ? "true" : "false",
      reinterpret_cast<void *>(progress));
  LinkRecord &link = link_record();
  const bool has_video = link.is_gen4 || link.is_tq;
  const bool tq = link.is_tq;
  const bool service = link.host_v5;
  const int generation = [] {
    LinkLockGuard lock;
    return link_record().version.generation;
  }();
  if (option < 0 || option > 6) {
    log_printf("receive_data_file_feedback64: options is %d\n", option);
    return -5;
  }
  if (src == nullptr) {
    log_printf("receive_data_file_feedback64: src is NULL\n");
    return -5;
  }
  if (std::strlen(src) >= kPathLimit) {
    log_printf("receive_data_file_feedback64: buffer overflow: src is %s\n", src);
    return -5;
  }
  if (has_control_character(src)) {
    // Checked before anything goes to the tracker: the name is sent in its command texts.
    log_printf("receive_data_file_feedback64: src holds a control character\n");
    return -5;
  }
  if (dest != nullptr && std::strlen(dest) >= kPathLimit) {
    log_printf("receive_data_file_feedback64: buffer overflow: dest is %s\n", dest);
    return -5;
  }
  if ((option == 4 || option == 5) && (!has_video || !service)) {
    log_printf("receive_data_file_feedback64: options is %d butLumavex version %d has no vFiles\n",
               option, generation);
    return -5;
  }
  const std::string user_dest = dest ? dest : "";
  if (user_dest.empty() && (option % 2 == 1 || option == 6)) {
    int to = option == 6 ? 2 : option - 1;
    log_printf(
        "receive_data_file_feedback64: dest is %s butoptions is %d: switching options to "
        "%d\n",
        dest ? "\"\"" : "NULL", option, to);
    option = to;
  }
  const int requested = option;
  bool use_link = link.version_value.load() == 5.15 || !service;
  if (use_link)
    log_printf("%shost version %.2f requires udp transfer: options is now %d\n",
               service ? "QNX " : "", link.version_value.load(), option & 1);
  int32_t result = 0;
  std::string tmp;
  bool keep_tmp = false;
  if (!use_link) {
    std::string qrd_name;
    std::string to = user_dest;
    int qrd_option = option;
    if (option >= 2 && has_video) {
      tmp = make_temp_folder(destination_folder(user_dest, option));
      if (tmp.empty()) return -2;
      to = tmp;
      qrd_option = 3;
      log_printf("receive_data_file_feedback64: download to tmp dir: %s\n", tmp.c_str());
    }
    bool video_step = !tmp.empty();
    if (requested != 4 && requested != 5) {
      log_printf("qnx tracker using tcp transfer for option %d \n", option);
      std::string placed;
      result =
          receive_data_file_feedback_ftpd(src, to.c_str(), qrd_option, replace, &placed, progress);
      if (result < 1) {
        log_printf("qnx tracker using tcp transfer failed.%s\n",
                   video_step ? " No vFile transfer." : "");
        video_step = false;
        if (generation < 4) {
          log_printf("qnx tracker using tcp transfer failed. using udp transfer\n");
          use_link = true;
          option &= 1;
        }
      } else if (video_step) {
        qrd_name = std::string(base_of_host_path(placed));
      }
    } else {
      result = 1;
    }
    if (video_step) {
      std::string base(base_of_host_path(src));
      if (has_qrd_extension(base)) base.resize(base.size() - 4);
      std::string vdir;
      int v;
      if (base.size() >= kVideoBaseLimit) {
        log_printf("getvfiles: vFile path buffer overflow %lu\n",
                   static_cast<unsigned long>(base.size()));
        v = -2;
      } else {
        log_printf("Receiving vFile. using tcp transfer path %s dest %s options %d \n",
                   base.c_str(), tmp.c_str(), option);
        v = video_folder_ftpd(base, tmp, progress, &vdir);
      }
      // Whatever arrived whole is moved into place even when the video step failed or was
      // cancelled (a file missing, cut short or failing its checksum, the listing refused): the
      // result says that the download is incomplete, and the log names what is missing.
      if (v != 0 && !vdir.empty() && !holds_files(tmp + vdir)) vdir.clear();
      int moved = resolve_names(user_dest, option, tq, replace, tmp, qrd_name, vdir);
      if (moved != 0) {
        if (moved == -2)
          log_printf(
              "resolvenames: buffer overflow: dest %lu: tmp %lu: qrd %lu: vdir %lu\n",
              static_cast<unsigned long>(user_dest.size()), static_cast<unsigned long>(tmp.size()),
              static_cast<unsigned long>(qrd_name.size()), static_cast<unsigned long>(vdir.size()));
        // The files that arrived are never deleted: the temporary folder, which sits in the
        // destination folder, keeps them.
        if (holds_files(tmp)) {
          keep_tmp = true;
          alert("The downloaded files could not be moved into place; they are in %s", tmp.c_str());
        }
      }
      result = v != 0 ? v : (moved != 0 ? moved : result);
    }
  }
  if (use_link) {
    result = receive_data_file_feedback_udp(src, user_dest.c_str(), (option & 1) != 0, replace,
                                            progress);
  }
  if (!tmp.empty() && !keep_tmp) delete_path(tmp.substr(0, tmp.size() - 1));
  return result;
}

int32_t receive_file_32(const char *src, const char *dest, int16_t dest_is_path,
                        download_progress32_fn progress) {
  download_record().progress32 = progress;
  return receive_file(src, dest, dest_is_path != 0 ? 1 : 0, adapter);
}

}  // namespace lvx
