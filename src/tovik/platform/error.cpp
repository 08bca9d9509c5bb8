#include "tovik/platform/error.h"

#include <utility>

namespace tovik {

Error::Error(std::string domain, long code, std::string localizedDescription)
    : domain_(std::move(domain)), code_(code), localizedDescription_(std::move(localizedDescription)) {}

Error Error::withDescription(std::string description) const {
  Error copy = *this;
  copy.description_ = std::move(description);
  return copy;
}

Error Error::withUnderlying(Error underlying) const {
  Error copy = *this;
  copy.underlying_ = std::make_shared<const Error>(std::move(underlying));
  return copy;
}

std::string Error::description() const {
  if (description_) {
    return *description_;
  }
  std::string text = "Error Domain=" + domain_ + " Code=" + std::to_string(code_) + " \"" +
                     localizedDescription_ + "\"";
  if (underlying_) {
    text += " UserInfo={NSUnderlyingError=" + underlying_->description() + "}";
  }
  return text;
}

}  // namespace tovik
