#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "tovik/requests/os_info.h"

namespace tovik {

/// The device that reports a fix. Absent members are left out of the JSON.
struct AssetInfo {
  std::string id;
  std::optional<std::string> manufacturer;
  std::optional<std::string> model;
  std::optional<OSInfo> os;

  nlohmann::json encode() const;
  static AssetInfo decode(const nlohmann::json& json);

  bool operator==(const AssetInfo&) const = default;
};

}  // namespace tovik
