#pragma once

#include <string_view>

#include "tovik/system/error.h"

namespace tovik {

/// Errors of the HTTP transport (libcurl), with texts for display. The code is libcurl's
/// result code; the texts never carry the address (its query holds the access key).
class TransportError {
 public:
  static constexpr std::string_view kDomain = "URLError";

  /// What a failure amounts to for the application; the values are the network codes of
  /// the kit's typed errors.
  enum class Kind { cannotConnect = 1, hostNotFound = 2, timedOut = 3, tls = 4, connectionLost = 5, other = 6 };
  static Kind kindOf(long curlCode);

  /// The error for libcurl result code `curlCode` (a `CURLcode` other than CURLE_OK).
  static Error fromCurlCode(int curlCode);
};

}  // namespace tovik
