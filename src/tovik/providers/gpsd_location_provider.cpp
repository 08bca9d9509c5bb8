#include "tovik/providers/gpsd_location_provider.h"

#include <gps.h>
#include <poll.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <mutex>
#include <optional>
#include <utility>

#include "tovik/providers/provider_reader.h"
#include "tovik/providers/retry_backoff.h"

#if GPSD_API_MAJOR_VERSION < 9
#error "libgps API 9 or later is needed (timespec fix times, altHAE)"
#endif

namespace tovik {

namespace {

using namespace std::chrono_literals;

// How often a reader looks again whether another reader's open has ended.
constexpr std::chrono::milliseconds kOpenWaitSlice = 50ms;
// How long one wait for gpsd's data lasts when the system gave no stop descriptor.
constexpr int kFallbackWaitMilliseconds = 200;

// libgps reports its own failures as negative codes and system failures through errno.
std::string reasonText(int code) {
  switch (code) {
    case NL_NOCONNECT:
      return "连接被拒绝或无法建立，请确认 gpsd 正在运行并监听该端口";
    case NL_NOHOST:
      return "无法解析主机名";
    case 0:
      return "未知错误";
    default:
      return code < 0 ? "gpsd 客户端库错误（" + std::to_string(code) + "）" : systemErrorText(code);
  }
}

Error connectError(const std::string& where, int code) {
  return Error(GpsdLocationProvider::kErrorDomain, GpsdLocationProvider::kErrorCannotConnect,
               "无法连接到 gpsd（" + where + "）：" + reasonText(code));
}

Error watchError(const std::string& where, int code) {
  return Error(GpsdLocationProvider::kErrorDomain, GpsdLocationProvider::kErrorCannotConnect,
               "无法在 gpsd（" + where + "）上开启数据流：" + reasonText(code));
}

bool sameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

// The fix a report carries, if it is a new 2D or 3D position with a time. `fix.status` is
// not looked at: gpsd leaves it unknown for many receivers that do have a fix.
std::optional<Location> fixOf(const gps_data_t& data) {
  const gps_fix_t& f = data.fix;
  const bool position = (data.set & MODE_SET) != 0 && (data.set & TIME_SET) != 0 && f.mode >= MODE_2D;
  if (!position || (f.time.tv_sec == 0 && f.time.tv_nsec == 0) || !std::isfinite(f.latitude) ||
      !std::isfinite(f.longitude)) {
    return std::nullopt;
  }
  Location fix;
  fix.coordinate = {.latitude = f.latitude, .longitude = f.longitude};
  const double altitude = std::isfinite(f.altHAE) ? f.altHAE : f.altMSL;
  if (f.mode >= MODE_3D && std::isfinite(altitude)) {
    fix.altitude = altitude;
    fix.verticalAccuracy = std::isfinite(f.epv) && f.epv > 0.0 ? f.epv : -1.0;
  } else {
    fix.verticalAccuracy = -1.0;
  }
  fix.horizontalAccuracy = std::isfinite(f.eph) && f.eph >= 0.0 ? f.eph : -1.0;
  fix.speed = std::isfinite(f.speed) && f.speed >= 0.0 ? f.speed : -1.0;
  fix.course = std::isfinite(f.track) && f.track >= 0.0 ? f.track : -1.0;
  fix.timestamp = std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
      std::chrono::seconds(f.time.tv_sec) + std::chrono::nanoseconds(f.time.tv_nsec)));
  return fix;
}

}  // namespace

// What the reader thread needs, by value: it may outlive its provider.
struct GpsdEndpoint {
  std::string host;
  std::string port;
  std::string where;  // "host:port" for messages
};

struct GpsdLocationProvider::Impl {
  Impl(GpsdLocationProvider& owner, std::string host, std::uint16_t port)
      : owner(owner), host(std::move(host)), port(port),
        endpoint{this->host, std::to_string(port), ProviderReader::endpointText(this->host, port)} {}

  GpsdLocationProvider& owner;
  const std::string host;
  const std::uint16_t port;
  const GpsdEndpoint endpoint;

  bool connected = false;  // main thread only
  ProviderReader reader;   // last, so that it is stopped before the rest goes

  void start() {
    stop();
    // Posted work reaches `this` only while the run is current, and a stopped run posts
    // nothing: the provider stops its reader before it goes.
    const bool started = reader.start([this, endpoint = endpoint](const ProviderReader::Run& run) {
      read(run, endpoint, Sink{this});
    });
    if (!started) {
      // Reported to each manager that starts now, as any current failure is.
      owner.noteFailure(connectError(endpoint.where, EAGAIN));
    }
  }

  void stop() {
    connected = false;
    reader.stop();
  }

