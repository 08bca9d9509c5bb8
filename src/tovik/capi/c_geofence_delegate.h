#pragma once

#include <memory>

#include "tovik/capi/delegate_context.h"
#include "tovik/geofence/geofence_delegate.h"
#include "tovik/tovik_c.h"

namespace tovik::capi {

/// A `GeofenceDelegate` made of a C function table, as `CLocationDelegate` is: each member
/// forwards to its function pointer, if set, inside a `CallbackScope`, and nothing thrown
/// while preparing a call reaches the kit.
class CGeofenceDelegate : public GeofenceDelegate, public std::enable_shared_from_this<CGeofenceDelegate> {
 public:
  /// Copies `table` and takes a share in its context.
  explicit CGeofenceDelegate(const tk_geofence_delegate& table);
  CGeofenceDelegate(const CGeofenceDelegate&) = delete;
  CGeofenceDelegate& operator=(const CGeofenceDelegate&) = delete;

  /// A delegate for `table`, or none for NULL.
  static std::shared_ptr<CGeofenceDelegate> make(const tk_geofence_delegate* table);
  /// Whether the kit can read `table`: NULL, or a `size` covering at least the first table.
  static bool isReadable(const tk_geofence_delegate* table);

  void onReceivedGeofenceEvent(const GeofenceEvent& event) override;
  void onGeofenceSourceError(const Error& error) override;

 private:
  const tk_geofence_delegate table_;
  const DelegateContextShare context_;
};

}  // namespace tovik::capi
