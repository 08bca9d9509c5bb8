#include "server/access_keys.h"

#include <fstream>
#include <stdexcept>

namespace tovik::server {

AccessKeys AccessKeys::fromFile(const std::string& path) {
  std::ifstream in(path);
  if (!in) {
    throw std::runtime_error("cannot read the key file " + path);
  }
  AccessKeys keys;
  keys.keys_.emplace();
  std::string line;
  while (std::getline(in, line)) {
    const auto first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') {
      continue;
    }
    const auto last = line.find_last_not_of(" \t\r");
    keys.keys_->insert(line.substr(first, last - first + 1));
  }
  if (keys.keys_->empty()) {
    throw std::runtime_error("the key file " + path + " lists no key");
  }
  return keys;
}

std::optional<std::string> AccessKeys::refusal(std::string_view key) const {
  if (key.empty()) {
    return "missing access_key";
  }
  if (keys_ && !keys_->count(std::string(key))) {
    return "unknown access_key";
  }
  return std::nullopt;
}

}  // namespace tovik::server
