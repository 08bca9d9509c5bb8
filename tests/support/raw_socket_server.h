#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tovik::test {

/// What a `RawSocketServer` does on each connection it accepts, in this order: read, send
/// `reply(what was read)`, send `fillerBytes` of filler, then end the connection.
struct RawScript {
  enum class Read {
    request,   ///< a whole HTTP request: head, then the body its Content-Length announces
    anything,  ///< whatever the first read brings (a TLS client's hello, say)
    nothing,   ///< do not wait for the client
  };
  enum class Ending {
    close,  ///< orderly close (FIN)
    reset,  ///< abortive close (RST, through SO_LINGER 0)
    hang,   ///< keep the connection open, silent, until the server stops
  };

  Read read = Read::request;
  /// The bytes to send, given what the client sent.
  std::function<std::string(const std::string& received)> reply;
  /// Spaces sent after the reply, in chunks, until done or the client goes away.
  std::size_t fillerBytes = 0;
  Ending ending = Ending::close;
};

/// A TCP server on 127.0.0.1 (ephemeral port) that plays one `RawScript` per connection:
/// for the faults a well-behaved HTTP server never makes (a reset mid-body, an HTTP/1.0
/// answer ended by closing, a huge body, silence). Each connection is served on its own
/// thread; stopping ends every connection, hanging ones included.
class RawSocketServer {
 public:
  explicit RawSocketServer(RawScript script);
  ~RawSocketServer();
  RawSocketServer(const RawSocketServer&) = delete;
  RawSocketServer& operator=(const RawSocketServer&) = delete;

  int port() const { return port_; }
  /// "http://127.0.0.1:PORT".
  std::string baseURL() const;

  std::size_t connectionCount() const { return connections_.load(); }
  /// Everything received so far, over all connections.
  std::string received() const;

  /// An HTTP/1.1 answer with Content-Length.
  static std::string httpAnswer(int status, const std::string& body, const std::string& extraHeaders = "");

  void stop();

 private:
  void acceptLoop();
  void serve(int fd);
  /// Waits until `fd` is readable (or the server stops); false when stopping.
  bool waitReadable(int fd) const;

  RawScript script_;
  int listener_ = -1;
  int wake_ = -1;  // eventfd, readable once the server stops
  int port_ = -1;
  std::atomic<bool> stopping_{false};
  std::atomic<std::size_t> connections_{0};
  std::thread acceptor_;

  mutable std::mutex mutex_;
  std::vector<std::thread> workers_;
  std::string received_;
};

}  // namespace tovik::test
