#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <atomic>
#include <string>
#include <string_view>

namespace tovik::server {

/// One line per request: UTC time, client address, method, target, status, body bytes and
/// the time the server spent on the request. The target is written from the path and the
/// query items as the server parsed them (so however a name was encoded, the item the key
/// check read is the one redacted): the value of "access_key" is "[redacted]", and control
/// bytes, C1 controls and bytes that are not UTF-8 are escaped as \xNN.
/// Also keeps the figures that show a starved or slow server: the longest handling time,
/// the number of requests over `kSlow`, and the longest wait of a connection for a worker.
/// Safe to use from any thread, without locks: each line is one write() of its own.
class AccessLog {
 public:
  static constexpr std::chrono::milliseconds kSlow{100};

  struct Stats {
    std::uint64_t requests = 0;
    std::uint64_t slowRequests = 0;
    std::chrono::microseconds longestHandling{0};
    std::chrono::microseconds longestWait{0};
  };

  /// Writes to `out` (standard error, or a file the log then owns); null writes nothing
  /// but still keeps the figures.
  AccessLog(std::FILE* out, bool ownsFile);
  /// Opens `path` for appending; "-" means standard error. Throws `std::runtime_error`.
  static std::shared_ptr<AccessLog> open(const std::string& path);
  ~AccessLog();
  AccessLog(const AccessLog&) = delete;
  AccessLog& operator=(const AccessLog&) = delete;

  using Query = std::multimap<std::string, std::string>;

  void write(std::string_view remote, std::string_view method, std::string_view path, const Query& query,
             int status, std::size_t bytes, std::chrono::microseconds handling);
  /// A connection waited this long in the queue before a worker took it.
  void recordWait(std::chrono::microseconds wait);
  /// A line that is not about one request (start, stop, warnings).
  void note(std::string_view line);

  Stats stats() const;

  /// The target as logged: at most `kMaxTarget` bytes, cut between escapes and whole
  /// characters, then "...".
  static std::string target(std::string_view path, const Query& query);
  static constexpr std::size_t kMaxTarget = 512;

 private:
  void writeLine(const std::string& line);

  std::FILE* out_;
  bool ownsFile_;
  int fd_ = -1;
  std::atomic<std::uint64_t> requests_{0};
  std::atomic<std::uint64_t> slowRequests_{0};
  std::atomic<std::int64_t> longestHandling_{0};
  std::atomic<std::int64_t> longestWait_{0};
};

}  // namespace tovik::server
