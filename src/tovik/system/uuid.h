#pragma once

#include <string>

namespace tovik {

/// Random version-4 UUIDs from the operating system's random source, and stable
/// application-specific ones derived from the machine ID.
class Uuid {
 public:
  /// Canonical upper-case text form, 36 characters.
  static std::string random();
  /// The machine ID as machine-id(5) asks applications to use it: never itself, but
  /// HMAC-SHA-256 keyed with it over the application's identifier, the first 128 bits laid
  /// out as a version-4 UUID (as systemd's `sd_id128_get_machine_app_specific` does). Stable
  /// for one machine and one application, unrelated across either, and the machine ID
  /// cannot be read back from it. `machineId` is the 32 hex digits of /etc/machine-id
  /// (other text is used as the key as it stands).
  static std::string applicationSpecific(const std::string& machineId, const std::string& applicationId);
};

}  // namespace tovik
