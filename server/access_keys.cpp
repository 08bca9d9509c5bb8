#include "server/access_keys.h"

#include <sys/stat.h>

#include <fstream>
#include <cstdio>
#include <stdexcept>

namespace tovik::server {

AccessKeys AccessKeys::fromFile(const std::string& path) {
  std::ifstream in(path);
  if (!in) {
    throw std::runtime_error("cannot read the key file " + path);
  }
  AccessKeys keys;
  keys.keys_.emplace();
  struct stat mode {};
  if (::stat(path.c_str(), &mode) == 0 && (mode.st_mode & S_IRWXO) != 0) {
    char octal[8];
    std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(mode.st_mode & 07777));
    keys.warnings_.push_back("the key file " + path + " has mode " + octal +
                             ": others on this host can read the keys (chmod 0600)");
  }
  std::string line;
  bool first = true;
  while (std::getline(in, line)) {
    // Editors on some systems start a UTF-8 file with a byte-order mark.
    if (first && line.starts_with("\xEF\xBB\xBF")) {
      line.erase(0, 3);
    }
    first = false;
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
