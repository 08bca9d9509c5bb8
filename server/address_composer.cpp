#include "server/address_composer.h"

#include <string>
#include <vector>

#include "tovik/model/address.h"

namespace tovik::server {

std::shared_ptr<AddressInfo> AddressComposer::compose(const Place& place) const {
  return composeAt(place.country, &place);
}

std::shared_ptr<AddressInfo> AddressComposer::composeAt(const std::string& country, const Place* place) const {
  const auto nameOf = [&](const std::string& code) {
    const std::string* name = store_->regionName(code);
    return name != nullptr ? *name : code;
  };
  const auto entry = [&](const char* type, const std::string& code) {
    return std::make_shared<Address>(type, nameOf(code), store_->answerCode(code));
  };
  std::vector<std::shared_ptr<Address>> context;
  if (!country.empty()) {
    context.push_back(entry("country", country));
  }
  if (place != nullptr) {
    if (!place->admin1.empty()) {
      context.push_back(entry("region", place->admin1));
    }
    if (!place->admin2.empty()) {
      context.push_back(entry("city", place->admin2));
    } else {
      context.push_back(std::make_shared<Address>("city", place->name, ""));
    }
  }

  std::vector<std::string> parts;
  if (place != nullptr) {
    parts.push_back(place->name);
  }
  for (auto it = context.rbegin(); it != context.rend(); ++it) {
    if (parts.empty() || (*it)->name != parts.back()) {
      parts.push_back((*it)->name);
    }
  }
  std::string line;
  for (const auto& part : parts) {
    if (!line.empty()) {
      line += ", ";
    }
    line += part;
  }
  return std::make_shared<AddressInfo>(std::move(line), std::move(context));
}

}  // namespace tovik::server
