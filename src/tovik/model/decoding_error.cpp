#include "tovik/model/decoding_error.h"

#include <utility>

namespace tovik {
namespace {

std::string describe(const std::string& path, const std::string& reason) {
  return path.empty() ? reason : path + ": " + reason;
}

}  // namespace

DecodingError::DecodingError(std::string path, std::string reason)
    : std::runtime_error(describe(path, reason)), path_(std::move(path)), reason_(std::move(reason)) {}

DecodingError DecodingError::within(std::string_view key) const {
  std::string outer(key);
  if (!path_.empty() && path_.front() != '[') {
    outer += '.';
  }
  return DecodingError(outer + path_, reason_);
}

DecodingError DecodingError::withinElement(std::size_t index) const {
  std::string outer = "[" + std::to_string(index) + "]";
  if (!path_.empty() && path_.front() != '[') {
    outer += '.';
  }
  return DecodingError(outer + path_, reason_);
}

}  // namespace tovik
