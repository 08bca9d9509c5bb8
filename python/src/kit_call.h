#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <tovik/tovik.h>

namespace tovik::python {

/// One call of the kit (a service call or a single location) and what it came to. It is the
/// delegate of a facade of its own, since a delegate cannot tell two calls of one facade apart,
/// and keeps that facade until the outcome arrives. Main thread only, like the facade.
class KitCall : public LocationDelegate {
 public:
  /// A located result, a list of places, or the kit's error message.
  using Outcome = std::variant<std::shared_ptr<LocationRes>, std::vector<std::shared_ptr<GeocodeRes>>, std::string>;

  /// Makes a facade with this call as its delegate, lets `configure` set it up and `start`
  /// call it.
  static std::shared_ptr<KitCall> begin(const std::function<void(TkClientLocation&)>& configure,
                                        const std::function<void(TkClientLocation&)>& start);

  /// Whether the calling thread drives the main queue (the first thread that asks becomes it,
  /// for good).
  static bool drivesMainQueue();

  bool done() const { return outcome_.has_value(); }
  const std::optional<Outcome>& outcome() const { return outcome_; }

  /// Drives the main queue on the calling thread until the outcome arrives or `seconds` pass
  /// (none: no limit of its own). `interrupted` is asked every quarter of a second and ends the
  /// wait when it returns true. Returns done().
  bool wait(std::optional<double> seconds, const std::function<bool()>& interrupted);

  /// Gives the call up: in the main queue's next turn its facade goes, so a later outcome
  /// reaches nobody, and a session stops.
  void abandon();

  void onReceivedLocationWithTkLocation(const std::shared_ptr<LocationRes>& result) override { finish(result); }
  void onReceivedReverseCodeWithTkLocation(const std::shared_ptr<LocationRes>& result) override { finish(result); }
  void onReceivedGeocodeWithResult(const std::vector<std::shared_ptr<GeocodeRes>>& result) override { finish(result); }
  void onReceivedPoiSearchWithResult(const std::vector<std::shared_ptr<GeocodeRes>>& result) override {
    finish(result);
  }
  void onLocationErrorWithMsg(const std::string& msg) override { finish(msg); }

 private:
  void finish(Outcome outcome);
  /// Lets the facade go in a later turn of the main queue: never inside one of its own calls.
  void releaseFacade();

  std::shared_ptr<TkClientLocation> facade_;
  std::optional<Outcome> outcome_;
};

}  // namespace tovik::python
