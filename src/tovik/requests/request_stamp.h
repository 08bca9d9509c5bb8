#pragma once

#include <cstdint>
#include <string>

namespace tovik {

struct Device;

/// The identifying values every request body carries: when it was assembled, its own
/// identifier and the reporting device's identifier.
class RequestStamp {
 public:
  /// Wall-clock milliseconds since the Unix epoch, rounded half away from zero.
  static std::int64_t milliseconds();
  /// A fresh random UUID, upper-case canonical text.
  static std::string requestId();
  /// The device's vendor identifier; without one, a fresh random UUID on every call.
  static std::string deviceId(const Device& device);
};

}  // namespace tovik
