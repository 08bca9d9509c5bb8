#pragma once

// What reaches the application: delegates that note every callback with its thread and
// whether the facade it came through still existed.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tovik/client/location_delegate.h"
#include "tovik/client/tk_client_location.h"
#include "tovik/model/geocode_res.h"
#include "tovik/model/location_res.h"
#include "tovik/runloop/main_queue.h"
#include "tovik/system/console.h"

namespace tovik::test {

/// One callback as the application saw it.
struct Heard {
  std::string kind{};     // "location", "reverse", "geocode", "poi", "error"
  std::string msg{};      // the error text, or the result's id
  std::size_t count = 0;  // the items of a list
  std::shared_ptr<LocationRes> location{};
  bool onMainThread = false;
  bool afterRelease = false;  // the test had dropped its facade already
  bool ownerGone = false;     // the facade it came through no longer existed

  /// "kind:msg/count", and where it ran when that was not the main thread.
  std::string summary() const {
    return kind + ":" + msg + "/" + std::to_string(count) + (onMainThread ? "" : " off the main thread");
  }
};

/// Notes the required callbacks only; the optional ones keep their empty defaults.
class RequiredOnlyRecorder : public LocationDelegate {
 public:
  void onReceivedLocationWithTkLocation(const std::shared_ptr<LocationRes>& location) override {
    note({.kind = "location", .msg = location->id, .location = location});
  }
  void onLocationErrorWithMsg(const std::string& msg) override { note({.kind = "error", .msg = msg}); }

  /// The summaries, in order.
  std::vector<std::string> summaries() const { return collect<std::string>("", &Heard::summary); }
  /// The locations heard, in order.
  std::vector<std::shared_ptr<LocationRes>> locations() const {
    return collect<std::shared_ptr<LocationRes>>("location", &Heard::location);
  }

  std::vector<Heard> heard;
  /// Also writes "<summary>" to the kit's log, so that a captured log shows where each ran.
  bool markInLog = false;
  /// Set by the test once it has dropped its own reference to the facade.
  bool released = false;
  /// The facade this delegate listens to, when the test says so.
  std::weak_ptr<TkClientLocation> owner;
  /// Runs after each callback has been noted.
  std::function<void()> then;

 protected:
  void note(Heard one) {
    one.onMainThread = MainQueue::shared().isMainThread();
    one.afterRelease = released;
    one.ownerGone = owner.expired();
    heard.push_back(std::move(one));
    if (markInLog) {
      sdkLog("<" + heard.back().summary() + ">");
    }
    if (then) {
      then();
    }
  }

 private:
  // What `pick` takes from each callback of `kind` (of every kind when empty), in order.
  template <class T, class Pick>
  std::vector<T> collect(std::string_view kind, Pick pick) const {
    std::vector<T> made;
    for (const auto& one : heard) {
      if (kind.empty() || one.kind == kind) {
        made.push_back(std::invoke(pick, one));
      }
    }
    return made;
  }
};

/// Notes every callback.
class Recorder : public RequiredOnlyRecorder {
 public:
  void onReceivedReverseCodeWithTkLocation(const std::shared_ptr<LocationRes>& location) override {
    note({.kind = "reverse", .msg = location->id, .location = location});
  }
  void onReceivedGeocodeWithResult(const std::vector<std::shared_ptr<GeocodeRes>>& result) override {
    note({.kind = "geocode", .count = result.size()});
  }
  void onReceivedPoiSearchWithResult(const std::vector<std::shared_ptr<GeocodeRes>>& result) override {
    note({.kind = "poi", .count = result.size()});
  }
  /// Kept apart from `heard`, so that marked logs show the text callbacks only.
  void onLocationErrorWithError(const TkError& error) override { typed.push_back(error); }
  void onReceivedRawLocation(const Location& location) override { raw.push_back(location); }
  void onLocationAvailabilityChanged(const LocationAvailability& change) override { availability.push_back(change); }

  std::vector<TkError> typed;
  std::vector<Location> raw;
  std::vector<LocationAvailability> availability;
};

/// A typed error as "domain/code/call/attempts[/retry-after]".
inline std::string typedSummary(const TkError& error) {
  std::string text = std::string(toString(error.domain)) + "/" + std::to_string(error.code) + "/" +
                     std::string(toString(error.call)) + "/" + std::to_string(error.attempts);
  if (error.retryAfter) {
    text += "/" + std::to_string(static_cast<long long>(*error.retryAfter + 0.5));
  }
  return text;
}

}  // namespace tovik::test
