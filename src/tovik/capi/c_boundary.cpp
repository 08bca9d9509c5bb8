#include "tovik/capi/c_boundary.h"

#include <string>

#include "tovik/client/sdk_log.h"

namespace tovik::capi {

void reportContainedFailure(const char* what) noexcept {
  try {
    sdkLog(std::string("[Tovik] C interface: call failed: ") + what);
  } catch (...) {
    // Nothing left to report with; the caller still gets its error status.
  }
}

}  // namespace tovik::capi

extern "C" const char* tk_status_description(tk_status status) {
  switch (status) {
    case TK_OK:
      return "ok";
    case TK_ERROR_NULL_ARGUMENT:
      return "a required argument is NULL";
    case TK_ERROR_INVALID_ARGUMENT:
      return "an argument is out of range";
    case TK_ERROR_WRONG_THREAD:
      return "not allowed inside a callback";
    case TK_ERROR_INTERNAL:
      return "the kit failed unexpectedly";
  }
  return "unknown status";
}
