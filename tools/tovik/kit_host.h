#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "tools/tovik/interrupt_watch.h"
#include "tools/tovik/kit_options.h"

namespace tovik {
class LocationDelegate;
class LocationProvider;
class TkClientLocation;
}  // namespace tovik

namespace tovik::cli {

class Output;
class ResultPrinter;

/// The tool as the kit's host application: declares its location purposes, sets the
/// location source, creates one facade configured from the command line with a
/// `ResultPrinter` as its delegate, and drives the main queue. The destructor ends the
/// session and releases the facade and the source.
class KitHost {
 public:
  using Ending = InterruptWatch::Ending;

  /// `provider`, when given, becomes the process's location source before the facade is made;
  /// `delegate`, when given, hears the facade instead of the printer.
  KitHost(Output& output, const KitOptions& options, std::shared_ptr<LocationProvider> provider = nullptr,
          std::shared_ptr<LocationDelegate> delegate = nullptr);
  ~KitHost();
  KitHost(const KitHost&) = delete;
  KitHost& operator=(const KitHost&) = delete;

  TkClientLocation& facade() { return *facade_; }
  const ResultPrinter& printer() const { return *printer_; }

  /// Drives the main queue until `done` holds, Ctrl-C, or `timeout` (none: no limit).
  Ending runUntil(const std::function<bool()>& done, std::optional<std::chrono::seconds> timeout) {
    return interrupts_.runUntil(done, timeout);
  }

 private:
  bool ownsProvider_ = false;
  std::shared_ptr<ResultPrinter> printer_;
  std::shared_ptr<TkClientLocation> facade_;
  InterruptWatch interrupts_;
};

/// Puts the tool's location purposes and identity in the host bundle: a command line has no
/// background, so it declares every purpose, and GeoClue2 knows it as `tovik-cli`.
void declareLocationPurposes();

}  // namespace tovik::cli
