#include "server/service_metrics.h"

#include <algorithm>
#include <array>

#include <prometheus/counter.h>
#include <prometheus/family.h>
#include <prometheus/gauge.h>
#include <prometheus/histogram.h>
#include <prometheus/registry.h>
#include <prometheus/text_serializer.h>

namespace tovik::server {

namespace {

constexpr std::array<std::string_view, 6> kCalls = {"track_points", "geocode",  "placesearch",
                                                    "nearbysearch", "healthz", "metrics"};

/// Answers take tens of microseconds; a slow one takes tens of milliseconds.
const prometheus::Histogram::BucketBoundaries& buckets() {
  static const prometheus::Histogram::BucketBoundaries bounds = {0.0001, 0.00025, 0.0005, 0.001, 0.0025, 0.005,
                                                                 0.01,   0.025,   0.05,   0.1,   0.25,   1.0};
  return bounds;
}

}  // namespace

ServiceMetrics::ServiceMetrics() : registry_(std::make_shared<prometheus::Registry>()) {
  requests_ = &prometheus::BuildCounter()
                   .Name("tovik_requests_total")
                   .Help("Requests answered, by call and HTTP status")
                   .Register(*registry_);
  latency_ = &prometheus::BuildHistogram()
                  .Name("tovik_request_duration_seconds")
                  .Help("Time the service spent on a request, by call")
                  .Register(*registry_);
  inFlight_ = &prometheus::BuildGauge()
                   .Name("tovik_requests_in_flight")
                   .Help("Requests being handled now")
                   .Register(*registry_)
                   .Add({});
  longestWait_ = &prometheus::BuildGauge()
                      .Name("tovik_worker_wait_longest_seconds")
                      .Help("Longest time a connection waited for a worker since the start")
                      .Register(*registry_)
                      .Add({});
  reloads_ = &prometheus::BuildCounter()
                  .Name("tovik_database_reloads_total")
                  .Help("Places databases taken up since the start")
                  .Register(*registry_)
                  .Add({});
  dropped_ = &prometheus::BuildCounter()
                  .Name("tovik_connections_dropped_total")
                  .Help("Connections closed without being served, by reason: queue_full (answered 503), stale "
                        "(waited past the deadline for a worker), timeout (the request did not arrive whole in "
                        "time), evicted (too many connections waiting for their request)")
                  .Register(*registry_);
  for (const auto* reason : {"queue_full", "stale", "timeout", "evicted"}) {
    dropped_->Add({{"reason", reason}});
  }
}

ServiceMetrics::~ServiceMetrics() = default;

std::string_view ServiceMetrics::callOf(std::string_view path) {
  const auto slash = path.rfind('/');
  const auto last = slash == std::string_view::npos ? path : path.substr(slash + 1);
  for (const auto call : kCalls) {
    if (last == call) {
      return call;
    }
  }
  return "other";
}

void ServiceMetrics::started() { inFlight_->Increment(); }

void ServiceMetrics::finished(std::string_view path, int status, std::chrono::microseconds handling) {
  const std::string_view call = callOf(path);
  const auto known = std::find(kCalls.begin(), kCalls.end(), call);
  static_assert(kCalls.size() + 1 == kCallSlots);
  const auto slot = static_cast<std::size_t>(known - kCalls.begin());  // kCalls.size() for "other"
  const auto cachedStatus = std::find(kCachedStatuses.begin(), kCachedStatuses.end(), status);

  prometheus::Counter* requests = nullptr;
  std::atomic<prometheus::Counter*>* requestsSlot = nullptr;
  if (cachedStatus != kCachedStatuses.end()) {
    requestsSlot = &requestsOf_[slot * kCachedStatuses.size() +
                                static_cast<std::size_t>(cachedStatus - kCachedStatuses.begin())];
    requests = requestsSlot->load(std::memory_order_acquire);
  }
  if (requests == nullptr) {
    // Add returns the same series for the same labels, so a race here only repeats the lookup.
    requests = &requests_->Add({{"call", std::string(call)}, {"status", std::to_string(status)}});
    if (requestsSlot != nullptr) {
      requestsSlot->store(requests, std::memory_order_release);
    }
  }
  requests->Increment();

  prometheus::Histogram* latency = latencyOf_[slot].load(std::memory_order_acquire);
  if (latency == nullptr) {
    latency = &latency_->Add({{"call", std::string(call)}}, buckets());
    latencyOf_[slot].store(latency, std::memory_order_release);
  }
  latency->Observe(static_cast<double>(handling.count()) / 1e6);
  // Last, so that a scrape never sees a request neither in flight nor counted.
  inFlight_->Decrement();
}

void ServiceMetrics::waitedForWorker(std::chrono::microseconds wait) {
  const double seconds = static_cast<double>(wait.count()) / 1e6;
  const std::lock_guard lock(waitMutex_);
  if (seconds > longestWaitSeconds_) {
    longestWaitSeconds_ = seconds;
    longestWait_->Set(seconds);
  }
}

void ServiceMetrics::reloaded() { reloads_->Increment(); }

void ServiceMetrics::dropped(std::string_view reason) { dropped_->Add({{"reason", std::string(reason)}}).Increment(); }

std::string ServiceMetrics::text() const { return prometheus::TextSerializer().Serialize(registry_->Collect()); }

}  // namespace tovik::server
