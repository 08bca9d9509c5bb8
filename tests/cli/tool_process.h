#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace tovik::test {

/// What a finished run of the tool left behind.
struct ToolResult {
  /// The exit status; 128 + the signal when a signal ended it; -1 when it had to be killed.
  int status = -1;
  std::string out;
  std::string err;

  std::vector<std::string> outLines() const;
};

/// The real `tovik` binary of this build, run as a child process with its standard input,
/// output and error on pipes.
class ToolProcess {
 public:
  static std::string binary();

  explicit ToolProcess(const std::vector<std::string>& args, std::string input = "");
  /// Kills the tool if it still runs.
  ~ToolProcess();
  ToolProcess(const ToolProcess&) = delete;
  ToolProcess& operator=(const ToolProcess&) = delete;

  /// Waits until standard output holds `count` complete lines (false on a time-out or an
  /// early exit).
  bool waitForLines(std::size_t count, std::chrono::milliseconds timeout);
  void signal(int number);
  /// Waits for the exit and collects the rest of the output; kills the tool after `timeout`.
  ToolResult finish(std::chrono::milliseconds timeout);

 private:
  /// Moves data between the pipes for at most `timeout`; false once both outputs ended.
  bool pump(std::chrono::milliseconds timeout);

  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::string input_;
  std::size_t written_ = 0;
  ToolResult result_;
};

/// Runs `tovik args...` to the end with `input` on its standard input.
ToolResult runTool(const std::vector<std::string>& args, const std::string& input = "",
                   std::chrono::milliseconds timeout = std::chrono::seconds(60));

}  // namespace tovik::test
