#include "tovik/network/network_checker.h"

#include <mutex>
#include <utility>

#include "tovik/network/reachability_probe.h"

namespace tovik {

namespace {

struct SourceSlot {
  std::mutex mutex;
  NetworkChecker::FlagsSource source;
};

SourceSlot& sourceSlot() {
  static SourceSlot slot;
  return slot;
}

}  // namespace

bool NetworkChecker::isNetworkAvailable() {
  FlagsSource source;
  {
    auto& slot = sourceSlot();
    std::lock_guard lock(slot.mutex);
    source = slot.source;
  }
  return isAvailable(source ? source() : ReachabilityProbe::currentFlags());
}

bool NetworkChecker::isAvailable(std::optional<std::uint32_t> flags) {
  return flags && (*flags & kReachable) != 0 && (*flags & kConnectionRequired) == 0;
}

void NetworkChecker::setFlagsSource(FlagsSource source) {
  auto& slot = sourceSlot();
  std::lock_guard lock(slot.mutex);
  slot.source = std::move(source);
}

}  // namespace tovik
