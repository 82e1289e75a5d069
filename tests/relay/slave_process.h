// A child process for the relay tests: started with its standard output on a pipe, its lines
// read as they come, every wait bounded, and killed (if still running) when the object goes.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

extern char **environ;

namespace relaytest {

class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess &) = delete;
  ChildProcess &operator=(const ChildProcess &) = delete;
  ~ChildProcess() { stop(); }

  // Starts `program` with `args` in the current working folder. False when it cannot start.
  bool start(const std::string &program, const std::vector<std::string> &args) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
      close(fds[0]);
      pid_ = -1;
      return false;
    }
    out_ = fds[0];
    return true;
  }

  // Waits at most timeout_ms for a line that starts with `prefix` (looking at the lines already
  // read too) and returns it.
  std::optional<std::string> wait_line(const std::string &prefix, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      for (; seen_ < lines_.size(); ++seen_) {
        if (lines_[seen_].rfind(prefix, 0) == 0) return lines_[seen_++];
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !read_some(static_cast<int>(left.count()))) return std::nullopt;
    }
  }

  // Every line read so far.
  const std::vector<std::string> &lines() const { return lines_; }

  // Waits at most timeout_ms for the process to end; its exit status, or nothing.
  std::optional<int> wait_exit(int timeout_ms) {
    for (int waited = 0; pid_ > 0; waited += 5) {
      int status = 0;
      pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        pid_ = -1;
        exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        break;
      }
      if (waited >= timeout_ms) return std::nullopt;
      usleep(5000);
    }
    return exit_status_;
  }

  void signal(int sig) {
    if (pid_ > 0) kill(pid_, sig);
  }

  void stop() {
    if (pid_ > 0) {
      kill(pid_, SIGCONT);
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    if (out_ >= 0) {
      close(out_);
      out_ = -1;
    }
  }

 private:
  // Reads what the pipe holds, waiting at most timeout_ms; false once it is closed or nothing
  // came.
  bool read_some(int timeout_ms) {
    if (out_ < 0) return false;
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return false;
    char buf[4096];
    ssize_t n = read(out_, buf, sizeof buf);
    if (n <= 0) {
      close(out_);
      out_ = -1;
      if (!partial_.empty()) lines_.push_back(partial_);
      partial_.clear();
      return false;
    }
    for (ssize_t i = 0; i < n; ++i) {
      if (buf[i] == '\n') {
        lines_.push_back(partial_);
        partial_.clear();
      } else {
        partial_ += buf[i];
      }
    }
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  std::string partial_;
  std::vector<std::string> lines_;
  size_t seen_ = 0;
  std::optional<int> exit_status_;
};

}  // namespace relaytest
