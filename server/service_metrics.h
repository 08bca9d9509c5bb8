#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace prometheus {
class Registry;
class Gauge;
class Counter;
template <typename T>
class Family;
class Histogram;
}  // namespace prometheus

namespace tovik::server {

/// The service's figures in Prometheus' text format, kept with prometheus-cpp: requests by
/// call and status, a latency histogram per call, requests in flight, the longest wait of a
/// connection for a worker and the number of database reloads. Safe from any thread.
class ServiceMetrics {
 public:
  ServiceMetrics();
  ~ServiceMetrics();
  ServiceMetrics(const ServiceMetrics&) = delete;
  ServiceMetrics& operator=(const ServiceMetrics&) = delete;

  /// The call a request path names: "track_points", "geocode", "placesearch",
  /// "nearbysearch", "healthz", "metrics" or "other".
  static std::string_view callOf(std::string_view path);

  void started();
  void finished(std::string_view path, int status, std::chrono::microseconds handling);
  void waitedForWorker(std::chrono::microseconds wait);
  void reloaded();
  /// A connection closed without being served ("queue_full", "stale", "timeout", "evicted").
  void dropped(std::string_view reason);
  /// Everything, as a scrape reads it.
  std::string text() const;

 private:
  std::shared_ptr<prometheus::Registry> registry_;
  prometheus::Family<prometheus::Counter>* requests_;
  prometheus::Family<prometheus::Histogram>* latency_;
  prometheus::Gauge* inFlight_;
  prometheus::Gauge* longestWait_;
  prometheus::Counter* reloads_;
  prometheus::Family<prometheus::Counter>* dropped_;
  std::mutex waitMutex_;
  double longestWaitSeconds_ = 0.0;

  // Each call's series, found once: a family's Add builds a label map and takes the
  // family's lock, which every request would otherwise queue on.
  static constexpr std::size_t kCallSlots = 7;  // the calls and "other"
  static constexpr std::array<int, 7> kCachedStatuses = {200, 400, 401, 404, 405, 413, 500};
  std::array<std::atomic<prometheus::Histogram*>, kCallSlots> latencyOf_{};
  std::array<std::atomic<prometheus::Counter*>, kCallSlots * kCachedStatuses.size()> requestsOf_{};
};

}  // namespace tovik::server
