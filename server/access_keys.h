#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace tovik::server {

/// Which "access_key" values the service accepts. From a file: one key per line, blank
/// lines and lines starting with '#' skipped, spaces around a key and a UTF-8 byte-order
/// mark at the start ignored. Without a file:
/// any non-empty key (a service for local development; the demo uses "demo").
class AccessKeys {
 public:
  /// Accepts any non-empty key.
  AccessKeys() = default;
  /// Throws `std::runtime_error` when the file cannot be read or lists no key.
  static AccessKeys fromFile(const std::string& path);

  /// What the reader found wrong but took anyway (a file that others may read).
  const std::vector<std::string>& warnings() const { return warnings_; }

  /// Why a key is refused, or nothing when it is accepted.
  std::optional<std::string> refusal(std::string_view key) const;

  bool acceptsAny() const { return !keys_.has_value(); }
  std::size_t size() const { return keys_ ? keys_->size() : 0; }

 private:
  std::optional<std::unordered_set<std::string>> keys_;
  std::vector<std::string> warnings_;
};

}  // namespace tovik::server
