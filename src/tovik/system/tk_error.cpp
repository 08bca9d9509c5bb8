#include "tovik/system/tk_error.h"

namespace tovik {

std::string_view toString(TkErrorDomain domain) {
  switch (domain) {
    case TkErrorDomain::precondition:
      return "precondition";
    case TkErrorDomain::location:
      return "location";
    case TkErrorDomain::network:
      return "network";
    case TkErrorDomain::http:
      return "http";
    case TkErrorDomain::decoding:
      return "decoding";
    case TkErrorDomain::service:
      return "service";
  }
  return "unknown";
}

std::string_view toString(TkCall call) {
  switch (call) {
    case TkCall::none:
      return "none";
    case TkCall::location:
      return "location";
    case TkCall::reverseGeocode:
      return "reverse geocode";
    case TkCall::geocode:
      return "geocode";
    case TkCall::placeSearch:
      return "place search";
    case TkCall::nearbySearch:
      return "nearby search";
  }
  return "unknown";
}

}  // namespace tovik
