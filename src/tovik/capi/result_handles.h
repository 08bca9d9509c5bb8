#pragma once

// The result handles of the C interface. The two roots (`tk_location_res`,
// `tk_geocode_list`) own their results through shared pointers and count the references C
// code holds; every nested C type is the kit's own object seen through an opaque pointer,
// kept alive by its root.

#include <atomic>
#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

#include "tovik/model/geocode_res.h"
#include "tovik/model/location_res.h"
#include "tovik/tovik_c.h"

struct tk_location_res {
  explicit tk_location_res(std::shared_ptr<const tovik::LocationRes> value) : value(std::move(value)) {}

  const std::shared_ptr<const tovik::LocationRes> value;
  mutable std::atomic<std::size_t> references{1};
};

struct tk_geocode_list {
  explicit tk_geocode_list(std::vector<std::shared_ptr<tovik::GeocodeRes>> items) : items(std::move(items)) {}

  const std::vector<std::shared_ptr<tovik::GeocodeRes>> items;
  mutable std::atomic<std::size_t> references{1};
};

namespace tovik::capi {

/// The kit class behind each opaque nested C type.
template <class C>
struct KitTypeOf;
template <>
struct KitTypeOf<tk_location_detail> {
  using type = LocationDetail;
};
template <>
struct KitTypeOf<tk_address_info> {
  using type = AddressInfo;
};
template <>
struct KitTypeOf<tk_address> {
  using type = Address;
};
template <>
struct KitTypeOf<tk_place_info> {
  using type = PlaceInfo;
};
template <>
struct KitTypeOf<tk_distance_info> {
  using type = DistanceInfo;
};
template <>
struct KitTypeOf<tk_position> {
  using type = Position;
};
template <>
struct KitTypeOf<tk_point> {
  using type = TkPoint;
};
template <>
struct KitTypeOf<tk_geocode_res> {
  using type = GeocodeRes;
};
template <>
struct KitTypeOf<tk_category> {
  using type = TkCategory;
};

/// The kit object behind an opaque C pointer (a pointer round trip, never dereferenced as C).
template <class C>
const typename KitTypeOf<C>::type* kitObject(const C* handle) {
  return reinterpret_cast<const typename KitTypeOf<C>::type*>(handle);
}

/// The opaque C pointer for a kit object; NULL for an empty shared pointer.
template <class C>
const C* opaque(const std::shared_ptr<typename KitTypeOf<C>::type>& object) {
  return reinterpret_cast<const C*>(object.get());
}

/// Takes one more reference; returns the handle, now owned by the caller too.
template <class Handle>
Handle* retainHandle(const Handle* handle) {
  if (handle == nullptr) {
    return nullptr;
  }
  handle->references.fetch_add(1, std::memory_order_relaxed);
  // The count is the only mutable part; the result itself stays read-only.
  return const_cast<Handle*>(handle);
}

/// Gives up one reference; the last one frees the handle.
template <class Handle>
void releaseHandle(Handle* handle) {
  if (handle != nullptr && handle->references.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    const std::unique_ptr<Handle> last(handle);
  }
}

/// One reference to a root handle, given up at the end of the scope: what a callback lends.
template <class Handle>
class LentHandle {
 public:
  template <class Value>
  explicit LentHandle(Value&& value) : handle_(std::make_unique<Handle>(std::forward<Value>(value)).release()) {}
  ~LentHandle() { releaseHandle(handle_); }
  LentHandle(const LentHandle&) = delete;
  LentHandle& operator=(const LentHandle&) = delete;

  const Handle* get() const { return handle_; }

 private:
  Handle* handle_;
};

}  // namespace tovik::capi
