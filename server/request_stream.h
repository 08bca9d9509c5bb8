#pragma once

#include <sys/socket.h>
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include <httplib.h>

namespace tovik::server {

/// One connection's socket as the HTTP library reads and writes it, with the limits the
/// library does not keep: each request must arrive whole (head and body) by its deadline,
/// however slowly its bytes trickle in, and its head (request line and header lines) must
/// stay within `maxHead` bytes and `maxLines` lines. A read past either limit fails; the
/// thread then reports `headRefused()` until the next stream begins a request.
class RequestStream : public httplib::Stream {
 public:
  using Clock = std::chrono::steady_clock;

  /// `received`: bytes of the connection already read from the socket.
  RequestStream(int socket, std::chrono::milliseconds writeTimeout, std::size_t maxHead, std::size_t maxLines,
                std::string received = {});

  /// Starts the next request on the connection, due whole by `deadline`.
  void begin(Clock::time_point deadline);
  /// Bytes read from the socket but not yet taken (a pipelined next request).
  bool buffered() const { return start_ < end_; }
  /// The bytes read but not yet taken, and handing them over (to the waiting room).
  std::string_view pending() const { return {buffer_.data() + start_, end_ - start_}; }
  std::string takePending();
  /// Reads what the socket has now, without waiting, after the pending bytes; false when
  /// the peer has closed the connection or it failed.
  bool readAvailable();
  /// The last request went past a limit or its socket failed: close the connection.
  bool failed() const { return failed_; }
  bool headTooLarge() const { return headTooLarge_; }
  std::size_t written() const { return written_; }

  /// Whether the request being served on this thread had a head past the caps.
  static bool headRefused();

  bool is_readable() const override;
  bool is_writable() const override;
  ssize_t read(char* ptr, size_t size) override;
  ssize_t write(const char* ptr, size_t size) override;
  void get_remote_ip_and_port(std::string& ip, int& port) const override;
  void get_local_ip_and_port(std::string& ip, int& port) const override;
  socket_t socket() const override { return socket_; }

 private:
  /// Waits for bytes until the deadline and reads what there is.
  bool fill();
  /// Counts the head's bytes and lines among `count` bytes handed out; false past a cap.
  bool countHead(const char* data, std::size_t count);
  struct Address {
    std::string ip;
    int port = -1;  // not asked yet
  };
  /// One end's address, asked of the socket (`getpeername` or `getsockname`) only once.
  void addressOnce(Address& known, int (*ask)(int, sockaddr*, socklen_t*), std::string& ip, int& port) const;

  int socket_;
  std::chrono::milliseconds writeTimeout_;
  std::size_t maxHead_;
  std::size_t maxLines_;
  Clock::time_point deadline_{};
  /// Bytes [start_, end_) of `buffer_` are read and not yet taken; the buffer keeps its
  /// size, so that no read pays for clearing it.
  std::vector<char> buffer_;
  std::size_t start_ = 0;
  std::size_t end_ = 0;
  bool inHead_ = true;
  std::size_t headBytes_ = 0;
  std::size_t headLines_ = 0;
  std::size_t lineLength_ = 0;
  bool failed_ = false;
  bool headTooLarge_ = false;
  std::size_t written_ = 0;
  mutable Address remote_;
  mutable Address local_;
};

}  // namespace tovik::server
