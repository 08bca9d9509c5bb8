#pragma once

#include <string>
#include "tovik/system/export.h"

namespace tovik {

/// The kit's version and build number, read once from `Bundle::kit()`
/// ("CFBundleShortVersionString", "CFBundleVersion"); "0.0.0" and "0" when missing or
/// not text. Thread-safe.
class TOVIK_API TkVersion {
 public:
  /// For example "0.1.0"; valid for the life of the process.
  static const std::string& sdkVersion();
  /// The build number; valid for the life of the process.
  static const std::string& buildNumber();
};

}  // namespace tovik
