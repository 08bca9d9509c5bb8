#include "tovik/providers/location_services.h"

#include <mutex>
#include <utility>

#include "tovik/providers/automatic_location_provider.h"
#include "tovik/runloop/main_queue.h"

namespace tovik {

namespace {

// The provider used until the host sets one: gpsd with a receiver, else GeoClue2.
std::shared_ptr<LocationProvider> makeDefaultProvider() { return std::make_shared<AutomaticLocationProvider>(); }

struct ProviderSlot {
  std::mutex mutex;
  std::shared_ptr<LocationProvider> provider;
};

ProviderSlot& slot() {
  // The main queue is created first so that it outlives the providers, whose readers
  // post to it until they are stopped.
  (void)MainQueue::shared();
  static ProviderSlot instance;
  return instance;
}

}  // namespace

std::shared_ptr<LocationProvider> LocationServices::provider() {
  ProviderSlot& s = slot();
  const std::lock_guard lock(s.mutex);
  if (!s.provider) {
    s.provider = makeDefaultProvider();
  }
  return s.provider;
}

void LocationServices::setProvider(std::shared_ptr<LocationProvider> provider) {
  ProviderSlot& s = slot();
  std::shared_ptr<LocationProvider> previous;
  {
    const std::lock_guard lock(s.mutex);
    previous = std::exchange(s.provider, std::move(provider));
  }
  // `previous` is released outside the lock: its destructor may stop a reader thread.
}

}  // namespace tovik
