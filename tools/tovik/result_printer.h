#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tovik/client/location_delegate.h"

namespace tovik::cli {

class Output;

/// The tool's delegate: prints every result as it arrives (a readable line, or one JSON
/// document per line with --json; a list gives one line per item) and every error
/// message on standard error, and counts both.
class ResultPrinter : public LocationDelegate {
 public:
  /// `fixes`: also print every raw fix a session accepts, before the result it leads to.
  ResultPrinter(Output& output, bool json, bool fixes = false);

  void onReceivedLocationWithTkLocation(const std::shared_ptr<LocationRes>& location) override;
  void onLocationErrorWithMsg(const std::string& msg) override;
  /// With --json a failure is one document {"error": {...}} on standard error.
  void onLocationErrorWithError(const TkError& error) override;
  void onReceivedRawLocation(const Location& location) override;
  /// Each change: with --json one document {"availability": {...}} among the results, else a
  /// line on standard error.
  void onLocationAvailabilityChanged(const LocationAvailability& availability) override;
  void onReceivedReverseCodeWithTkLocation(const std::shared_ptr<LocationRes>& location) override;
  void onReceivedGeocodeWithResult(const std::vector<std::shared_ptr<GeocodeRes>>& result) override;
  void onReceivedPoiSearchWithResult(const std::vector<std::shared_ptr<GeocodeRes>>& result) override;

  /// Results received (a list counts once).
  std::int64_t results() const { return results_; }
  std::int64_t errors() const { return errors_; }

 private:
  void printLocation(const std::shared_ptr<LocationRes>& location);
  void printList(const std::vector<std::shared_ptr<GeocodeRes>>& list);

  Output& output_;
  const bool json_;
  const bool fixes_;
  std::int64_t results_ = 0;
  std::int64_t errors_ = 0;
};

}  // namespace tovik::cli
