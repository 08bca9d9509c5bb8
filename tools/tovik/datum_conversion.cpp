#include "tools/tovik/datum_conversion.h"

#include <string>

#include "tools/tovik/usage_error.h"

namespace tovik::cli {

Datum datumArgument(std::string_view argument, std::string_view text) {
  if (const auto datum = datumNamed(text)) {
    return *datum;
  }
  throw UsageError(std::string(argument) + ": unknown datum '" + std::string(text) + "' (use wgs84, gcj02 or bd09)");
}

}  // namespace tovik::cli
