#pragma once

#include <functional>

namespace tovik::cli {

class Output;

/// Shared by the commands while the command line is read: where they write, and the
/// work of the command that was chosen, run once reading is over. The work returns the
/// exit status and may throw `UsageError`.
struct CommandContext {
  Output& output;
  std::function<int()> action;
};

}  // namespace tovik::cli
