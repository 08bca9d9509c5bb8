#pragma once

#include <stdexcept>

namespace tovik::cli {

/// A command line the tool cannot act on (exit status 2). The message names the argument
/// and says what is wrong with it.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace tovik::cli
