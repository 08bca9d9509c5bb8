#include "tovik/system/location_availability.h"

namespace tovik {

std::string_view toString(LocationAvailability::Reason reason) {
  switch (reason) {
    case LocationAvailability::Reason::resumed:
      return "resumed";
    case LocationAvailability::Reason::silent:
      return "silent";
    case LocationAvailability::Reason::failed:
      return "failed";
  }
  return "unknown";
}

}  // namespace tovik
