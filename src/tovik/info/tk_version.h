#pragma once

#include <string>

namespace tovik {

/// The kit's version and build number, read once from `Bundle::kit()`
/// ("CFBundleShortVersionString", "CFBundleVersion"); "0.0.0" and "0" when missing or
/// not text. Thread-safe.
class TkVersion {
 public:
  static const std::string& sdkVersion();
  static const std::string& buildNumber();
};

}  // namespace tovik
