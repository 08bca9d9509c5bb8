#pragma once

#include "tovik/system/export.h"

namespace tovik {

/// How the facade's service calls behave when the service struggles. Every member is off by
/// default, and then each call behaves exactly as documented for it: one request per call,
/// one request per interval of a continuous session, no retry, the local result only when
/// the device has no route.
struct TOVIK_API ServicePolicy {
  /// A continuous session skips a tick while its previous upload is still out, and after a
  /// 429 or 503 sends nothing until the service's Retry-After (without one: full-jitter
  /// exponential back-off from the interval, up to 5 minutes). Each skipped tick is logged.
  bool backoff = false;
  /// A failed call is sent again up to this many times when that is safe: a transport failure
  /// before any answer, or 429, 502, 503, 504. The wait is the service's Retry-After (a call
  /// asked to wait more than 30 s is not retried) or full-jitter back-off. Retries are throttled
  /// as gRPC throttles them (a bucket of 10 tokens per facade: a failure takes one, an answer
  /// gives back 0.1, retries only while more than 5 are left), so a service failing every call
  /// sees at most four retries and a healthy one about one per ten calls. A POST carries
  /// `Idempotency-Key` (its body's request id) on every attempt. The delegate hears one
  /// outcome per call.
  int retries = 0;
  /// When the service cannot be reached (connection refused, host not found, a time-out before
  /// any answer), the fused-location call answers with the local GCJ-02 result instead.
  bool offlineWhenUnreachable = false;
  /// Above zero: reverse geocoding, geocoding and the place searches are answered from a cache
  /// when the same call (same text, same key) for a point within this many metres was answered
  /// less than `cacheSeconds` ago; identical calls in flight share one request. The
  /// fused-location call is never cached.
  double cacheMetres = 0.0;
  double cacheSeconds = 300.0;
};

}  // namespace tovik
