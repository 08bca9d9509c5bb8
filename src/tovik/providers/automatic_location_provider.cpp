#include "tovik/providers/automatic_location_provider.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <nlohmann/json.hpp>
#include <optional>
#include <utility>

#include "tovik/system/console.h"
#include "tovik/providers/provider_reader.h"
#include "tovik/providers/retry_backoff.h"

namespace tovik {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;


// A descriptor closed when it goes.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// What gpsd said when asked for its devices.
struct GpsdAnswer {
  bool answered = false;
  std::string device;  // the first device's path; empty when it has none
};

int millisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::max<long long>(left, 0));
}

// Waits for `events` on `fd` or a stop; false on a stop or the deadline.
bool waitFor(int fd, short events, int stopFd, Clock::time_point deadline) {
  std::array<pollfd, 2> fds{{{fd, events, 0}, {stopFd, POLLIN, 0}}};
  const int nfds = stopFd >= 0 ? 2 : 1;
  while (true) {
    const int ready = ::poll(fds.data(), nfds, millisecondsUntil(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0 || (nfds == 2 && (fds[1].revents & POLLIN) != 0)) return false;
    return (fds[0].revents & (events | POLLERR | POLLHUP)) != 0;
  }
}

int connectTo(const std::string& host, std::uint16_t port, int stopFd, Clock::time_point deadline) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return -1;
  const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> addresses(found, &::freeaddrinfo);
  for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0) return fd;
    int error = errno;
    if (error == EINPROGRESS && waitFor(fd, POLLOUT, stopFd, deadline)) {
      socklen_t size = sizeof error;
      if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0) return fd;
    }
    ::close(fd);
  }
  return -1;
}

// Asks gpsd for its devices (`?DEVICES;`) and reads its answer.
GpsdAnswer askGpsd(const std::string& host, std::uint16_t port, std::chrono::milliseconds timeout, int stopFd) {
  const auto deadline = Clock::now() + timeout;
  const Descriptor socket(connectTo(host, port, stopFd, deadline));
  if (socket.get() < 0) return {};
  static constexpr std::string_view kQuery = "?DEVICES;\n";
  if (::send(socket.get(), kQuery.data(), kQuery.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(kQuery.size())) {
    return {};
  }
  std::string buffer;
  while (waitFor(socket.get(), POLLIN, stopFd, deadline)) {
    std::array<char, 4096> chunk{};
    const ssize_t got = ::recv(socket.get(), chunk.data(), chunk.size(), 0);
    if (got <= 0) return {};
    buffer.append(chunk.data(), static_cast<std::size_t>(got));
    for (auto end = buffer.find('\n'); end != std::string::npos; end = buffer.find('\n')) {
      const auto report = nlohmann::json::parse(buffer.substr(0, end), nullptr, false);
      buffer.erase(0, end + 1);
      if (!report.is_object() || report.value("class", "") != "DEVICES") continue;
      GpsdAnswer answer{.answered = true, .device = {}};
      const auto devices = report.find("devices");
      if (devices != report.end() && devices->is_array() && !devices->empty()) {
        answer.device = devices->front().is_object() ? devices->front().value("path", "?") : "?";
      }
      return answer;
    }
    if (buffer.size() > 1 << 20) return {};
  }
  return {};
}

}  // namespace

struct AutomaticLocationProvider::Impl : std::enable_shared_from_this<Impl> {
  Impl(AutomaticLocationProvider& owner, Options options) : owner(owner), options(std::move(options)) {}

  // Passes the chosen provider's reports on.
  class Forwarder : public LocationProviderListener {
   public:
    explicit Forwarder(std::weak_ptr<Impl> impl) : impl_(std::move(impl)) {}
    void providerDidUpdateLocation(const Location& location) override {
      if (const auto impl = impl_.lock()) impl->owner.deliver(location);
    }
    void providerDidFail(const Error& error) override {
      const auto impl = impl_.lock();
      if (!impl) return;
      if (impl->inner && impl->inner->currentFailure()) {
        impl->owner.enterFailure(error);
      } else {
        impl->owner.fail(error);
      }
    }
    // The chosen source watches itself (its silence, or only its failures for GeoClue).
    void providerDidChangeAvailability(const LocationAvailability& availability) override {
      if (const auto impl = impl_.lock()) impl->owner.relayAvailability(availability);
    }
    UpdateRequirements requirements() const override {
      const auto impl = impl_.lock();
      return impl ? impl->owner.requirements() : UpdateRequirements{};
    }

   private:
    std::weak_ptr<Impl> impl_;
  };

  // The reader's finding, by value.
  struct Finding {
    Source source = Source::none;
    std::string why;  // for the log line
  };

