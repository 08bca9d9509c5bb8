#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>
#include "tovik/system/export.h"

namespace tovik {

using BundleValue = std::variant<std::string, std::vector<std::string>, double, bool>;

/// An information dictionary. `Bundle::main()` is the host application's, which the
/// host fills; `Bundle::kit()` holds the kit's own version keys, written by the build.
/// Thread-safe.
class TOVIK_API Bundle {
 public:
  /// The host application's dictionary (its Info.plist keys), filled by the host.
  static Bundle& main();
  /// The kit's own dictionary: "CFBundleShortVersionString" and "CFBundleVersion".
  static Bundle& kit();

  void setObject(const std::string& key, BundleValue value);
  void removeObject(const std::string& key);
  std::optional<BundleValue> objectForInfoDictionaryKey(const std::string& key) const;

  Bundle() = default;
  Bundle(const Bundle&) = delete;
  Bundle& operator=(const Bundle&) = delete;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, BundleValue> values_;
};

}  // namespace tovik
