#include "tovik/platform/nmea_replay_provider.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "tovik/platform/main_queue.h"
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

struct NmeaReplayProvider::Impl {
  Impl(std::string path, double speedFactor) : path(std::move(path)), speedFactor(speedFactor) {}

  const std::string path;
  const double speedFactor;

  // Main thread only.
  NmeaReplayProvider* owner = nullptr;  // cleared when the provider goes away
  unsigned run = 0;                     // posts of older runs are dropped
  bool reachedEnd = false;
  std::thread reader;

  // Shared with the reader.
  std::mutex mutex;
  std::condition_variable wake;
  bool stopRequested = false;
  std::atomic<std::size_t> skipped{0};

  void start(const std::shared_ptr<Impl>& self) {
    stop();
    reachedEnd = false;
    skipped = 0;
    {
      const std::lock_guard lock(mutex);
      stopRequested = false;
    }
    const unsigned thisRun = ++run;
    reader = std::thread([this, weak = std::weak_ptr<Impl>(self), thisRun] { read(weak, thisRun); });
  }

  void stop() {
    ++run;
    {
      const std::lock_guard lock(mutex);
      stopRequested = true;
    }
    wake.notify_all();
    if (reader.joinable()) {
      reader.join();
    }
  }

  bool stopping() {
    const std::lock_guard lock(mutex);
    return stopRequested;
  }

  // Sleeps until `until` or a stop; returns false on a stop.
  bool waitUntil(std::chrono::steady_clock::time_point until) {
    std::unique_lock lock(mutex);
    return !wake.wait_until(lock, until, [this] { return stopRequested; });
  }

  // What the reader sends runs on the main thread, and only while the run is current.
  template <class Work>
  static void post(const std::weak_ptr<Impl>& weak, unsigned run, Work work) {
    MainQueue::shared().async([weak, run, work = std::move(work)] {
      const auto impl = weak.lock();
      if (impl && impl->owner && impl->run == run) {
        work(*impl);
      }
    });
  }

  static void postError(const std::weak_ptr<Impl>& weak, unsigned run, Error error) {
    post(weak, run, [error = std::move(error)](Impl& impl) { impl.owner->fail(error); });
  }

  // The reader thread: parse, assemble, pace, post.
  void read(const std::weak_ptr<Impl>& weak, unsigned run) {
    // Non-blocking open, so that a FIFO without a writer cannot hang the reader.
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0) {
      postError(weak, run, fileError("cannot open", path, errno));
      return;
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) {
      postError(weak, run, fileError("cannot read", path, errno));
      return;
    }
    if (!S_ISREG(info.st_mode)) {
      postError(weak, run, fileError("cannot read", path, S_ISDIR(info.st_mode) ? EISDIR : EINVAL));
      return;
    }

    const bool paced = speedFactor > 0.0 && std::isfinite(speedFactor);
    NmeaEpochAssembler assembler;
    std::optional<std::chrono::system_clock::time_point> lastStamp;
    auto due = std::chrono::steady_clock::now();

    // Returns false when the replay was stopped while waiting.
    const auto emit = [&](const Location& fix) {
      if (paced && lastStamp && fix.timestamp > *lastStamp) {
        due += std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(fix.timestamp - *lastStamp) / speedFactor);
        if (!waitUntil(due)) return false;
      } else if (paced) {
        due = std::max(due, std::chrono::steady_clock::now());
      }
      lastStamp = fix.timestamp;
      post(weak, run, [fix](Impl& impl) { impl.owner->deliver(fix); });
      return true;
    };

    std::string line;
    bool overlong = false;
    const auto endLine = [&] {
      if (overlong) {
        ++skipped;
      } else {
        const auto result = NmeaParser::parseLine(line);
        if (result.sentence) {
          if (const auto fix = assembler.add(*result.sentence)) {
            if (!emit(*fix)) return false;
          }
        } else if (result.failure != NmeaParser::Failure::blank) {
          ++skipped;
        }
      }
      line.clear();
      overlong = false;
      return true;
    };

    char buffer[4096];
    while (!stopping()) {
      const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
      if (got < 0) {
        if (errno == EINTR) continue;
        postError(weak, run, fileError("cannot read", path, errno));
        return;
      }
      if (got == 0) {
        if (!line.empty() || overlong) {
          if (!endLine()) return;
        }
        if (const auto fix = assembler.finish()) {
          if (!emit(*fix)) return;
        }
        post(weak, run, [](Impl& impl) { impl.reachedEnd = true; });
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
};

NmeaReplayProvider::NmeaReplayProvider(std::string path, double speedFactor)
    : impl_(std::make_shared<Impl>(std::move(path), speedFactor)) {
  impl_->owner = this;
}

NmeaReplayProvider::~NmeaReplayProvider() {
  impl_->owner = nullptr;
  impl_->stop();
}

AuthorizationStatus NmeaReplayProvider::authorizationStatus() const {
  return AuthorizationStatus::authorizedAlways;
}

std::size_t NmeaReplayProvider::skippedLines() const { return impl_->skipped.load(); }

bool NmeaReplayProvider::reachedEnd() const { return impl_->reachedEnd; }

void NmeaReplayProvider::startUpdates() { impl_->start(impl_); }

void NmeaReplayProvider::stopUpdates() { impl_->stop(); }

}  // namespace tovik
