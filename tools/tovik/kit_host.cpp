#include "tools/tovik/kit_host.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "tools/tovik/output.h"
#include "tools/tovik/result_printer.h"
#include "tovik/client/tk_client_location.h"
#include "tovik/platform/bundle.h"
#include "tovik/platform/location_services.h"
#include "tovik/platform/main_queue.h"

namespace tovik::cli {
namespace {

// A command line has no background: the tool declares every purpose so that continuous
// sessions start without the kit's foreground-only warnings.
void declareLocationPurposes() {
  Bundle& bundle = Bundle::main();
  bundle.setObject("CFBundleIdentifier", std::string("tovik-cli"));
  bundle.setObject("NSLocationWhenInUseUsageDescription", std::string("tovik prints where this device is"));
  bundle.setObject("NSLocationAlwaysAndWhenInUseUsageDescription",
                   std::string("tovik prints where this device is, also in continuous sessions"));
  bundle.setObject("UIBackgroundModes", std::vector<std::string>{"location"});
}

}  // namespace

KitHost::KitHost(Output& output, const KitOptions& options, std::shared_ptr<LocationProvider> provider) {
  output.separateKitConsole(options.log);
  TkClientLocation::setIsLogEnabled(options.log);
  declareLocationPurposes();
  if (provider) {
    LocationServices::setProvider(std::move(provider));
    ownsProvider_ = true;
  }
  printer_ = std::make_shared<ResultPrinter>(output, options.json);
  facade_ = TkClientLocation::create(printer_);
  facade_->serviceURL = options.serviceURL;
  if (options.key) {
    facade_->initKey(*options.key);
  }
  if (options.poiKey) {
    facade_->setPoiKey(*options.poiKey);
  }
  facade_->setAgreePrivacy(options.agree);
}

KitHost::~KitHost() {
  facade_->stopLocation();
  facade_.reset();
  if (ownsProvider_) {
    // Joins the source's reader, if it has one.
    LocationServices::setProvider(nullptr);
  }
}

KitHost::Ending KitHost::runUntil(const std::function<bool()>& done, std::optional<std::chrono::seconds> timeout) {
  const auto finished = [&] { return interrupts_.interrupted() || done(); };
  const auto deadline = timeout ? std::optional(std::chrono::steady_clock::now() + *timeout) : std::nullopt;
  MainQueue& queue = MainQueue::shared();
  while (!finished()) {
    const auto now = std::chrono::steady_clock::now();
    if (deadline && now >= *deadline) {
      return Ending::timedOut;
    }
    const std::chrono::steady_clock::duration slice =
        deadline ? std::min<std::chrono::steady_clock::duration>(*deadline - now, std::chrono::hours(1))
                 : std::chrono::hours(1);
    queue.runUntil(finished, slice);
  }
  return done() ? Ending::done : Ending::interrupted;
}

}  // namespace tovik::cli
