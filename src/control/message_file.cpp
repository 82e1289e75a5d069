#include "control/message_file.h"

#include <cstdlib>
#include <mutex>

#include "control/messages.h"
#include "control/realtime.h"
#include "link/clock.h"
#include "link/log.h"

namespace lvx {

namespace {

// A line this far from now, or further, carries its delay in front of its text when it goes to
// the tracker; a long text is stamped with its own time when it is further than this.
constexpr int32_t kDelayPrefixMs = 2;
constexpr int32_t kLongTextShiftMs = 2;

int32_t ms_between(uint32_t later, uint32_t earlier) {
  return static_cast<int32_t>(later - earlier);
}

}  // namespace

MessageFile::MessageFile(MessageFileServices services, size_t max_queued)
    : services_(std::move(services)), max_queued_(max_queued == 0 ? 1 : max_queued) {}

MessageFile::~MessageFile() {
  if (file_ != nullptr) std::fclose(file_);
}

int16_t MessageFile::output(uint32_t time, const std::string &text) {
  if (file_ != nullptr) {
    // Flushed line by line, so that a failed write is seen here and the line kept queued,
    // rather than lost in a buffer that fails at close.
    if (std::fprintf(file_, "%u\t%s\n", time, text.c_str()) < 0 || std::fflush(file_) != 0 ||
        std::ferror(file_) != 0) {
      std::clearerr(file_);
      return -1;
    }
    return 0;
  }
  const int32_t delay = ms_between(now_ms(), time);
  if (time != 0 && std::abs(delay) >= kDelayPrefixMs) {
    return services_.send_now(std::to_string(delay) + " " + text);
  }
  return services_.send_now(text);
}

bool MessageFile::write_one(bool force) {
  if (queue_.empty()) return false;
  if (!force && !writing_allowed()) return false;
  if (output(queue_.front().time, queue_.front().text) != 0) return false;
  queue_.pop_front();
  if (queue_.empty()) overflow_reported_ = false;
  return true;
}

int16_t MessageFile::enqueue(uint32_t time, const std::string &text) {
  if (queue_.size() >= max_queued_) {
    if (!overflow_reported_) {
      log_printf(
          "Message file: %zu lines queued in real-time mode, the most it holds: writing "
          "them to the file now\n",
          queue_.size());
      overflow_reported_ = true;
    }
    while (write_one(true)) {
    }
    if (queue_.empty()) return output(time == 0 ? now_ms() : time, text);
    if (queue_.size() >= max_queued_) {
      log_printf("Message file: the queue cannot be written; line refused\n");
      return -1;
    }
  }
  queue_.push_back(Line{time == 0 ? now_ms() : time, text});
  return 0;
}

int16_t MessageFile::open(const char *path) {
  close();
  if (path == nullptr) return -1;
  file_ = std::fopen(path, "w");
  return file_ != nullptr ? 0 : -1;
}

void MessageFile::close() {
  if (file_ == nullptr) return;
  while (write_one(true)) {
  }
  if (!queue_.empty()) {
    log_printf("Message file: %zu lines could not be written; they stay queued\n", queue_.size());
  }
  if (std::fclose(file_) != 0) log_printf("Message file: closing it failed\n");
  file_ = nullptr;
}

int16_t MessageFile::line(uint32_t time_ms, const std::string &text) {
  if (text.size() > kMaxMessageFileText) return -1;
  const uint32_t t = time_ms != 0 ? time_ms : now_ms();
  if (queue_.empty() && writing_allowed()) return output(t, text);
  if (writing_allowed()) {
    const uint64_t start = services_.now_us();
    while (!queue_.empty() && services_.now_us() - start < kQueueWriteBudgetUs) {
      if (!write_one(false)) break;
    }
  }
  if (writing_allowed() && queue_.empty()) return output(t, text);
  return enqueue(t, text);
}

// ---- The process-wide message file ----

MessageFileRecord::MessageFileRecord()
    : file(MessageFileServices{
               [] { return local_usec(); },
               [] { return realtime_flag() != 0; },
               [](const std::string &text) {
                 return send_message(text.c_str(), message_time_after(0));
               },
           },
           kMaxQueuedLines) {}

int16_t open_message_file(const char *path) {
  MessageFileRecord &r = message_file_record();
  std::lock_guard<std::mutex> guard(r.lock);
  return r.file.open(path);
}

void close_message_file() {
  MessageFileRecord &r = message_file_record();
  std::lock_guard<std::mutex> guard(r.lock);
  r.file.close();
}

int16_t time_message(uint32_t t, const std::string &text) {
  if (text.size() > kLongMessageText) {
    double when = local_double_usec();
    const int32_t back = ms_between(local_ms(), t);
    if (t != 0 && std::abs(back) > kLongTextShiftMs) when -= static_cast<double>(back) * 1000.0;
    send_message(text.c_str(), when);
    return 0;
  }
  MessageFileRecord &r = message_file_record();
  std::lock_guard<std::mutex> guard(r.lock);
  return r.file.line(t, text);
}

}  // namespace lvx
