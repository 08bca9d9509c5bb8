#pragma once

namespace tovik::cli {

/// The tool's exit statuses.
enum ExitStatus : int {
  kExitSuccess = 0,
  /// The kit reported an error (its message is on standard error), or no answer came in time.
  kExitKitError = 1,
  kExitUsage = 2,
  /// Ctrl-C ended a command that had not finished (a continuous session ends with 0).
  kExitInterrupted = 130,
};

}  // namespace tovik::cli
