#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <functional>
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
/// and error in memory files: the input is all there from the start and the output can be
/// read at any time; the caller's threads (a test server, say) keep running meanwhile.
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
  /// Waits until `holds` is true of standard output so far (false on a time-out or an early
  /// exit).
  bool waitForOutput(const std::function<bool(const std::string&)>& holds, std::chrono::milliseconds timeout);
  void signal(int number);
  /// Waits for the exit and collects the rest of the output; kills the child after `timeout`.
  ChildResult finish(std::chrono::milliseconds timeout);

 private:
  /// Collects the exit status if the child has ended; true once it has.
  bool exited();
  /// Polls `done` until it holds (true), the child ends or `timeout` passes.
  bool waitFor(std::chrono::milliseconds timeout, const std::function<bool()>& done);

  pid_t pid_ = -1;
  int streams_[3] = {-1, -1, -1};  // standard input, output and error
  ChildResult result_;
};

/// Runs `argv` to the end with `input` on its standard input.
ChildResult runChild(std::vector<std::string> argv, const std::string& input = "",
                     std::chrono::milliseconds timeout = std::chrono::seconds(60));

}  // namespace tovik::test
