#include "tovik/capi/c_location_delegate.h"

#include "tovik/capi/c_boundary.h"
#include "tovik/capi/callback_scope.h"
#include "tovik/capi/location_conversion.h"
#include "tovik/capi/result_handles.h"
#include "tovik/capi/versioned_table.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

namespace tovik::capi {
namespace {

// The table as it first shipped: every later table starts with these members.
constexpr std::size_t kFirstTableSize = offsetof(tk_location_delegate, releaseContext) + sizeof(void (*)(void*));

}  // namespace

CLocationDelegate::CLocationDelegate(const tk_location_delegate& table)
    : table_(knownMembers(table)), context_(table_.context, table_.releaseContext) {}

std::shared_ptr<CLocationDelegate> CLocationDelegate::make(const tk_location_delegate* table) {
  return table == nullptr ? nullptr : std::make_shared<CLocationDelegate>(*table);
}

bool CLocationDelegate::isReadable(const tk_location_delegate* table) {
  return table == nullptr || table->size >= kFirstTableSize;
}

bool CLocationDelegate::copyTo(tk_location_delegate& out) const {
  const std::size_t room = out.size;
  if (room < kFirstTableSize) {
    return false;
  }
  std::memcpy(&out, &table_, std::min(room, sizeof table_));
  out.size = std::min(room, sizeof table_);
  return true;
}

void CLocationDelegate::onReceivedLocationWithTkLocation(const std::shared_ptr<LocationRes>& location) {
  forwardLocation(table_.onReceivedLocationWithTkLocation, location);
}

void CLocationDelegate::onReceivedReverseCodeWithTkLocation(const std::shared_ptr<LocationRes>& location) {
  forwardLocation(table_.onReceivedReverseCodeWithTkLocation, location);
}

void CLocationDelegate::onReceivedGeocodeWithResult(const std::vector<std::shared_ptr<GeocodeRes>>& result) {
  forwardList(table_.onReceivedGeocodeWithResult, result);
}

void CLocationDelegate::onReceivedPoiSearchWithResult(const std::vector<std::shared_ptr<GeocodeRes>>& result) {
  forwardList(table_.onReceivedPoiSearchWithResult, result);
}

void CLocationDelegate::onLocationErrorWithMsg(const std::string& msg) {
  if (table_.onLocationErrorWithMsg == nullptr) {
    return;
  }
  guardedVoid([&] {
    // The callback may replace this delegate or destroy the facade holding it.
    const auto self = shared_from_this();
    const CallbackScope scope;
    table_.onLocationErrorWithMsg(table_.context, msg.c_str());
  });
}

template <class Value, class Make>
void CLocationDelegate::forwardValue(void (*callback)(void*, const Value*), Make&& make) {
  if (callback == nullptr) {
    return;
  }
  guardedVoid([&] {
    // The callback may replace this delegate or destroy the facade holding it.
    const auto self = shared_from_this();
    const Value value = make();
    const CallbackScope scope;
    callback(table_.context, &value);
  });
}

void CLocationDelegate::onReceivedRawLocation(const Location& location) {
  forwardValue(table_.onReceivedRawLocation, [&] {
    return tk_raw_location{.size = sizeof(tk_raw_location),
                           .location = toCLocation(location),
                           .source = location.source.c_str(),
                           .simulated = location.simulated};
  });
}

void CLocationDelegate::onLocationErrorWithError(const TkError& error) {
  forwardValue(table_.onLocationErrorWithError, [&] {
    return tk_error{.size = sizeof(tk_error),
                    .domain = static_cast<std::int32_t>(error.domain),
                    .code = error.code,
                    .call = static_cast<std::int32_t>(error.call),
                    .message = error.message.c_str(),
                    .detail = error.detail.c_str(),
                    .retryAfter = error.retryAfter.value_or(std::numeric_limits<double>::quiet_NaN()),
                    .attempts = error.attempts};
  });
}

void CLocationDelegate::onLocationAvailabilityChanged(const LocationAvailability& availability) {
  forwardValue(table_.onLocationAvailabilityChanged, [&] {
    return tk_location_availability{
        .size = sizeof(tk_location_availability),
        .available = availability.available,
        .reason = static_cast<std::int32_t>(availability.reason),
        .source = availability.source.c_str(),
        .lastFixAge = availability.lastFixAge ? availability.lastFixAge->count() : std::numeric_limits<double>::quiet_NaN(),
        .expectedInterval = availability.expectedInterval.count()};
  });
}

void CLocationDelegate::forwardLocation(LocationCallback callback, const std::shared_ptr<LocationRes>& location) {
  if (callback == nullptr || !location) {
    return;
  }
  guardedVoid([&] {
    const auto self = shared_from_this();
    const LentHandle<tk_location_res> lent(location);
    const CallbackScope scope;
    callback(table_.context, lent.get());
  });
}

void CLocationDelegate::forwardList(ListCallback callback, const std::vector<std::shared_ptr<GeocodeRes>>& list) {
  if (callback == nullptr) {
    return;
  }
  guardedVoid([&] {
    const auto self = shared_from_this();
    const LentHandle<tk_geocode_list> lent(list);
    const CallbackScope scope;
    callback(table_.context, lent.get());
  });
}

}  // namespace tovik::capi
