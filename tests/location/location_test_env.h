#pragma once

// A clean, controlled location world for each test (see kit_world.h), with helpers to
// feed the scripted provider, drive the main queue and read the tables in data/. Shared by
// the location, client and reliability tests.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/kit_world.h"
#include "support/log_capture.h"
#include "tovik/system/location.h"
#include "tovik/runloop/main_queue.h"
#include "tovik/runloop/timer.h"

namespace tovik::test {

using Strings = std::vector<std::string>;

inline Location fixAt(double latitude, double longitude, double horizontalAccuracy = 5.0) {
  return {.coordinate = {latitude, longitude}, .horizontalAccuracy = horizontalAccuracy};
}

/// What the kit logs while `fn` runs with the log switched on.
template <typename Fn>
std::string logOf(Fn&& fn) {
  setLogEnabled(true);
  const std::string printed = consoleOf(fn);
  setLogEnabled(false);
  return printed;
}

/// The rows of tests/`folder`/data/`name`: fields split at " | ", "-" for an empty field;
/// blank lines and lines starting with '#' are skipped.
inline std::vector<Strings> tableRows(const std::string& folder, const std::string& name) {
  const std::string path = TOVIK_TESTS_DIR "/" + folder + "/data/" + name;
  std::ifstream in(path);
  EXPECT_TRUE(in.good()) << path;
  std::vector<Strings> rows;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    Strings& row = rows.emplace_back();
    for (std::size_t from = 0, to = 0; to != std::string::npos; from = to + 3) {
      to = line.find(" | ", from);
      row.push_back(line.substr(from, to == std::string::npos ? to : to - from));
      if (row.back() == "-") row.back().clear();
    }
  }
  return rows;
}

/// One step of a script: the words after its verb.
struct Step {
  std::string text;  // all of them
  Strings words;
  double number(std::size_t i, double otherwise = 0) const {
    return i < words.size() ? std::stod(words[i]) : otherwise;
  }
};
using Steps = std::map<std::string, std::function<void(const Step&)>>;

/// A script, or a row of a table, by name: test listings show only the name.
struct Named {
  std::string name;
  Strings lines;  // the script's lines, or the row's fields
};
inline void PrintTo(const Named& named, std::ostream* out) { *out << named.name; }

/// The scripts of tests/`folder`/data/`name`: sections named by a "[Name]" line, one line a
/// step or an expectation (see `play`).
inline std::vector<Named> scripts(const std::string& folder, const std::string& name) {
  std::vector<Named> made;
  for (const auto& row : tableRows(folder, name)) {
    std::string line = row[0];
    for (std::size_t i = 1; i < row.size(); ++i) line += " | " + row[i];
    if (line.starts_with("[")) {
      made.push_back({.name = line.substr(1, line.size() - 2), .lines = {}});
    } else if (!made.empty()) {
      made.back().lines.push_back(line);
    }
  }
  return made;
}

/// Plays one line of a script: "= STATE" compares `state()`; "STEP => TEXT" runs the step
/// with the log on, which prints TEXT ("\n" ends a line) or, without TEXT, nothing; "throws
/// STEP" ends in the application's exception; any other line is a step, its verb one of
/// `steps`.
inline void play(const std::string& line, const Steps& steps, const std::function<std::string()>& state) {
  const auto arrow = line.find(" =>");
  if (line.starts_with("= ")) {
    EXPECT_EQ(state(), line.substr(2));
  } else if (arrow != std::string::npos) {
    std::string printed = line.substr(std::min(arrow + 4, line.size()));
    for (auto at = printed.find("\\n"); at != std::string::npos; at = printed.find("\\n", at)) {
      printed.replace(at, 2, "\n");
    }
    EXPECT_EQ(logOf([&] { play(line.substr(0, arrow), steps, state); }), printed);
  } else if (line.starts_with("throws ")) {
    EXPECT_THROW(play(line.substr(7), steps, state), std::runtime_error);
  } else {
    const std::string verb = line.substr(0, line.find(' '));
    Step step{.text = line.substr(std::min(verb.size() + 1, line.size())), .words = {}};
    std::istringstream words(step.text);
    for (std::string word; words >> word;) step.words.push_back(word);
    ASSERT_TRUE(steps.contains(verb)) << "unknown step: " << line;
    steps.at(verb)(step);
  }
}

/// The names whose flag holds ("idle" for none), then " | " and what was heard ("nothing"
/// for none), which is then forgotten.
inline std::string stateLine(std::initializer_list<std::pair<bool, const char*>> flags, Strings& heard) {
  std::string made;
  for (const auto& [holds, name] : flags) {
    if (holds) made += (made.empty() ? "" : " ") + std::string(name);
  }
  made += made.empty() ? "idle |" : " |";
  for (std::size_t i = 0; i < heard.size(); ++i) made += (i == 0 ? " " : ", ") + heard[i];
  const bool none = heard.empty();
  heard.clear();
  return none ? made + " nothing" : made;
}

/// `World` is made in SetUp and undone in TearDown, so a test can start afresh by calling both.
template <class World>
class BasicLocationTest : public testing::Test {
 protected:
  void SetUp() override {
    world_.emplace();
    provider = world_->provider;
  }
  void TearDown() override {
    provider.reset();
    world_.reset();
  }

  /// Hands the provider a fix (or an error) and runs what is ready on the main queue.
  void push(const Location& fix) {
    provider->pushLocation(fix);
    MainQueue::shared().poll();
  }
  void pushError(const std::string& message) {
    provider->pushError(Error("TovikLocation", 2, message));
    MainQueue::shared().poll();
  }

  /// Drives the main queue until `predicate` holds; generous time-out.
  static bool runUntil(const std::function<bool()>& predicate) {
    return MainQueue::shared().runUntil(predicate, std::chrono::seconds(10));
  }

  /// Drives the main queue until a timer of `seconds` has fired, so that every timer
  /// due before it has had its chance too.
  static void runPast(double seconds) {
    const auto fired = std::make_shared<bool>(false);
    Timer::scheduledTimer(seconds, false, [fired](Timer&) { *fired = true; });
    ASSERT_TRUE(runUntil([fired] { return *fired; }));
  }

  std::shared_ptr<ScriptedLocationProvider> provider;

 private:
  std::optional<World> world_;
};

using LocationTestEnvironment = BasicLocationTest<PlatformWorld>;

}  // namespace tovik::test
