#include "kit_client.h"

namespace tovik::python {

std::shared_ptr<KitCall> KitClient::start(const std::function<void(TkClientLocation&)>& call) const {
  return KitCall::begin(
      [this](TkClientLocation& facade) {
        if (settings_.service) facade.serviceURL = *settings_.service;
        // The keys are process-wide and read when a request is built: set for each call, just
        // before it, so that clients with different keys do not mix them up.
        if (settings_.key) facade.initKey(*settings_.key);
        if (settings_.poiKey) facade.setPoiKey(*settings_.poiKey);
        facade.setAgreePrivacy(settings_.agree);
      },
      call);
}

std::shared_ptr<KitCall> KitClient::locate(bool fast) const {
  if (settings_.purpose) {
    Bundle::main().setObject("NSLocationWhenInUseUsageDescription", *settings_.purpose);
  }
  return start([fast](TkClientLocation& facade) {
    facade.isLocateOnce = true;
    fast ? facade.startFastLocation() : facade.startLocation();
  });
}

}  // namespace tovik::python
