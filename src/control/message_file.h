// The local message file: time-stamped lines ("%u\t%s\n", the library clock in ms, a tab, the
// text) that timemsg_printf writes on the display computer, or sends to the tracker as messages
// while no file is open. During real-time mode the file is never touched: lines wait in memory
// and are written out, in call order, once real-time mode has ended (a little at each call) and
// when the file is closed.
//
// Two choices lose nothing:
// - The queue holds at most kMaxQueuedLines lines, so that a runaway loop cannot take the
//   machine's memory. A line that finds it full writes the queue out at once, although real-time
//   mode is on (logged once per episode): a disk write during the trial is the lesser harm than a
//   lost line. Only when that write fails is the line refused (-1).
// - Lines that cannot be written when the file closes stay queued. The next timemsg_printf
//   writes them first, into a file opened meanwhile or, with none, to the tracker (each with its
//   delay), which is where lines go without a file.
//
// Concurrency: the record has a lock of its own, so calls from several threads are safe; it is
// held while a line goes to the tracker (then the message lock, then the link lock).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

namespace lvx {

// Texts of more characters go to the tracker as messages, whether or not a file is open.
inline constexpr size_t kLongMessageText = 290;
// Texts of more characters (up to kLongMessageText) are refused.
inline constexpr size_t kMaxMessageFileText = 255;
// Lines held in memory at most.
inline constexpr size_t kMaxQueuedLines = 100000;
// Each call writes queued lines for at most this long before its own.
inline constexpr uint64_t kQueueWriteBudgetUs = 3000;

// What the message file needs from the rest of the library; replaced in tests.
struct MessageFileServices {
  std::function<uint64_t()> now_us;                      // the library clock
  std::function<bool()> realtime;                        // in_realtime_mode
  std::function<int16_t(const std::string &)> send_now;  // a message to the tracker, time now
};

// The file, the queue and the rules of writing. Not locked: the process-wide instance is.
class MessageFile {
 public:
  MessageFile(MessageFileServices services, size_t max_queued);
  ~MessageFile();
  MessageFile(const MessageFile &) = delete;
  MessageFile &operator=(const MessageFile &) = delete;

  // Closes an open file first (its queue written out), then opens path, emptying it. 0, or -1
  // when it cannot be created (lines then go to the tracker).
  int16_t open(const char *path);
  // Writes every queued line (stopping at the first failure), closes the file and forgets it.
  void close();
  // One line of at most kLongMessageText characters: -1 for more than kMaxMessageFileText;
  // otherwise written, queued or sent as the rules say; 0 or -1.
  int16_t line(uint32_t time_ms, const std::string &text);

  bool is_open() const { return file_ != nullptr; }
  size_t queued() const { return queue_.size(); }

 private:
  struct Line {
    uint32_t time;
    std::string text;
  };
  bool writing_allowed() const { return file_ == nullptr || !services_.realtime(); }
  uint32_t now_ms() const { return static_cast<uint32_t>(services_.now_us() / 1000); }
  // One line into the file, or to the tracker without one (prefixed with its delay when it is
  // 2 ms or more away from now).
  int16_t output(uint32_t time, const std::string &text);
  // The oldest queued line out; false when none was written.
  bool write_one(bool force);
  // A line into the queue; a full queue is written out first.
  int16_t enqueue(uint32_t time, const std::string &text);

  MessageFileServices services_;
  size_t max_queued_;
  std::FILE *file_ = nullptr;
  std::deque<Line> queue_;
  bool overflow_reported_ = false;
};

// ---- The process-wide message file (the exported functions) ----

// Written by the application threads that call the message-file functions, under `lock`. The
// file's services are the library clock, real-time mode and the message channel.
struct MessageFileRecord {
  MessageFileRecord();
  std::mutex lock;
  MessageFile file;
};
MessageFileRecord &message_file_record();

int16_t open_message_file(const char *path);
void close_message_file();
// timemsg_printf with the text formatted: t is the line's time in library ms, 0 for now. A text
// longer than kLongMessageText goes to the tracker as a message stamped t (result 0).
int16_t time_message(uint32_t t, const std::string &text);

}  // namespace lvx
