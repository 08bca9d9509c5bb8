#include "tovik/platform/nmea_replay_provider.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <optional>
#include <system_error>
#include <utility>

#include "tovik/platform/nmea_epoch_assembler.h"
#include "tovik/platform/nmea_parser.h"

namespace tovik {

namespace {

constexpr const char* kErrorDomain = "NmeaReplayProvider";

// An open file descriptor, closed on scope exit.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

Error fileError(const std::string& what, const std::string& path, int error) {
  return Error(kErrorDomain, error,
               what + " NMEA log \"" + path + "\": " + std::generic_category().message(error));
}

}  // namespace

NmeaReplayProvider::NmeaReplayProvider(std::string path, double speedFactor)
    : path_(std::move(path)), speedFactor_(speedFactor) {}

NmeaReplayProvider::~NmeaReplayProvider() { reader_.stop(); }

AuthorizationStatus NmeaReplayProvider::authorizationStatus() const {
  return AuthorizationStatus::authorizedAlways;
}

std::size_t NmeaReplayProvider::skippedLines() const { return skipped_.load(); }

bool NmeaReplayProvider::reachedEnd() const { return reachedEnd_; }

void NmeaReplayProvider::startUpdates() {
  reader_.stop();
  reachedEnd_ = false;
  skipped_ = 0;
  reader_.start([this] { replay(); });
}

void NmeaReplayProvider::stopUpdates() { reader_.stop(); }

void NmeaReplayProvider::postError(Error error) {
  reader_.post([this, error = std::move(error)] { fail(error); });
}

// The reader thread: parse, assemble, pace, post.
void NmeaReplayProvider::replay() {
  // Non-blocking open, so that a FIFO without a writer cannot hang the reader.
  const FileDescriptor file(::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (file.get() < 0) {
    postError(fileError("cannot open", path_, errno));
    return;
  }
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) {
    postError(fileError("cannot read", path_, errno));
    return;
  }
  if (!S_ISREG(info.st_mode)) {
    postError(fileError("cannot read", path_, S_ISDIR(info.st_mode) ? EISDIR : EINVAL));
    return;
  }

  const bool paced = speedFactor_ > 0.0 && std::isfinite(speedFactor_);
  NmeaEpochAssembler assembler;
  std::optional<std::chrono::system_clock::time_point> lastStamp;
  auto due = std::chrono::steady_clock::now();

  // Returns false when the replay was stopped while waiting.
  const auto emit = [&](const Location& fix) {
    if (paced && lastStamp && fix.timestamp > *lastStamp) {
      due += std::chrono::duration_cast<std::chrono::steady_clock::duration>(
          std::chrono::duration<double>(fix.timestamp - *lastStamp) / speedFactor_);
      if (!reader_.waitUntil(due)) return false;
    } else if (paced) {
      due = std::max(due, std::chrono::steady_clock::now());
    }
    lastStamp = fix.timestamp;
    reader_.post([this, fix] { deliver(fix); });
    return true;
  };

  std::string line;
  bool overlong = false;
  const auto endLine = [&] {
    if (overlong) {
      ++skipped_;
    } else {
      const auto result = NmeaParser::parseLine(line);
      if (result.sentence) {
        if (const auto fix = assembler.add(*result.sentence)) {
          if (!emit(*fix)) return false;
        }
      } else if (result.failure != NmeaParser::Failure::blank) {
        ++skipped_;
      }
    }
    line.clear();
    overlong = false;
    return true;
  };

  char buffer[4096];
  while (!reader_.stopping()) {
    const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      postError(fileError("cannot read", path_, errno));
      return;
    }
    if (got == 0) {
      if (!line.empty() || overlong) {
        if (!endLine()) return;
      }
      if (const auto fix = assembler.finish()) {
        if (!emit(*fix)) return;
      }
      reader_.post([this] { reachedEnd_ = true; });
      return;
    }
    for (ssize_t i = 0; i < got; ++i) {
      const char c = buffer[i];
      if (c == '\n') {
        if (!endLine()) return;
      } else if (overlong) {
        continue;  // the rest of a line too long to be a sentence
      } else if (line.size() > NmeaParser::kMaxLineLength) {
        overlong = true;
        line.clear();
      } else {
        line += c;
      }
    }
  }
}

}  // namespace tovik
