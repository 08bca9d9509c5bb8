#include "service/address_composer.h"

#include <string>
#include <vector>

#include "tovik/model/address.h"

namespace tovik::service {

std::shared_ptr<AddressInfo> AddressComposer::compose(const Place& place) const {
  const auto nameOf = [&](const std::string& code) {
    const std::string* name = store_->regionName(code);
    return name != nullptr ? *name : code;
  };
  std::vector<std::shared_ptr<Address>> context;
  context.push_back(std::make_shared<Address>("country", nameOf(place.country), place.country));
  if (!place.admin1.empty()) {
    context.push_back(std::make_shared<Address>("region", nameOf(place.admin1), place.admin1));
  }
  if (!place.admin2.empty()) {
    context.push_back(std::make_shared<Address>("city", nameOf(place.admin2), place.admin2));
  } else {
    context.push_back(std::make_shared<Address>("city", place.name, ""));
  }

  std::vector<std::string> parts{place.name};
  for (auto it = context.rbegin(); it != context.rend(); ++it) {
    if ((*it)->name != parts.back()) {
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

}  // namespace tovik::service
