#include "tools/tovik/result_printer.h"

#include "tools/tovik/output.h"
#include "tools/tovik/result_format.h"
#include "tovik/model/geocode_res.h"
#include "tovik/model/json_codec.h"
#include "tovik/model/location_res.h"

namespace tovik::cli {

ResultPrinter::ResultPrinter(Output& output, bool json, bool fixes) : output_(output), json_(json), fixes_(fixes) {}

void ResultPrinter::onReceivedLocationWithTkLocation(const std::shared_ptr<LocationRes>& location) {
  printLocation(location);
}

void ResultPrinter::onReceivedReverseCodeWithTkLocation(const std::shared_ptr<LocationRes>& location) {
  printLocation(location);
}

void ResultPrinter::onReceivedGeocodeWithResult(const std::vector<std::shared_ptr<GeocodeRes>>& result) {
  printList(result);
}

void ResultPrinter::onReceivedPoiSearchWithResult(const std::vector<std::shared_ptr<GeocodeRes>>& result) {
  printList(result);
}

void ResultPrinter::onLocationErrorWithMsg(const std::string& msg) {
  ++errors_;
  if (!json_) {
    output_.message(msg);
  }
}

void ResultPrinter::onLocationErrorWithError(const TkError& error) {
  if (json_) {
    output_.message(jsonLine(errorDocument(error)));
  }
}

void ResultPrinter::onReceivedRawLocation(const Location& location) {
  if (fixes_) {
    output_.result(json_ ? jsonLine(fixDocument(location)) : describeFix(location));
  }
}

void ResultPrinter::onLocationAvailabilityChanged(const LocationAvailability& availability) {
  if (json_) {
    output_.result(jsonLine(availabilityDocument(availability)));
  } else {
    output_.message(describeAvailability(availability));
  }
}

void ResultPrinter::printLocation(const std::shared_ptr<LocationRes>& location) {
  ++results_;
  if (!location) {
    return;
  }
  output_.result(json_ ? jsonLine(JsonCodec<LocationRes>::encode(*location)) : describe(*location));
}

void ResultPrinter::printList(const std::vector<std::shared_ptr<GeocodeRes>>& list) {
  ++results_;
  for (const auto& item : list) {
    if (item) {
      output_.result(json_ ? jsonLine(JsonCodec<GeocodeRes>::encode(*item)) : describe(*item));
    }
  }
  if (list.empty() && !json_) {
    output_.message("no results");
  }
}

}  // namespace tovik::cli
