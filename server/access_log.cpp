#include "server/access_log.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <stdexcept>

namespace tovik::server {

namespace {

/// Appends `text` in units (one escape, or one whole UTF-8 character) while the whole
/// stays within `limit` bytes; false when a unit did not fit.
bool appendEscaped(std::string& out, std::string_view text, std::size_t limit = std::string::npos) {
  const auto fits = [&](std::size_t size) { return limit == std::string::npos || out.size() + size <= limit; };
  const auto escape = [&](unsigned char byte) {
    if (!fits(4)) {
      return false;
    }
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\x%02X", byte);
    out += buf;
    return true;
  };
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      if (byte < 0x20 || byte == 0x7F || byte == '"' || byte == '\\') {
        if (!escape(byte)) return false;
      } else {
        if (!fits(1)) return false;
        out += static_cast<char>(byte);
      }
      ++i;
      continue;
    }
    // A whole, shortest-form UTF-8 character outside the C1 controls passes as it is;
    // any other byte at or above 0x80 is escaped alone.
    std::size_t length = byte >= 0xC2 && byte <= 0xDF ? 2 : byte >= 0xE0 && byte <= 0xEF ? 3 : byte >= 0xF0 && byte <= 0xF4 ? 4 : 0;
    if (length != 0 && i + length <= text.size()) {
      for (std::size_t k = 1; k < length; ++k) {
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
          length = 0;
          break;
        }
      }
    } else {
      length = 0;
    }
    if (length != 0) {
      const auto second = static_cast<unsigned char>(text[i + 1]);
      if ((byte == 0xC2 && second < 0xA0) || (byte == 0xE0 && second < 0xA0) || (byte == 0xED && second >= 0xA0) ||
          (byte == 0xF0 && second < 0x90) || (byte == 0xF4 && second >= 0x90)) {
        length = 0;  // a C1 control, an overlong form, a surrogate or past U+10FFFF
      }
    }
    if (length == 0) {
      if (!escape(byte)) return false;
      ++i;
      continue;
    }
    if (!fits(length)) return false;
    out.append(text.substr(i, length));
    i += length;
  }
  return true;
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

namespace {

/// The key's item, and any whose name is the key's with white space around it (which a
/// client may mean as the key even though the key check does not read it).
bool isKeyName(std::string_view name) {
  const auto first = name.find_first_not_of(" \t\r\n\v\f");
  const auto last = name.find_last_not_of(" \t\r\n\v\f");
  return first != std::string_view::npos && name.substr(first, last - first + 1) == "access_key";
}

}  // namespace

std::string AccessLog::target(std::string_view path, const Query& query) {
  std::string out;
  bool whole = appendEscaped(out, path, kMaxTarget);
  char separator = '?';
  for (auto it = query.begin(); whole && it != query.end(); ++it) {
    whole = appendEscaped(out, std::string_view(&separator, 1), kMaxTarget) &&
            appendEscaped(out, it->first, kMaxTarget) && appendEscaped(out, "=", kMaxTarget) &&
            appendEscaped(out, isKeyName(it->first) ? std::string_view("[redacted]") : std::string_view(it->second),
                          kMaxTarget);
    separator = '&';
  }
  if (!whole) {
    out += "...";
  }
  return out;
}

void AccessLog::write(std::string_view remote, std::string_view method, std::string_view path, const Query& query,
                      int status, std::size_t bytes, std::chrono::microseconds handling) {
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
  line += target(path, query);
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
