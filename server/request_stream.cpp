#include "server/request_stream.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tovik::server {

namespace {

constexpr std::size_t kReadChunk = 16 * 1024;

thread_local bool tlHeadRefused = false;

/// Milliseconds from now to `deadline`, at least 0, for poll().
int millisecondsUntil(RequestStream::Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - RequestStream::Clock::now());
  return static_cast<int>(std::clamp<long long>(left.count(), 0, 24 * 3600 * 1000));
}

void addressOf(const sockaddr_storage& address, std::string& ip, int& port) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET) {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
    ::inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    port = ntohs(v4.sin_port);
  } else if (address.ss_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
    ::inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
    port = ntohs(v6.sin6_port);
  }
  ip = text;
}

}  // namespace

RequestStream::RequestStream(int socket, std::chrono::milliseconds writeTimeout, std::size_t maxHead,
                             std::size_t maxLines, std::string received)
    : socket_(socket),
      writeTimeout_(writeTimeout),
      maxHead_(maxHead),
      maxLines_(maxLines),
      buffer_(received.begin(), received.end()),
      end_(received.size()) {
  buffer_.resize(std::max(buffer_.size(), kReadChunk));
}

std::string RequestStream::takePending() {
  std::string bytes(pending());
  start_ = end_ = 0;
  return bytes;
}

bool RequestStream::readAvailable() {
  if (start_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + start_, end_ - start_);
    end_ -= start_;
    start_ = 0;
  }
  if (buffer_.size() - end_ < kReadChunk) {
    buffer_.resize(end_ + kReadChunk);
  }
  const auto got = ::recv(socket_, buffer_.data() + end_, buffer_.size() - end_, MSG_DONTWAIT);
  if (got > 0) {
    end_ += static_cast<std::size_t>(got);
  }
  return got > 0 || (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR));
}

bool RequestStream::headRefused() { return tlHeadRefused; }

void RequestStream::begin(Clock::time_point deadline) {
  deadline_ = deadline;
  inHead_ = true;
  headBytes_ = headLines_ = lineLength_ = 0;
  headTooLarge_ = false;
  tlHeadRefused = false;
  written_ = 0;
}

bool RequestStream::is_readable() const {
  if (buffered()) {
    return true;
  }
  pollfd ready{socket_, POLLIN, 0};
  return ::poll(&ready, 1, millisecondsUntil(deadline_)) > 0;
}

bool RequestStream::is_writable() const {
  pollfd ready{socket_, POLLOUT, 0};
  return ::poll(&ready, 1, static_cast<int>(writeTimeout_.count())) > 0;
}

bool RequestStream::fill() {
  start_ = end_ = 0;
  while (true) {
    const auto got = ::recv(socket_, buffer_.data(), buffer_.size(), MSG_DONTWAIT);
    if (got > 0) {
      end_ = static_cast<std::size_t>(got);
      return true;
    }
    if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      failed_ = true;
      return false;
    }
    pollfd ready{socket_, POLLIN, 0};
    const int left = millisecondsUntil(deadline_);
    // The deadline covers the whole request: a client that sends a byte now and then
    // does not keep the connection (and its worker) past it.
    if (left == 0 || ::poll(&ready, 1, left) == 0) {
      failed_ = true;
      return false;
    }
  }
}

bool RequestStream::countHead(const char* data, std::size_t count) {
  for (std::size_t k = 0; k < count && inHead_; ++k) {
    ++headBytes_;
    if (data[k] == '\n') {
      if (lineLength_ == 0 && headLines_ > 0) {
        inHead_ = false;  // the blank line that ends the head
        break;
      }
      ++headLines_;
      lineLength_ = 0;
    } else if (data[k] != '\r') {
      ++lineLength_;
    }
    if (headBytes_ > maxHead_ || headLines_ > maxLines_) {
      headTooLarge_ = true;
      tlHeadRefused = true;
      failed_ = true;
      return false;
    }
  }
  return true;
}

ssize_t RequestStream::read(char* ptr, size_t size) {
  if (failed_ && headTooLarge_) {
    return -1;
  }
  if (!buffered() && !fill()) {
    return -1;
  }
  const std::size_t count = std::min(size, end_ - start_);
  if (!countHead(buffer_.data() + start_, count)) {
    return -1;
  }
  std::memcpy(ptr, buffer_.data() + start_, count);
  start_ += count;
  return static_cast<ssize_t>(count);
}

ssize_t RequestStream::write(const char* ptr, size_t size) {
  std::size_t done = 0;
  const auto deadline = Clock::now() + writeTimeout_;
  while (done < size) {
    const auto sent = ::send(socket_, ptr + done, size - done, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent > 0) {
      done += static_cast<std::size_t>(sent);
      continue;
    }
    if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      failed_ = true;
      return -1;
    }
    pollfd ready{socket_, POLLOUT, 0};
    const int left = millisecondsUntil(deadline);
    if (left == 0 || ::poll(&ready, 1, left) == 0) {
      failed_ = true;
      return -1;
    }
  }
  written_ += done;
  return static_cast<ssize_t>(done);
}

void RequestStream::get_remote_ip_and_port(std::string& ip, int& port) const {
  addressOnce(remote_, ::getpeername, ip, port);
}

void RequestStream::get_local_ip_and_port(std::string& ip, int& port) const {
  addressOnce(local_, ::getsockname, ip, port);
}

void RequestStream::addressOnce(Address& known, int (*ask)(int, sockaddr*, socklen_t*), std::string& ip,
                                int& port) const {
  // Asked for every request; neither end of a connection changes.
  if (known.port < 0) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    known.port = 0;
    if (ask(socket_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      addressOf(address, known.ip, known.port);
    }
  }
  ip = known.ip;
  port = known.port;
}

}  // namespace tovik::server
