#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace tovik {

/// The operating system that reports a fix.
struct OSInfo {
  std::string type;
  std::string version;

  nlohmann::json encode() const;
  static OSInfo decode(const nlohmann::json& json);

  bool operator==(const OSInfo&) const = default;
};

}  // namespace tovik
