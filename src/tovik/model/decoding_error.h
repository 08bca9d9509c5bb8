#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include "tovik/system/export.h"

namespace tovik {

/// A result that could not be decoded. `what()` names where the fault is and why, for
/// example `location.address.context[2].code: expected a string, found number`; at the
/// top level of the document the path is empty and `what()` is the reason alone.
class TOVIK_API DecodingError : public std::runtime_error {
 public:
  DecodingError(std::string path, std::string reason);

  /// Dotted keys and bracketed indices from the top of the document to the fault.
  const std::string& path() const noexcept { return path_; }
  const std::string& reason() const noexcept { return reason_; }

  /// The same fault seen from the object that holds `key`.
  DecodingError within(std::string_view key) const;
  /// The same fault seen from the array that holds element `index`.
  DecodingError withinElement(std::size_t index) const;

 private:
  std::string path_;
  std::string reason_;
};

}  // namespace tovik
