#pragma once

#include <optional>
#include <string>
#include "tovik/system/export.h"

namespace tovik {

/// What the kit reports about the machine it runs on.
struct TOVIK_API Device {
  std::string manufacturer;                        ///< DMI system vendor, else "unknown"
  std::string model;                               ///< DMI product name, else the architecture
  std::string systemName;                          ///< os-release NAME, else uname sysname
  std::string systemVersion;                       ///< os-release VERSION_ID, else uname release
  std::optional<std::string> identifierForVendor;  ///< stable per machine and host application

  /// The current device (the machine is read once); or the one set with `setCurrent`.
  static Device current();
  /// Replaces the current device (tests); none returns to the real one.
  static void setCurrent(std::optional<Device> device);
  /// Reads the real machine (`Bundle::main()`'s "CFBundleIdentifier" names the host
  /// application for the vendor identifier).
  static Device readFromSystem();
  /// The same, with every file read below `root` instead of "/" (tests); the fallbacks
  /// still come from uname(2).
  static Device readFromSystem(const std::string& root);
};

}  // namespace tovik
