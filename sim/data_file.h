// The simulated tracker's recording files, kept in its data folder (Config::data_dir, or a
// temporary folder the tracker owns and removes when it goes away).
//
// The file format is our own and simple, so that downloads can be checked byte for byte:
//
//   A text header of "key: value" lines after a first line "LVXSIM RECORDING 1", ended by an
//   empty line:
//       LVXSIM RECORDING 1
//       name: TRIAL1.QRD        (the name as the display sent it)
//       tracker: LUMAVEX RX 5.7 (the tracker's version text)
//       opened: 123456          (tracker time in ms)
//
//   Then records, each one kind byte, a 32-bit big-endian payload length and the payload:
//       'M'  a message: its stored time (u32 ms, big-endian), then its text
//       'S'  recording started: its time (u32 ms), then the four file and link flags as bytes
//            (file samples, file events, link samples, link events; 0 or 1 each)
//       'D'  one DATA packet as the link carries it (header and items in their link encoding),
//            written when a file flag asked for data. The items are composed again from the
//            recording's stream (the same bytes the link got); events are in them only when the
//            file-events flag was set, and samples come with them whenever either file flag was.
//       'E'  recording ended: its time (u32 ms)
//
//   Messages are written in the order the tracker stored them. Those stored while a recording
//   ran come after its 'S' record and before its data, which is written when the recording ends;
//   the others are written when the next recording starts or ends, or when the file closes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lvxsim {

// Results the tracker answers file commands with.
inline constexpr int16_t kResultBadFileName = -3;  // "Bad value"
inline constexpr int16_t kResultWrongMode = -7;  // "Cannot change or apply command in current mode"
inline constexpr int16_t kResultFileError = -10;  // "File operation error"

// Longest base names (without ".qrd") the tracker takes, without and with
// "long_filename_enabled = YES".
inline constexpr size_t kTrackerShortName = 8;
inline constexpr size_t kTrackerLongName = 78;

// The file name an "open_data_file 'name'" command asks for (quotes optional), or nothing when
// the tracker refuses it: an empty or too long base name, a character other than ASCII letters,
// digits and '_', '_' first, an extension other than "qrd" (any case), or a folder part.
std::optional<std::string> tracker_file_name(std::string_view command_text, bool long_names);

// Record kinds.
inline constexpr char kRecordMessage = 'M';
inline constexpr char kRecordStart = 'S';
inline constexpr char kRecordData = 'D';
inline constexpr char kRecordEnd = 'E';

// One open recording file. Not locked: the tracker's control side guards it.
class DataFileWriter {
 public:
  ~DataFileWriter();
  // Creates (or empties) path and writes the header; nothing when it cannot be created.
  static std::optional<DataFileWriter> create(const std::string &path, const std::string &name,
                                              const std::string &tracker, int64_t opened_ms);
  DataFileWriter(DataFileWriter &&other) noexcept;
  DataFileWriter &operator=(DataFileWriter &&other) noexcept;
  DataFileWriter(const DataFileWriter &) = delete;
  DataFileWriter &operator=(const DataFileWriter &) = delete;

  void message(int64_t time_ms, std::string_view text);
  void recording_start(int64_t time_ms, bool file_samples, bool file_events, bool link_samples,
                       bool link_events);
  void data_packet(const std::vector<uint8_t> &packet);
  void recording_end(int64_t time_ms);
  // Flushes and closes; false when a write failed at any point.
  bool close();
  const std::string &path() const { return path_; }

 private:
  DataFileWriter() = default;
  void record(char kind, const std::vector<uint8_t> &payload);
  std::FILE *file_ = nullptr;
  std::string path_;
  bool failed_ = false;
};

// A file read back.
struct DataFileRecord {
  char kind = 0;
  std::vector<uint8_t> payload;
  // 'M', 'S' and 'E': the time; 'M': the text.
  uint32_t time_ms() const;
  std::string text() const;
};
struct DataFileContents {
  std::map<std::string, std::string> header;
  std::vector<DataFileRecord> records;
};
// Reads a recording file; nothing when it is not one (or is cut short).
std::optional<DataFileContents> read_data_file(const std::string &path);

}  // namespace lvxsim
