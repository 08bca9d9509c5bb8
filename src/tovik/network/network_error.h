#pragma once

#include <optional>
#include <string_view>

#include "tovik/system/error.h"

namespace tovik {

/// The network client's own error kinds. Each is an `Error` of domain "NetworkError" whose
/// code is the case's position below; `localizedDescription()` is the case's display text
/// and `description()` its name (`networkError(<wrapped description>)` for the wrapped case).
class NetworkError {
 public:
  enum class Case { networkError = 0, invalidURL = 1, invalidRequest = 2, encodingFailed = 3, decodingFailed = 4 };

  static constexpr std::string_view kDomain = "NetworkError";

  /// A transport failure; displays as the wrapped error does, which `underlying()` gives back.
  static Error networkError(Error transportError);
  static Error invalidURL();
  static Error invalidRequest();
  static Error encodingFailed();
  static Error decodingFailed();

  /// Which case `error` is, or none when it is not one of the network client's errors.
  static std::optional<Case> caseOf(const Error& error);
  static bool is(const Error& error, Case kind) { return caseOf(error) == kind; }

  /// The case's display text ("无效的URL", ...); empty for `networkError`, which shows the
  /// wrapped error's own text.
  static std::string_view errorDescription(Case kind);
  /// The case's name as it appears in log lines ("invalidURL", ...).
  static std::string_view name(Case kind);
};

}  // namespace tovik