  AutomaticLocationProvider& owner;
  const Options options;
  Source chosen = Source::none;  // the last choice; main thread only, as is everything below
  std::shared_ptr<LocationProvider> inner;
  std::shared_ptr<Forwarder> forwarder;
  ProviderReader reader;  // last, so that it is stopped before the rest goes

  void start() {
    stop();
    const std::string gpsd = ProviderReader::endpointText(options.gpsdHost, options.gpsdPort);
    const bool started = reader.start([weak = weak_from_this(), options = options, gpsd](const ProviderReader::Run& run) {
      probe(run, options, gpsd, weak);
    });
    if (!started) owner.noteFailure(noSourceError(gpsd, "无法启动探测线程"));
  }

  // The chosen provider is kept (stopped): its authorisation status outlives the session, and
  // the next start reuses it if the same source is chosen again.
  void stop() {
    reader.stop();
    if (inner) inner->removeListener(forwarder.get());
  }

  static Error noSourceError(const std::string& gpsd, const std::string& gpsdState) {
    return Error(kErrorDomain, kErrorNoSource,
                 "没有可用的定位来源：gpsd（" + gpsd + "）" + gpsdState +
                     "，系统总线上也没有 GeoClue2 定位服务。有 GNSS 接收器时请安装 gpsd 并接上接收器，"
                     "否则请安装 geoclue-2.0（桌面与笔记本的系统定位服务）");
  }

  // The reader thread: looks until a source is found, then hands it to the main thread.
  static void probe(const ProviderReader::Run& run, const Options& options, const std::string& gpsd,
                    const std::weak_ptr<Impl>& weak) {
    RetryBackoff backoff;
    bool failureReported = false;
    while (!run.stopping()) {
      const GpsdAnswer answer = askGpsd(options.gpsdHost, options.gpsdPort, options.probeTimeout, run.stopDescriptor());
      if (run.stopping()) return;
      Finding finding;
      const std::string gpsdState = !answer.answered ? "没有应答" : "没有报告接收器设备";
      if (!answer.device.empty()) {
        finding = {Source::gpsd, "gpsd（" + gpsd + "，设备 " + answer.device + "）"};
      } else if (GeoclueLocationProvider::isOnBus(options.geoclue.busAddress, options.probeTimeout)) {
        finding = {Source::geoclue, "GeoClue2（gpsd " + gpsd + " " + gpsdState + "）"};
      }
      if (finding.source != Source::none) {
        run.post([weak, finding] {
          if (const auto impl = weak.lock()) impl->choose(finding);
        });
        return;
      }
      if (!failureReported) {
        run.post([weak, error = noSourceError(gpsd, gpsdState)] {
          if (const auto impl = weak.lock()) impl->owner.enterFailure(error);
        });
        failureReported = true;
      }
      if (!run.waitFor(backoff.next())) return;
    }
  }

  void choose(const Finding& finding) {
    sdkLog({"定位来源：", finding.why}, "");
    if (!inner || chosen != finding.source) {
      if (finding.source == Source::gpsd) {
        inner = std::make_shared<GpsdLocationProvider>(options.gpsdHost, options.gpsdPort);
      } else {
        inner = std::make_shared<GeoclueLocationProvider>(options.geoclue);
      }
    }
    chosen = finding.source;
    if (!forwarder) forwarder = std::make_shared<Forwarder>(weak_from_this());
    owner.recovered();
    inner->addListener(forwarder);
  }
};

AutomaticLocationProvider::AutomaticLocationProvider(Options options)
    : impl_(std::make_shared<Impl>(*this, std::move(options))) {
  // Its own failures name it; its fixes and the chosen source's reports keep that source's name.
  identify("automatic", false);
  watchSilence(false);
}

AutomaticLocationProvider::AutomaticLocationProvider() : AutomaticLocationProvider(Options{}) {}

AutomaticLocationProvider::~AutomaticLocationProvider() { impl_->stop(); }

AutomaticLocationProvider::Source AutomaticLocationProvider::source() const { return impl_->chosen; }

AuthorizationStatus AutomaticLocationProvider::authorizationStatus() const {
  return impl_->inner ? impl_->inner->authorizationStatus() : AuthorizationStatus::notDetermined;
}

void AutomaticLocationProvider::startUpdates() { impl_->start(); }

void AutomaticLocationProvider::stopUpdates() { impl_->stop(); }

void AutomaticLocationProvider::applyRequirements(const UpdateRequirements&) {
  if (impl_->inner) impl_->inner->listenerRequirementsChanged();
}

}  // namespace tovik
