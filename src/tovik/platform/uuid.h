#pragma once

#include <string>

namespace tovik {

/// Random version-4 UUIDs from the operating system's random source, and stable
/// name-based ones (version 5 layout over a fixed 128-bit hash of the name).
class Uuid {
 public:
  /// Canonical upper-case text form, 36 characters.
  static std::string random();
  /// A name-based UUID: the same text for the same name, in the same canonical form.
  static std::string fromStableName(const std::string& name);
};

}  // namespace tovik
