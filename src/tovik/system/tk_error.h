#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "tovik/system/export.h"

namespace tovik {

/// Where a failure arose. Each domain documents its codes.
enum class TkErrorDomain {
  /// The call could not start. Codes: 1 privacy policy not agreed, 2 no access key, 3 the
  /// service address is unusable, 4 the request could not be encoded (a text that is not
  /// UTF-8, a number that is not finite).
  precondition = 1,
  /// The location source failed. Codes: 1 the host declares no purpose for location use,
  /// 2 location use denied, 3 no source can be reached, 4 the source gave no fix in time,
  /// 5 the source failed otherwise.
  location = 2,
  /// No answer came back. Codes: 1 connection refused or unreachable, 2 host not found,
  /// 3 timed out before an answer, 4 TLS failed, 5 the connection broke off, 6 any other
  /// transport failure, 7 no response at all.
  network = 3,
  /// The service answered with an HTTP status outside 200 to 299. Code: the status.
  http = 4,
  /// The answer did not decode: not JSON, the wrong shape, or too large. Code: 1.
  decoding = 5,
  /// The service answered with a success status the call does not accept (the place
  /// searches take 200 only). Code: the status.
  service = 6,
};

/// Which operation failed.
enum class TkCall {
  /// The application's own `checkPrivacyAndKey()`.
  none = 0,
  /// A location session or `getTrackLocation`.
  location = 1,
  reverseGeocode = 2,
  geocode = 3,
  placeSearch = 4,
  nearbySearch = 5,
};

/// A failure as a value an application can branch on, heard by
/// `LocationDelegate::onLocationErrorWithError` beside the text of `onLocationErrorWithMsg`.
struct TOVIK_API TkError {
  TkErrorDomain domain = TkErrorDomain::precondition;
  /// Stable within its domain (see `TkErrorDomain`).
  int code = 0;
  TkCall call = TkCall::none;
  /// Exactly the text `onLocationErrorWithMsg` hears for this failure.
  std::string message{};
  /// An English explanation, for logs and developers.
  std::string detail{};
  /// Seconds the service asked the client to wait (its Retry-After), when it said.
  std::optional<double> retryAfter{};
  /// How many requests the call sent; 0 when it failed before sending.
  int attempts = 0;
};

/// "precondition", "location", "network", "http", "decoding" or "service".
TOVIK_API std::string_view toString(TkErrorDomain domain);
/// "none", "location", "reverse geocode", "geocode", "place search" or "nearby search".
TOVIK_API std::string_view toString(TkCall call);

}  // namespace tovik