  // Hands the reader's results to the provider on the main thread.
  struct Sink {
    Impl* impl;
    void error(const ProviderReader::Run& run, Error error) const {
      run.post([impl = impl, error = std::move(error)] { impl->owner.enterFailure(error); });
    }
    void connectedChanged(const ProviderReader::Run& run, bool isConnected) const {
      run.post([impl = impl, isConnected] {
        impl->connected = isConnected;
        if (isConnected) {
          impl->owner.recovered();
        }
      });
    }
    void fix(const ProviderReader::Run& run, const Location& location) const {
      run.post([impl = impl, location] { impl->owner.deliver(location); });
    }
  };

  // The reader thread: connect, watch, reconnect with back-off until stopped.
  static void read(const ProviderReader::Run& run, const GpsdEndpoint& endpoint, Sink sink) {
    RetryBackoff backoff;
    bool failureReported = false;  // once per spell of failures; later sessions ask the provider
    std::optional<timespec> lastFixTime;

    const auto failed = [&](Error error) {
      if (!failureReported) {
        sink.error(run, std::move(error));
        failureReported = true;
      }
      return run.waitFor(backoff.next());
    };

    while (!run.stopping()) {
      gps_data_t data{};
      int openError = 0;
      if (!open(run, endpoint, data, openError)) {
        if (run.stopping() || !failed(connectError(endpoint.where, openError))) return;
        continue;
      }
      errno = 0;
      if (gps_stream(&data, WATCH_ENABLE | WATCH_JSON, nullptr) != 0) {
        const int code = errno;
        gps_close(&data);
        if (!failed(watchError(endpoint.where, code))) return;
        continue;
      }
      failureReported = false;
      sink.connectedChanged(run, true);
      watch(run, data, lastFixTime, sink);
      gps_close(&data);
      sink.connectedChanged(run, false);
      // The connection ended: gpsd may be restarting, so try again after a short pause.
      if (!run.waitFor(backoff.afterLoss())) return;
    }
  }

  // gps_open resolves the protocol with getprotobyname, which is not reentrant: readers of
  // this process (a stopped one may still be connecting) open one at a time. Waiting for
  // another reader's open ends with a stop. False with `error` set when no watch was opened.
  static bool open(const ProviderReader::Run& run, const GpsdEndpoint& endpoint, gps_data_t& data, int& error) {
    static std::mutex opening;
    std::unique_lock lock(opening, std::try_to_lock);
    while (!lock.owns_lock()) {
      if (!run.waitFor(kOpenWaitSlice)) {
        return false;
      }
      lock.try_lock();
    }
    errno = 0;
    if (gps_open(endpoint.host.c_str(), endpoint.port.c_str(), &data) != 0) {
      error = errno;
      return false;
    }
    return true;
  }

  // Reads reports until a stop or the end of the connection. Sleeps in poll() on gpsd's
  // socket and the run's stop descriptor, so it wakes only for data or a stop.
  static void watch(const ProviderReader::Run& run, gps_data_t& data, std::optional<timespec>& lastFixTime,
                    const Sink& sink) {
    while (!run.stopping()) {
      // libgps may hold a whole report in its buffer already.
      if (!gps_waiting(&data, 0)) {
        if (errno != 0 && errno != EINTR) return;
        std::array<pollfd, 2> fds{{{data.gps_fd, POLLIN, 0}, {run.stopDescriptor(), POLLIN, 0}}};
        const int nfds = run.stopDescriptor() >= 0 ? 2 : 1;
        const int ready = ::poll(fds.data(), nfds, nfds == 2 ? -1 : kFallbackWaitMilliseconds);
        if (ready < 0 && errno != EINTR) return;
        if ((fds[0].revents & POLLIN) == 0) {
          if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) return;
          continue;
        }
      }
      // Bits left over from the previous report would make it look new again.
      data.set = 0;
      if (gps_read(&data, nullptr, 0) < 0) return;
      const auto fix = fixOf(data);
      if (!fix || (lastFixTime && sameTime(*lastFixTime, data.fix.time))) continue;
      lastFixTime = data.fix.time;
      sink.fix(run, *fix);
    }
  }
};

GpsdLocationProvider::GpsdLocationProvider(std::string host, std::uint16_t port)
    : impl_(std::make_unique<Impl>(*this, std::move(host), port)) {
  identify("gpsd", false);
}

GpsdLocationProvider::~GpsdLocationProvider() { impl_->stop(); }

const std::string& GpsdLocationProvider::host() const { return impl_->host; }

std::uint16_t GpsdLocationProvider::port() const { return impl_->port; }

bool GpsdLocationProvider::isConnected() const { return impl_->connected; }

AuthorizationStatus GpsdLocationProvider::authorizationStatus() const { return AuthorizationStatus::authorizedAlways; }

void GpsdLocationProvider::startUpdates() { impl_->start(); }

void GpsdLocationProvider::stopUpdates() { impl_->stop(); }

}  // namespace tovik
