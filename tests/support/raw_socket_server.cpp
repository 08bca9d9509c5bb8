#include "support/raw_socket_server.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <utility>

namespace tovik::test {

namespace {

// Whether `received` holds a whole HTTP request: the head, then the body its Content-Length
// announces.
bool isWholeRequest(const std::string& received) {
  std::string head = received.substr(0, received.find("\r\n\r\n"));
  std::transform(head.begin(), head.end(), head.begin(), [](unsigned char c) { return std::tolower(c); });
  const auto at = head.find("\r\ncontent-length:");
  const std::size_t length = at == std::string::npos ? 0 : std::strtoul(head.c_str() + at + 17, nullptr, 10);
  return head.size() < received.size() && received.size() >= head.size() + 4 + length;
}

// Sends all of `data`; false once the client has gone or the server shut the socket down.
bool sendAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n <= 0) {
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// cpp-httplib's accept loop, with the script in place of its HTTP handling.
class ScriptedServer : public httplib::Server {
 public:
  explicit ScriptedServer(std::function<void(int)> serve) : serve_(std::move(serve)) {
    set_read_timeout(3600);  // the script waits for its client, or the server's stop
    set_write_timeout(3600);
  }

 private:
  bool process_and_close_socket(socket_t sock) override {
    serve_(sock);
    return true;
  }

  std::function<void(int)> serve_;
};

}  // namespace

RawSocketServer::RawSocketServer(RawScript script) : script_(std::move(script)) {
  start(std::make_unique<ScriptedServer>([this](int fd) { serve(fd); }), 8);
}

std::string RawSocketServer::httpAnswer(int status, const std::string& body, const std::string& extraHeaders) {
  return "HTTP/1.1 " + std::to_string(status) +
         " Fault\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
         extraHeaders + "\r\n" + body;
}

void RawSocketServer::serve(int fd) {
  std::string request;
  const auto readMore = [&] {
    char buffer[4096];
    const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
    if (n <= 0) {
      return false;
    }
    request.append(buffer, static_cast<std::size_t>(n));
    std::lock_guard lock(mutex_);
    received_.append(buffer, static_cast<std::size_t>(n));
    return true;
  };
  bool open = script_.read == RawScript::Read::nothing || readMore();
  while (open && script_.read == RawScript::Read::request && !isWholeRequest(request)) {
    open = readMore();
  }
  if (open && script_.reply) {
    const std::string reply = script_.reply(request);
    open = sendAll(fd, reply.data(), reply.size());
  }
  const std::string filler(64 * 1024, ' ');
  for (std::size_t left = script_.fillerBytes; open && left > 0;) {
    const std::size_t n = std::min(left, filler.size());
    open = sendAll(fd, filler.data(), n);
    left -= n;
  }
  if (open && script_.awaitNextRequest) {
    request.clear();
    do {
      open = readMore();
    } while (open && !isWholeRequest(request));
  }

  std::unique_lock lock(mutex_);
  if (script_.ending == RawScript::Ending::hang) {
    changed_.wait(lock, [this] { return stopping_; });
  } else if (script_.ending == RawScript::Ending::reset) {
    const linger abortive{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof(abortive));
  }
  ::close(fd);
}

}  // namespace tovik::test
