#pragma once

#include <string>
#include <vector>

namespace tovik::test {

/// What a finished program said and how it ended.
struct ChildResult {
  int exitCode = -1;  ///< -1 when it did not exit normally (killed, or could not start)
  std::string output; ///< standard output and standard error, interleaved as written
};

/// Runs a program to its end: `argv[0]` is its path, `workingDirectory` where it runs.
/// The caller's threads (a test server, say) keep running meanwhile.
ChildResult runChild(const std::vector<std::string>& argv, const std::string& workingDirectory);

}  // namespace tovik::test
