#pragma once

#include <optional>

#include "tovik/network/http_url_response.h"
#include "tovik/system/error.h"
#include "tovik/system/tk_error.h"

namespace tovik {

/// The typed form of a call's failure: `error` (as the call's outcome carries it, its text
/// becoming `message`) sorted into a domain and code, with the service's Retry-After if the
/// response had one. `attempts`: the requests sent for the call.
TkError typedFailure(TkCall call, const Error& error, const std::optional<HTTPURLResponse>& response, int attempts);

/// The typed form of a success status the call does not accept; `message` is the status.
TkError refusedStatus(TkCall call, int status, int attempts);

}  // namespace tovik
