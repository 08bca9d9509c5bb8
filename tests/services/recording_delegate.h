#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tovik/client/location_delegate.h"
#include "tovik/model/geocode_res.h"
#include "tovik/model/location_res.h"
#include "tovik/platform/main_queue.h"

namespace tovik::testing_support {

/// One callback as a delegate received it.
struct DelegateEvent {
  std::string kind;  // "location", "error", "reverse", "geocode", "poi"
  std::string msg;   // the error message
  std::shared_ptr<LocationRes> location;
  std::vector<std::shared_ptr<GeocodeRes>> list;
  bool onMainThread = false;
};

/// Records the required callbacks only; the optional ones keep their empty defaults.
class RequiredOnlyDelegate : public LocationDelegate {
 public:
  void onReceivedLocationWithTkLocation(const std::shared_ptr<LocationRes>& location) override {
    record("location", {}, location);
  }
  void onLocationErrorWithMsg(const std::string& msg) override { record("error", msg); }

  std::vector<DelegateEvent> events;

 protected:
  void record(std::string kind, std::string msg = {}, std::shared_ptr<LocationRes> location = nullptr,
              std::vector<std::shared_ptr<GeocodeRes>> list = {}) {
    events.push_back({std::move(kind), std::move(msg), std::move(location), std::move(list),
                      MainQueue::shared().isMainThread()});
  }
};

/// Records every callback.
class RecordingDelegate : public RequiredOnlyDelegate {
 public:
  void onReceivedReverseCodeWithTkLocation(const std::shared_ptr<LocationRes>& location) override {
    record("reverse", {}, location);
  }
  void onReceivedGeocodeWithResult(const std::vector<std::shared_ptr<GeocodeRes>>& result) override {
    record("geocode", {}, nullptr, result);
  }
  void onReceivedPoiSearchWithResult(const std::vector<std::shared_ptr<GeocodeRes>>& result) override {
    record("poi", {}, nullptr, result);
  }
};

/// What a delegate heard, as "kind:message/count;" per event (count: items of a list).
inline std::string heardBy(const RequiredOnlyDelegate& delegate) {
  std::string text;
  for (const auto& event : delegate.events) {
    text += event.kind + ":" + event.msg + "/" + std::to_string(event.list.size()) + ";";
    if (!event.onMainThread) {
      text += "<off the main thread>";
    }
  }
  return text;
}

}  // namespace tovik::testing_support
