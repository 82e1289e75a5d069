// File names: the rules a recording file name on the tracker must follow, the library's options
// text, and the small utilities applications use for their local files.
//
// The utilities were made for Windows paths; here they mean what a Linux user expects:
// - Both separators are accepted on input; results use forward slashes.
// - No drive letter is ever invented: an absolute name ("/data/x.qrd" or "\data\x.qrd") keeps
//   the drive of the folder it is spliced onto only when that folder has one ("D:/work" gives
//   "D:/data/x.qrd"), and on a Linux folder it stays absolute as it is ("/data/x.qrd").
// - A name holding ':' (a drive or device prefix) is taken as complete and not spliced.
// - The reserved device names and the characters Windows refuses are still refused by
//   check_filename_characters: files written here are often copied to Windows machines.
// - create_path changes the caller's backslashes into forward slashes in place, and makes the
//   whole folder, the last part included, where the Windows form made only the parts that end
//   at a separator.
// - Paths (the results of splice_fname) hold at most kMaxPathText characters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lvx {

// Longest base name (without dot and extension) of a recording file, without and with the
// long-name option.
inline constexpr size_t kMaxShortBaseName = 8;
inline constexpr size_t kMaxLongBaseName = 78;
// The options text is read up to this many characters.
inline constexpr size_t kMaxOptionsText = 255;
// Paths built here hold at most this many characters (the caller's buffer: one more).
inline constexpr size_t kMaxPathText = 4095;

// A recording file name as open_data_file reads it: the base name is what follows the last
// separator (either kind), the extension what follows the base name's last dot.
struct DataFileName {
  std::string base;
  std::string stem;  // the base name without its dot and extension
  std::optional<std::string> extension;
};
DataFileName split_data_file_name(std::string_view name);

// The alert text for a name the library refuses (the empty name, too long a base name, an
// extension other than "qrd", a character other than ASCII letters, digits and '_', or a leading
// '_'); nothing for a good name.
std::optional<std::string> data_file_name_problem(std::string_view name, bool long_names);

// The tracker command that opens the file: "open_data_file '<base name>'", with ".qrd" added to
// a base name without extension.
std::string open_data_file_command(std::string_view name);

// Applies an options text (tokens name=value, split at blanks, tabs and line feeds; the value an
// integer in any C base). The only name is "longname" (any case), written to *longname. Returns
// 0 for a null text, 1 when every option was taken, -1 at the first bad one (a token without
// '=', another name, a value that is not a number); the options before it keep their effect.
int16_t apply_library_options(const char *text, long *longname);

// splice_fname: fname on the folder `path`, or on `cwd` when path is empty (see the header
// comment). The empty name gives the empty text.
std::string splice_file_name(std::string_view fname, std::string_view path, std::string_view cwd);

// -1 for "aux", "con", "lpt1" or "prn" (exactly, case-sensitive) or a name holding any of
// <>:"|'*? ; else 0.
int16_t check_filename_characters(std::string_view name);

// 1 the path exists and may be written, 0 it does not exist, -1 it cannot be accessed.
int16_t file_exists(const char *path);

// Makes the folder of `path` (the whole path when is_dir is nonzero, else all but its last part),
// with every missing folder on the way: 1 made, 0 it was there, -1 failed. Backslashes in path
// become forward slashes in place.
int16_t create_path(char *path, int16_t is_dir);

}  // namespace lvx
