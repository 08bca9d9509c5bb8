#include "tovik/requests/request_stamp.h"

#include <cmath>

#include "tovik/system/clock.h"
#include "tovik/system/device.h"
#include "tovik/system/uuid.h"

namespace tovik {

std::int64_t RequestStamp::milliseconds() { return std::llround(Clock::now() * 1000.0); }

std::string RequestStamp::requestId() { return Uuid::random(); }

std::string RequestStamp::deviceId(const Device& device) {
  return device.identifierForVendor ? *device.identifierForVendor : Uuid::random();
}

}  // namespace tovik
