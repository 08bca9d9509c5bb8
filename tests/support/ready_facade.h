#pragma once

// The service's canned answers and a facade ready to talk to a loopback service.

#include <memory>
#include <string>
#include <utility>

#include "support/log_capture.h"
#include "tovik/client/location_delegate.h"
#include "tovik/client/tk_client_location.h"

namespace tovik::test {

/// One location, as the track-point endpoint answers.
inline const char* const kLocationJson = R"({"id": "R1", "asset": "A1", "location": {
  "timestamp": 1700000000000,
  "address": {"name": "北京市东城区", "context": [{"type": "city", "name": "北京市", "code": "110100"}]},
  "place": {"type": "poi", "name": "天安门", "distance": {"line": 12.5}},
  "position": {"point": {"longitude": 116.397, "latitude": 39.908}}}})";

/// A list of one place, as geocoding and the place searches answer.
inline const char* const kPlacesJson = R"([{"id": "G1", "geoPoint": "116.397,39.908", "type": "poi",
  "name": "天安门", "code": "110101", "address": {"name": "东城区", "context": []}, "relevance": 0.9, "distance": 12}])";

/// A facade with consent and `key`, pointed at `serviceURL`; its banner stays out of the
/// test output.
inline std::shared_ptr<TkClientLocation> readyFacade(std::shared_ptr<LocationDelegate> delegate,
                                                     const std::string& serviceURL, const std::string& key) {
  std::shared_ptr<TkClientLocation> facade;
  consoleOf([&] { facade = TkClientLocation::create(std::move(delegate)); });
  facade->serviceURL = serviceURL;
  facade->setAgreePrivacy(true);
  facade->initKey(key);
  return facade;
}

}  // namespace tovik::test
