#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tovik/capi/delegate_context.h"
#include "tovik/client/location_delegate.h"
#include "tovik/tovik_c.h"

namespace tovik::capi {

/// A `LocationDelegate` made of a C function table: each member forwards to its function
/// pointer, if set, with the table's context and borrowed C handles. Nothing thrown while
/// preparing a call reaches the kit, and the C code runs inside a `CallbackScope`.
class CLocationDelegate : public LocationDelegate, public std::enable_shared_from_this<CLocationDelegate> {
 public:
  /// Copies `table` and takes a share in its context, which is handed back through
  /// `releaseContext` once no copy of a table with that context is left.
  explicit CLocationDelegate(const tk_location_delegate& table);
  ~CLocationDelegate() override = default;
  CLocationDelegate(const CLocationDelegate&) = delete;
  CLocationDelegate& operator=(const CLocationDelegate&) = delete;

  /// A delegate for `table`, or none for NULL.
  static std::shared_ptr<CLocationDelegate> make(const tk_location_delegate* table);
  /// Whether the kit can read `table`: NULL, or a `size` covering at least the first table.
  static bool isReadable(const tk_location_delegate* table);
  /// This table, as far as `out->size` reaches, into `out`; false when `out` is too small.
  bool copyTo(tk_location_delegate& out) const;


  void onReceivedLocationWithTkLocation(const std::shared_ptr<LocationRes>& location) override;
  void onLocationErrorWithMsg(const std::string& msg) override;
  void onReceivedReverseCodeWithTkLocation(const std::shared_ptr<LocationRes>& location) override;
  void onReceivedGeocodeWithResult(const std::vector<std::shared_ptr<GeocodeRes>>& result) override;
  void onReceivedPoiSearchWithResult(const std::vector<std::shared_ptr<GeocodeRes>>& result) override;
  void onReceivedRawLocation(const Location& location) override;
  void onLocationErrorWithError(const TkError& error) override;
  void onLocationAvailabilityChanged(const LocationAvailability& availability) override;

 private:
  using LocationCallback = void (*)(void*, const tk_location_res*);
  using ListCallback = void (*)(void*, const tk_geocode_list*);

  void forwardLocation(LocationCallback callback, const std::shared_ptr<LocationRes>& location);
  void forwardList(ListCallback callback, const std::vector<std::shared_ptr<GeocodeRes>>& list);
  /// Calls `callback`, if set, with the C value `make` builds, lent for the call.
  template <class Value, class Make>
  void forwardValue(void (*callback)(void*, const Value*), Make&& make);

  const tk_location_delegate table_;
  const DelegateContextShare context_;
};

}  // namespace tovik::capi
