#include "tovik/platform/gpsd_location_provider.h"

#include <gps.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <optional>
#include <system_error>
#include <utility>

#include "tovik/platform/provider_reader.h"

#if GPSD_API_MAJOR_VERSION < 9
#error "libgps API 9 or later is needed (timespec fix times, altHAE)"
#endif

namespace tovik {

namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kFirstRetryDelay = 500ms;
constexpr std::chrono::milliseconds kLongestRetryDelay = 8s;
// How long one wait for gpsd's data lasts: a stop is noticed within this time.
constexpr int kWaitSliceMicroseconds = 200'000;

std::string endpoint(const std::string& host, std::uint16_t port) {
  const bool ipv6 = host.find(':') != std::string::npos;
  return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

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
      return code < 0 ? std::string(gps_errstr(code)) : std::generic_category().message(code);
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

struct GpsdLocationProvider::Impl {
  Impl(GpsdLocationProvider& owner, std::string host, std::uint16_t port)
      : owner(owner), host(std::move(host)), port(port), portText(std::to_string(port)),
        where(endpoint(this->host, port)) {}

  GpsdLocationProvider& owner;
  const std::string host;
  const std::uint16_t port;
  const std::string portText;
  const std::string where;  // "host:port" for messages

  bool connected = false;  // main thread only
  ProviderReader reader;   // last, so that it is stopped before the rest goes

  void start() {
    stop();
    reader.start([this] { read(); });
  }

  void stop() {
    connected = false;
    reader.stop();
  }

  void postError(Error error) {
    reader.post([this, error = std::move(error)] { owner.fail(error); });
  }

  void postConnected(bool isConnected) {
    reader.post([this, isConnected] { connected = isConnected; });
  }

  // The reader thread: connect, watch, reconnect with back-off until stopped.
  void read() {
    auto retryDelay = kFirstRetryDelay;
    bool failureReported = false;  // once per spell of failures
    std::optional<timespec> lastFixTime;

    const auto failed = [&](Error error) {
      if (!failureReported) {
        postError(std::move(error));
        failureReported = true;
      }
      const bool goOn = reader.waitFor(retryDelay);
      retryDelay = std::min(retryDelay * 2, kLongestRetryDelay);
      return goOn;
    };

    while (!reader.stopping()) {
      gps_data_t data{};
      errno = 0;
      if (gps_open(host.c_str(), portText.c_str(), &data) != 0) {
        if (!failed(connectError(where, errno))) return;
        continue;
      }
      errno = 0;
      if (gps_stream(&data, WATCH_ENABLE | WATCH_JSON, nullptr) != 0) {
        const int code = errno;
        gps_close(&data);
        if (!failed(watchError(where, code))) return;
        continue;
      }
      failureReported = false;
      retryDelay = kFirstRetryDelay;
      postConnected(true);
      watch(data, lastFixTime);
      gps_close(&data);
      postConnected(false);
      // The connection ended: gpsd may be restarting, so try again after a short pause.
      if (!reader.waitFor(retryDelay)) return;
    }
  }

  // Reads reports until a stop or the end of the connection.
  void watch(gps_data_t& data, std::optional<timespec>& lastFixTime) {
    while (!reader.stopping()) {
      if (!gps_waiting(&data, kWaitSliceMicroseconds)) {
        if (errno != 0 && errno != EINTR) return;
        continue;
      }
      // Bits left over from the previous report would make it look new again.
      data.set = 0;
      if (gps_read(&data, nullptr, 0) < 0) return;
      const auto fix = fixOf(data);
      if (!fix || (lastFixTime && sameTime(*lastFixTime, data.fix.time))) continue;
      lastFixTime = data.fix.time;
      reader.post([this, fix = *fix] { owner.deliver(fix); });
    }
  }
};

GpsdLocationProvider::GpsdLocationProvider(std::string host, std::uint16_t port)
    : impl_(std::make_unique<Impl>(*this, std::move(host), port)) {}

GpsdLocationProvider::~GpsdLocationProvider() { impl_->stop(); }

const std::string& GpsdLocationProvider::host() const { return impl_->host; }

std::uint16_t GpsdLocationProvider::port() const { return impl_->port; }

bool GpsdLocationProvider::isConnected() const { return impl_->connected; }

AuthorizationStatus GpsdLocationProvider::authorizationStatus() const { return AuthorizationStatus::authorizedAlways; }

void GpsdLocationProvider::startUpdates() { impl_->start(); }

void GpsdLocationProvider::stopUpdates() { impl_->stop(); }

}  // namespace tovik
