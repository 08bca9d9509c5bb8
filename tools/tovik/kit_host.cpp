#include "tools/tovik/kit_host.h"

#include <string>
#include <utility>
#include <vector>

#include "tools/tovik/output.h"
#include "tools/tovik/result_printer.h"
#include "tovik/client/tk_client_location.h"
#include "tovik/system/bundle.h"
#include "tovik/providers/location_services.h"

namespace tovik::cli {

void declareLocationPurposes() {
  Bundle& bundle = Bundle::main();
  bundle.setObject("CFBundleIdentifier", std::string("tovik-cli"));
  bundle.setObject("NSLocationWhenInUseUsageDescription", std::string("tovik prints where this device is"));
  bundle.setObject("NSLocationAlwaysAndWhenInUseUsageDescription",
                   std::string("tovik prints where this device is, also in continuous sessions"));
  bundle.setObject("UIBackgroundModes", std::vector<std::string>{"location"});
}

KitHost::KitHost(Output& output, const KitOptions& options, std::shared_ptr<LocationProvider> provider,
                 std::shared_ptr<LocationDelegate> delegate) {
  const ServicePolicy policy = servicePolicyOf(options);  // a usage error before the kit is touched
  output.separateKitConsole(options.log);
  TkClientLocation::setIsLogEnabled(options.log);
  declareLocationPurposes();
  if (provider) {
    LocationServices::setProvider(std::move(provider));
    ownsProvider_ = true;
  }
  printer_ = std::make_shared<ResultPrinter>(output, options.json, options.fixes);
  facade_ = TkClientLocation::create(delegate ? std::move(delegate) : printer_);
  facade_->serviceURL = options.serviceURL;
  if (options.key) {
    facade_->initKey(*options.key);
  }
  if (options.poiKey) {
    facade_->setPoiKey(*options.poiKey);
  }
  facade_->setAgreePrivacy(options.agree);
  facade_->servicePolicy = policy;
}

KitHost::~KitHost() {
  facade_->stopLocation();
  facade_.reset();
  if (ownsProvider_) {
    // Joins the source's reader, if it has one.
    LocationServices::setProvider(nullptr);
  }
}

}  // namespace tovik::cli
