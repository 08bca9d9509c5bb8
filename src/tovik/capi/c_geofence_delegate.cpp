#include "tovik/capi/c_geofence_delegate.h"

#include "tovik/capi/c_boundary.h"
#include "tovik/capi/callback_scope.h"
#include "tovik/capi/location_conversion.h"
#include "tovik/capi/versioned_table.h"

namespace tovik::capi {
namespace {

// The table as it first shipped: every later table starts with these members.
constexpr std::size_t kFirstTableSize = sizeof(tk_geofence_delegate);

}  // namespace

CGeofenceDelegate::CGeofenceDelegate(const tk_geofence_delegate& table)
    : table_(knownMembers(table)), context_(table_.context, table_.releaseContext) {}

std::shared_ptr<CGeofenceDelegate> CGeofenceDelegate::make(const tk_geofence_delegate* table) {
  return table == nullptr ? nullptr : std::make_shared<CGeofenceDelegate>(*table);
}

bool CGeofenceDelegate::isReadable(const tk_geofence_delegate* table) {
  return table == nullptr || table->size >= kFirstTableSize;
}

void CGeofenceDelegate::onReceivedGeofenceEvent(const GeofenceEvent& event) {
  if (table_.onReceivedGeofenceEvent == nullptr) {
    return;
  }
  guardedVoid([&] {
    // The callback may destroy the monitor holding this delegate.
    const auto self = shared_from_this();
    const tk_geofence_event lent{.id = event.id.c_str(),
                                 .transition = static_cast<std::int32_t>(event.transition),
                                 .location = toCLocation(event.location),
                                 .time = toMilliseconds(event.time)};
    const CallbackScope scope;
    table_.onReceivedGeofenceEvent(table_.context, &lent);
  });
}

void CGeofenceDelegate::onGeofenceSourceError(const Error& error) {
  if (table_.onGeofenceSourceError == nullptr) {
    return;
  }
  guardedVoid([&] {
    const auto self = shared_from_this();
    const CallbackScope scope;
    table_.onGeofenceSourceError(table_.context, error.localizedDescription().c_str());
  });
}

}  // namespace tovik::capi
