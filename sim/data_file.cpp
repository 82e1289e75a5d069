#include "sim/data_file.h"

#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>
#include <utility>

#include "common/wire_reader.h"

namespace lvxsim {

namespace {

constexpr std::string_view kMagic = "LVXSIM RECORDING 1";
constexpr size_t kRecordHead = 5;  // kind byte and 32-bit length
constexpr size_t kTimeSize = 4;

bool is_name_char(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u < 0x80 && (std::isalnum(u) != 0 || c == '_');
}

std::vector<uint8_t> time_bytes(int64_t time_ms) {
  std::vector<uint8_t> out(kTimeSize);
  lvx::put_u32(out, 0, static_cast<uint32_t>(static_cast<uint64_t>(time_ms)));
  return out;
}

}  // namespace

std::optional<std::string> tracker_file_name(std::string_view text, bool long_names) {
  // The value after the command name.
  size_t at = text.find_first_of(" \t=");
  if (at == std::string_view::npos) return std::nullopt;
  std::string_view v = text.substr(at);
  while (!v.empty() && (v.front() == ' ' || v.front() == '\t' || v.front() == '=')) {
    v.remove_prefix(1);
  }
  while (!v.empty() && std::isspace(static_cast<unsigned char>(v.back())) != 0) v.remove_suffix(1);
  if (v.size() >= 2 && (v.front() == '\'' || v.front() == '"') && v.back() == v.front()) {
    v = v.substr(1, v.size() - 2);
  }
  std::string_view stem = v;
  const size_t dot = v.rfind('.');
  if (dot != std::string_view::npos) {
    std::string_view ext = v.substr(dot + 1);
    if (ext.size() != 3 || std::tolower(static_cast<unsigned char>(ext[0])) != 'q' ||
        std::tolower(static_cast<unsigned char>(ext[1])) != 'r' ||
        std::tolower(static_cast<unsigned char>(ext[2])) != 'd') {
      return std::nullopt;
    }
    stem = v.substr(0, dot);
  }
  if (stem.empty() || stem.size() > (long_names ? kTrackerLongName : kTrackerShortName)) {
    return std::nullopt;
  }
  if (stem.front() == '_') return std::nullopt;
  for (char c : stem) {
    if (!is_name_char(c)) return std::nullopt;
  }
  return dot == std::string_view::npos ? std::string(v) + ".qrd" : std::string(v);
}

DataFileWriter::~DataFileWriter() {
  if (file_ != nullptr) std::fclose(file_);
}

DataFileWriter::DataFileWriter(DataFileWriter &&other) noexcept
    : file_(std::exchange(other.file_, nullptr)),
      path_(std::move(other.path_)),
      failed_(other.failed_) {}

DataFileWriter &DataFileWriter::operator=(DataFileWriter &&other) noexcept {
  if (this != &other) {
    if (file_ != nullptr) std::fclose(file_);
    file_ = std::exchange(other.file_, nullptr);
    path_ = std::move(other.path_);
    failed_ = other.failed_;
  }
  return *this;
}

std::optional<DataFileWriter> DataFileWriter::create(const std::string &path,
                                                     const std::string &name,
                                                     const std::string &tracker,
                                                     int64_t opened_ms) {
  DataFileWriter w;
  w.file_ = std::fopen(path.c_str(), "wb");
  if (w.file_ == nullptr) return std::nullopt;
  w.path_ = path;
  if (std::fprintf(w.file_, "%s\nname: %s\ntracker: %s\nopened: %lld\n\n", kMagic.data(),
                   name.c_str(), tracker.c_str(), static_cast<long long>(opened_ms)) < 0) {
    w.failed_ = true;
  }
  std::fflush(w.file_);
  return w;
}

void DataFileWriter::record(char kind, const std::vector<uint8_t> &payload) {
  if (file_ == nullptr) return;
  uint8_t head[kRecordHead];
  head[0] = static_cast<uint8_t>(kind);
  lvx::put_u32(head, 1, static_cast<uint32_t>(payload.size()));
  if (std::fwrite(head, 1, sizeof head, file_) != sizeof head ||
      std::fwrite(payload.data(), 1, payload.size(), file_) != payload.size()) {
    failed_ = true;
  }
}

void DataFileWriter::message(int64_t time_ms, std::string_view text) {
  std::vector<uint8_t> p(kTimeSize + text.size());
  lvx::put_u32(p, 0, static_cast<uint32_t>(static_cast<uint64_t>(time_ms)));
  if (!text.empty()) std::memcpy(p.data() + kTimeSize, text.data(), text.size());
  record(kRecordMessage, p);
}

void DataFileWriter::recording_start(int64_t time_ms, bool fs, bool fe, bool ls, bool le) {
  std::vector<uint8_t> p(kTimeSize + 4);
  lvx::put_u32(p, 0, static_cast<uint32_t>(static_cast<uint64_t>(time_ms)));
  size_t at = kTimeSize;
  for (bool b : {fs, fe, ls, le}) p[at++] = b ? 1 : 0;
  record(kRecordStart, p);
}

void DataFileWriter::data_packet(const std::vector<uint8_t> &packet) {
  record(kRecordData, packet);
}

void DataFileWriter::recording_end(int64_t time_ms) {
  record(kRecordEnd, time_bytes(time_ms));
  // Each recording is on disk once it has ended, so that its size can be read meanwhile.
  if (file_ != nullptr && std::fflush(file_) != 0) failed_ = true;
}

bool DataFileWriter::close() {
  if (file_ == nullptr) return !failed_;
  if (std::fclose(file_) != 0) failed_ = true;
  file_ = nullptr;
  return !failed_;
}

uint32_t DataFileRecord::time_ms() const {
  lvx::WireReader r(payload);
  const uint32_t time = r.u32_at(0);
  return r.ok() ? time : 0;
}

std::string DataFileRecord::text() const {
  if (payload.size() < kTimeSize) return {};
  return std::string(payload.begin() + kTimeSize, payload.end());
}

std::optional<DataFileContents> read_data_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  DataFileContents c;
  size_t at = 0;
  bool first = true;
  for (;;) {
    size_t end = at;
    while (end < bytes.size() && bytes[end] != '\n') ++end;
    if (end == bytes.size()) return std::nullopt;
    std::string line(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                     bytes.begin() + static_cast<std::ptrdiff_t>(end));
    at = end + 1;
    if (first) {
      if (line != kMagic) return std::nullopt;
      first = false;
      continue;
    }
    if (line.empty()) break;
    const size_t colon = line.find(": ");
    if (colon == std::string::npos) return std::nullopt;
    c.header[line.substr(0, colon)] = line.substr(colon + 2);
  }
  lvx::WireReader records(bytes);
  records.seek(at);
  while (records.left() > 0) {
    uint8_t kind = 0;
    uint32_t n = 0;
    records.u8(kind);
    records.u32(n);
    const lvx::Bytes payload = records.take_bytes(n);
    if (!records.ok()) return std::nullopt;
    DataFileRecord r;
    r.kind = static_cast<char>(kind);
    r.payload.assign(payload.begin(), payload.end());
    c.records.push_back(std::move(r));
  }
  return c;
}

}  // namespace lvxsim
