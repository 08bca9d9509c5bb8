#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace tovik::test {

/// What a finished child process left behind.
struct ChildResult {
  /// The exit status; 128 + the signal when a signal ended it; -1 when it had to be killed.
  int status = -1;
  std::string out;
  std::string err;

  std::vector<std::string> outLines() const;
};

/// A program run as a child process (`argv[0]` is its path) with its standard input, output
/// and error on pipes; the caller's threads (a test server, say) keep running meanwhile.
class ChildProcess {
 public:
  explicit ChildProcess(std::vector<std::string> argv, std::string input = "");
  /// Kills the child if it still runs.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  /// Waits until standard output holds `count` complete lines (false on a time-out or an
  /// early exit).
  bool waitForLines(std::size_t count, std::chrono::milliseconds timeout);
  void signal(int number);
  /// Waits for the exit and collects the rest of the output; kills the child after `timeout`.
  ChildResult finish(std::chrono::milliseconds timeout);

 private:
  /// Moves data between the pipes for at most `timeout`; false once both outputs ended.
  bool pump(std::chrono::milliseconds timeout);

  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::string input_;
  std::size_t written_ = 0;
  ChildResult result_;
};

/// Runs `argv` to the end with `input` on its standard input.
ChildResult runChild(std::vector<std::string> argv, const std::string& input = "",
                     std::chrono::milliseconds timeout = std::chrono::seconds(60));

}  // namespace tovik::test
