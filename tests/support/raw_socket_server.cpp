#include "support/raw_socket_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>

namespace tovik::test {

namespace {

constexpr std::size_t kChunk = 64 * 1024;

// The value of Content-Length in an HTTP request head, 0 when absent.
std::size_t contentLength(const std::string& head) {
  std::string lower(head);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  const auto at = lower.find("\r\ncontent-length:");
  return at == std::string::npos ? 0 : std::strtoul(lower.c_str() + at + 17, nullptr, 10);
}

}  // namespace

RawSocketServer::RawSocketServer(RawScript script) : script_(std::move(script)) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  wake_ = ::eventfd(0, EFD_CLOEXEC);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  if (listener_ < 0 || wake_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(listener_, SOMAXCONN) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    stop();
    throw std::runtime_error("RawSocketServer: cannot listen on 127.0.0.1");
  }
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { acceptLoop(); });
}

RawSocketServer::~RawSocketServer() { stop(); }

std::string RawSocketServer::baseURL() const { return "http://127.0.0.1:" + std::to_string(port_); }

std::string RawSocketServer::received() const {
  std::lock_guard lock(mutex_);
  return received_;
}

std::string RawSocketServer::httpAnswer(int status, const std::string& body, const std::string& extraHeaders) {
  return "HTTP/1.1 " + std::to_string(status) + " Fault\r\nContent-Type: application/json\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n" + extraHeaders + "\r\n" + body;
}

void RawSocketServer::stop() {
  if (stopping_.exchange(true)) {
    return;
  }
  if (wake_ >= 0) {
    const std::uint64_t one = 1;
    (void)!::write(wake_, &one, sizeof(one));
  }
  if (acceptor_.joinable()) {
    acceptor_.join();
  }
  std::vector<std::thread> workers;
  {
    std::lock_guard lock(mutex_);
    workers.swap(workers_);
  }
  for (auto& worker : workers) {
    worker.join();
  }
  for (int fd : {listener_, wake_}) {
    if (fd >= 0) {
      ::close(fd);
    }
  }
}

bool RawSocketServer::waitReadable(int fd) const {
  pollfd fds[2] = {{wake_, POLLIN, 0}, {fd, POLLIN, 0}};
  while (::poll(fds, fd < 0 ? 1 : 2, -1) < 0) {
    if (errno != EINTR) {
      return false;
    }
  }
  return fds[0].revents == 0;
}

void RawSocketServer::acceptLoop() {
  while (waitReadable(listener_)) {
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      continue;
    }
    ++connections_;
    std::lock_guard lock(mutex_);
    workers_.emplace_back([this, fd] { serve(fd); });
  }
}

void RawSocketServer::serve(int fd) {
  std::string request;
  const auto readMore = [&] {
    char buffer[4096];
    if (!waitReadable(fd)) {
      return false;
    }
    const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
    if (n <= 0) {
      return false;
    }
    request.append(buffer, static_cast<std::size_t>(n));
    std::lock_guard lock(mutex_);
    received_.append(buffer, static_cast<std::size_t>(n));
    return true;
  };
  bool open = true;
  if (script_.read == RawScript::Read::anything) {
    open = readMore();
  } else if (script_.read == RawScript::Read::request) {
    std::size_t headEnd = std::string::npos;
    while (open && (headEnd = request.find("\r\n\r\n")) == std::string::npos) {
      open = readMore();
    }
    while (open && request.size() < headEnd + 4 + contentLength(request.substr(0, headEnd + 2))) {
      open = readMore();
    }
  }

  // Sends unless the client has gone or the server stops; false then.
  const auto sendAll = [&](const char* data, std::size_t size) {
    while (size > 0) {
      pollfd fds[2] = {{wake_, POLLIN, 0}, {fd, POLLOUT, 0}};
      if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
        return false;
      }
      if (fds[0].revents != 0) {
        return false;
      }
      const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0 && errno != EAGAIN && errno != EINTR) {
        return false;
      }
      if (n > 0) {
        data += n;
        size -= static_cast<std::size_t>(n);
      }
    }
    return true;
  };
  if (open && script_.reply) {
    const std::string reply = script_.reply(request);
    open = sendAll(reply.data(), reply.size());
  }
  const std::string filler(kChunk, ' ');
  for (std::size_t left = script_.fillerBytes; open && left > 0;) {
    const std::size_t n = std::min(left, filler.size());
    open = sendAll(filler.data(), n);
    left -= n;
  }

  if (script_.ending == RawScript::Ending::hang) {
    (void)waitReadable(-1);
  } else if (script_.ending == RawScript::Ending::reset) {
    const linger abortive{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof(abortive));
  }
  ::close(fd);
}

}  // namespace tovik::test
