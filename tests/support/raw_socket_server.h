#pragma once

#include "support/test_server.h"  // LoopbackServer, and the standard headers both servers use

namespace tovik::test {

/// What a `RawSocketServer` does on each connection it accepts, in this order: read, send
/// `reply(what was read)`, send `fillerBytes` of filler, maybe read the next request, then
/// end the connection.
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
  /// Reads one more whole request before the ending: a kept-alive connection that dies once
  /// its second request has arrived.
  bool awaitNextRequest = false;
  Ending ending = Ending::close;
};

/// A TCP server on 127.0.0.1 (ephemeral port) that plays one `RawScript` per connection:
/// for the faults a well-behaved HTTP server never makes (a reset mid-body, an HTTP/1.0
/// answer ended by closing, a huge body, silence). Up to eight connections are served at once,
/// each on a worker of its own; stopping ends every connection, hanging ones included.
class RawSocketServer : public LoopbackServer {
 public:
  explicit RawSocketServer(RawScript script);
  ~RawSocketServer() { stop(); }  // before the members its workers use go

  /// Everything received so far, over all connections.
  std::string received() const {
    std::lock_guard lock(mutex_);
    return received_;
  }

  /// An HTTP/1.1 answer with Content-Length.
  static std::string httpAnswer(int status, const std::string& body, const std::string& extraHeaders = "");

 private:
  void serve(int fd);

  RawScript script_;
  std::string received_;
};

}  // namespace tovik::test
