#include "server/access_log.h"

#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <stdexcept>

namespace tovik::server {

namespace {

constexpr std::size_t kMaxTarget = 512;

int hexValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

/// A query item name as the server decodes it ('+' is a space, %XX a byte).
std::string decodeName(std::string_view name) {
  std::string out;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name[i] == '+') {
      out += ' ';
    } else if (name[i] == '%' && i + 2 < name.size() && hexValue(name[i + 1]) >= 0 && hexValue(name[i + 2]) >= 0) {
      out += static_cast<char>(hexValue(name[i + 1]) * 16 + hexValue(name[i + 2]));
      i += 2;
    } else {
      out += name[i];
    }
  }
  return out;
}

void appendEscaped(std::string& out, std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || c == '"' || c == '\\') {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", byte);
      out += buf;
    } else {
      out += c;
    }
  }
}

}  // namespace

namespace {

void raiseTo(std::atomic<std::int64_t>& value, std::int64_t candidate) {
  std::int64_t current = value.load(std::memory_order_relaxed);
  while (candidate > current && !value.compare_exchange_weak(current, candidate, std::memory_order_relaxed)) {
  }
}

}  // namespace

AccessLog::AccessLog(std::FILE* out, bool ownsFile)
    : out_(out), ownsFile_(ownsFile), fd_(out != nullptr ? ::fileno(out) : -1) {}

std::shared_ptr<AccessLog> AccessLog::open(const std::string& path) {
  if (path == "-") {
    return std::make_shared<AccessLog>(stderr, false);
  }
  std::FILE* file = std::fopen(path.c_str(), "ae");
  if (file == nullptr) {
    throw std::runtime_error("cannot open the access log " + path);
  }
  return std::make_shared<AccessLog>(file, true);
}

AccessLog::~AccessLog() {
  if (ownsFile_ && out_ != nullptr) {
    std::fclose(out_);
  }
}

std::string AccessLog::redact(std::string_view target) {
  std::string out;
  const auto question = target.find('?');
  appendEscaped(out, target.substr(0, question));
  if (question != std::string_view::npos) {
    out += '?';
    std::string_view query = target.substr(question + 1);
    bool firstItem = true;
    while (true) {
      const auto amp = query.find('&');
      const std::string_view pair = query.substr(0, amp);
      const auto equals = pair.find('=');
      if (!firstItem) {
        out += '&';
      }
      firstItem = false;
      if (decodeName(pair.substr(0, equals)) == "access_key") {
        appendEscaped(out, pair.substr(0, equals));
        out += "=[redacted]";
      } else {
        appendEscaped(out, pair);
      }
      if (amp == std::string_view::npos) {
        break;
      }
      query.remove_prefix(amp + 1);
    }
  }
  if (out.size() > kMaxTarget) {
    out.resize(kMaxTarget);
    out += "...";
  }
  return out;
}

void AccessLog::write(std::string_view remote, std::string_view method, std::string_view target, int status,
                      std::size_t bytes, std::chrono::microseconds handling) {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(millis));
  std::string line = stamp;
  line += ' ';
  appendEscaped(line, remote);
  line += " \"";
  appendEscaped(line, method);
  line += ' ';
  line += redact(target);
  char tail[96];
  std::snprintf(tail, sizeof tail, "\" %d %zuB %.3fms", status, bytes, static_cast<double>(handling.count()) / 1000.0);
  line += tail;
  requests_.fetch_add(1, std::memory_order_relaxed);
  if (handling >= kSlow) {
    slowRequests_.fetch_add(1, std::memory_order_relaxed);
  }
  raiseTo(longestHandling_, handling.count());
  writeLine(line);
}

void AccessLog::recordWait(std::chrono::microseconds wait) { raiseTo(longestWait_, wait.count()); }

void AccessLog::note(std::string_view line) { writeLine(std::string(line)); }

AccessLog::Stats AccessLog::stats() const {
  Stats stats;
  stats.requests = requests_.load();
  stats.slowRequests = slowRequests_.load();
  stats.longestHandling = std::chrono::microseconds(longestHandling_.load());
  stats.longestWait = std::chrono::microseconds(longestWait_.load());
  return stats;
}

void AccessLog::writeLine(const std::string& line) {
  if (fd_ < 0) {
    return;
  }
  // One write per line: lines from different threads never interleave, and a line is in
  // the file (or on the terminal) as soon as the request is done.
  std::string text = line;
  text += '\n';
  std::size_t written = 0;
  while (written < text.size()) {
    const auto n = ::write(fd_, text.data() + written, text.size() - written);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) {
        continue;
      }
      return;  // a full disk or a closed terminal must not stop the service
    }
    written += static_cast<std::size_t>(n);
  }
}

}  // namespace tovik::server
