#pragma once

#include <memory>
#include <optional>
#include <string>
#include "tovik/system/export.h"

namespace tovik {

/// An error value: a domain, a code, a text for display and a textual form for logs.
/// An error may wrap the error that caused it.
class TOVIK_API Error {
 public:
  Error(std::string domain, long code, std::string localizedDescription);

  /// Replaces the default textual form (see `description()`).
  Error withDescription(std::string description) const;
  /// Attaches the error that caused this one.
  Error withUnderlying(Error underlying) const;

  const std::string& domain() const { return domain_; }
  long code() const { return code_; }
  /// Text for display.
  const std::string& localizedDescription() const { return localizedDescription_; }
  /// Textual form for log lines; by default
  /// `Error Domain=<domain> Code=<code> "<localizedDescription>"`.
  std::string description() const;
  const Error* underlying() const { return underlying_.get(); }

 private:
  std::string domain_;
  long code_;
  std::string localizedDescription_;
  std::optional<std::string> description_;
  std::shared_ptr<const Error> underlying_;
};

/// A system error number as a short Chinese text for the kit's location errors, with the
/// number itself for the ones it has no words for ("系统错误（errno 71）").
std::string systemErrorText(int code);

}  // namespace tovik
