#include "tovik/providers/nmea_replay_provider.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <optional>
#include <utility>

#include "tovik/providers/nmea_epoch_assembler.h"
#include "tovik/providers/nmea_parser.h"

namespace tovik {

namespace {

// However slow the replay, one step of the log waits at most this long.
constexpr std::chrono::duration<double> kLongestStep = std::chrono::hours(24);

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

enum class FileStep { open, read };

Error fileError(FileStep step, const std::string& path, int error) {
  const char* what = step == FileStep::open ? "无法打开" : "无法读取";
  return Error(kErrorDomain, error, std::string(what) + " NMEA 记录文件“" + path + "”：" + systemErrorText(error));
}

}  // namespace

NmeaReplayProvider::NmeaReplayProvider(std::string path, double speedFactor)
    : path_(std::move(path)), speedFactor_(speedFactor) {
  identify("nmea-replay", true);
}

NmeaReplayProvider::~NmeaReplayProvider() { reader_.stop(); }

AuthorizationStatus NmeaReplayProvider::authorizationStatus() const {
  return AuthorizationStatus::authorizedAlways;
}

std::size_t NmeaReplayProvider::skippedLines() const { return skipped_->load(); }

bool NmeaReplayProvider::reachedEnd() const { return reachedEnd_; }

void NmeaReplayProvider::startUpdates() {
  reader_.stop();
  reachedEnd_ = false;
  skipped_ = std::make_shared<std::atomic<std::size_t>>(0);
  const bool started = reader_.start(
      [path = path_, speedFactor = speedFactor_, skipped = skipped_, owner = this](const ProviderReader::Run& run) {
        replay(run, path, speedFactor, skipped, owner);
      });
  if (!started) {
    noteFailure(fileError(FileStep::read, path_, EAGAIN));
  }
}

void NmeaReplayProvider::stopUpdates() { reader_.stop(); }

// The reader thread: parse, assemble, pace, post. `owner` is reached only in posted work.
void NmeaReplayProvider::replay(const ProviderReader::Run& run, const std::string& path, double speedFactor,
                                const std::shared_ptr<std::atomic<std::size_t>>& skipped,
                                NmeaReplayProvider* owner) {
  const auto postError = [&](Error error) {
    run.post([owner, error = std::move(error)] { owner->enterFailure(error); });
  };
  // Non-blocking open, so that a FIFO without a writer cannot hang the reader.
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (file.get() < 0) {
    postError(fileError(FileStep::open, path, errno));
    return;
  }
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) {
    postError(fileError(FileStep::read, path, errno));
    return;
  }
  if (!S_ISREG(info.st_mode)) {
    postError(fileError(FileStep::read, path, S_ISDIR(info.st_mode) ? EISDIR : EINVAL));
    return;
  }

  const bool paced = speedFactor > 0.0 && std::isfinite(speedFactor);
  NmeaEpochAssembler assembler;
  std::optional<std::chrono::system_clock::time_point> lastStamp;
  auto due = std::chrono::steady_clock::now();

  // Returns false when the replay was stopped while waiting.
  const auto emit = [&](const Location& fix) {
    if (paced && lastStamp && fix.timestamp > *lastStamp) {
      // Bounded before it becomes a clock duration: a tiny speed factor would overflow it.
      const double seconds = std::chrono::duration<double>(fix.timestamp - *lastStamp).count() / speedFactor;
      due += std::chrono::duration_cast<std::chrono::steady_clock::duration>(
          std::chrono::duration<double>(std::min(seconds, kLongestStep.count())));
      if (!run.waitUntil(due)) return false;
    } else if (paced) {
      due = std::max(due, std::chrono::steady_clock::now());
    }
    lastStamp = fix.timestamp;
    run.post([owner, fix] { owner->deliver(fix); });
    return true;
  };

  std::string line;
  bool overlong = false;
  const auto endLine = [&] {
    if (overlong) {
      ++*skipped;
    } else {
      const auto result = NmeaParser::parseLine(line);
      if (result.sentence) {
        if (const auto fix = assembler.add(*result.sentence)) {
          if (!emit(*fix)) return false;
        }
      } else if (result.failure != NmeaParser::Failure::blank) {
        ++*skipped;
      }
    }
    line.clear();
    overlong = false;
    return true;
  };

  char buffer[4096];
  while (!run.stopping()) {
    const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      postError(fileError(FileStep::read, path, errno));
      return;
    }
    if (got == 0) {
      if (!line.empty() || overlong) {
        if (!endLine()) return;
      }
      if (const auto fix = assembler.finish()) {
        if (!emit(*fix)) return;
      }
      run.post([owner] { owner->reachedEnd_ = true; });
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
