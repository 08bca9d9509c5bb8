#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace tovik::test {

/// How recorded lines must match an expected file.
enum class Match {
  exactly,
  tail,         // up to ten of the first lines may be absent (a source that starts late)
  subsequence,  // each line is one of the file's, in its order (a source that may skip some)
};

/// The checked-in outputs of one test folder, tests/<folder>/data/<name>.expected: what a
/// replayed log must give, compared line by line. Run with TOVIK_REGENERATE=1 to write them
/// from what the tests record instead, then review their diff.
class ExpectedFiles {
 public:
  explicit ExpectedFiles(std::string folder) : folder_(std::move(folder)) {}

  std::filesystem::path path(const std::string& name) const;
  /// The lines of the file (a failure when it is missing).
  std::vector<std::string> lines(const std::string& name) const;
  /// Compares `lines` with the file, or writes them to it when regenerating.
  void expectSame(const std::vector<std::string>& lines, const std::string& name, Match match = Match::exactly) const;

 private:
  std::string folder_;
};

/// Whether TOVIK_REGENERATE=1 asks for the expected files to be written.
bool regenerating();

}  // namespace tovik::test
