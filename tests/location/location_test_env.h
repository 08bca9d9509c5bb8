#pragma once

// A clean, controlled location world for each test (see kit_world.h), with helpers to
// feed the scripted provider, drive the main queue and read the tables in data/. Shared by
// the location, client and reliability tests.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/data_table.h"
#include "support/escaped_text.h"
#include "support/kit_world.h"
#include "support/log_capture.h"
#include "tovik/runloop/timer.h"

namespace tovik::test {

inline Location fixAt(double latitude, double longitude, double horizontalAccuracy = 5.0) {
  return {.coordinate = {latitude, longitude}, .horizontalAccuracy = horizontalAccuracy};
}

/// The value of `Enum` called `name`, given the names of its values in order.
template <class Enum>
Enum named(const Strings& names, const std::string& name) {
  return static_cast<Enum>(std::find(names.begin(), names.end(), name) - names.begin());
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

/// The scripts of tests/`folder`/data/`name`: sections named by a "[Name]" line, one line a
/// step or an expectation (see `play`).
inline std::vector<Named> scripts(const std::string& folder, const std::string& name) {
  std::vector<Named> made;
  for (const std::string& line : dataLines(folder, name)) {
    if (line.starts_with("[")) {
      made.push_back({.name = line.substr(1, line.size() - 2), .lines = {}});
    } else if (!made.empty()) {
      made.back().lines.push_back(line);
    }
  }
  return made;
}

/// Plays one line of a script: "= STATE" compares `state()`; "STEP => TEXT" runs the step
/// with the log on, which prints TEXT ("\n" ends a line) or, without TEXT, nothing, and
/// "STEP -> TEXT" the same with the log as it is; "throws STEP" ends in the application's
/// exception; any other line is a step, its verb one of `steps`.
inline void play(const std::string& line, const Steps& steps, const std::function<std::string()>& state) {
  const auto arrow = std::min(line.find(" =>"), line.find(" ->"));
  if (line.starts_with("= ")) {
    EXPECT_EQ(state(), line.substr(2));
  } else if (arrow != std::string::npos) {
    const std::string printed = unescaped(line.substr(std::min(arrow + 4, line.size())));
    const auto run = [&] { play(line.substr(0, arrow), steps, state); };
    EXPECT_EQ(line[arrow + 1] == '=' ? logOf(run) : consoleOf(run), printed);
  } else if (line.starts_with("throws ")) {
    EXPECT_THROW(play(line.substr(7), steps, state), std::runtime_error);
  } else {
    const std::string verb = line.substr(0, line.find(' '));
    Step step{.text = line.substr(std::min(verb.size() + 1, line.size())), .words = {}};
    step.words = split(step.text, " ");
    std::erase(step.words, "");
    ASSERT_TRUE(steps.contains(verb)) << "unknown step: " << line;
    steps.at(verb)(step);
  }
}

/// The names whose flag holds ("idle" for none), then " | " and what was heard ("nothing"
/// for none), which is then forgotten.
inline std::string stateLine(std::initializer_list<std::pair<bool, const char*>> flags, Strings& heard) {
  std::string held, said;
  for (const auto& [holds, name] : flags)
    if (holds) held += (held.empty() ? "" : " ") + std::string(name);
  for (const std::string& one : heard) said += (said.empty() ? "" : ", ") + one;
  heard.clear();
  return (held.empty() ? "idle" : held) + " | " + (said.empty() ? "nothing" : said);
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
  static bool runUntil(const std::function<bool()>& predicate,
                       std::chrono::seconds timeout = std::chrono::seconds(10)) {
    return MainQueue::shared().runUntil(predicate, timeout);
  }

  /// Drives the main queue until a timer of `seconds` has fired, so that every timer
  /// due before it has had its chance too.
  static void runPast(double seconds) {
    const auto fired = std::make_shared<bool>(false);
    Timer::scheduledTimer(seconds, false, [fired](Timer&) { *fired = true; });
    ASSERT_TRUE(runUntil([fired] { return *fired; }));
  }

  /// `own` steps, and those both script players share; `heard` counts what the listener heard.
  Steps withSharedSteps(std::function<std::size_t()> heard, Steps own) {
    own.insert({
        {"fix", [this](const Step& s) { push(fixAt(s.number(0), s.number(1), s.number(2, 5))); }},
        {"error", [this](const Step& s) { pushError(s.text); }},
        {"past", [](const Step& s) { runPast(s.number(0)); }},
        {"wait", [heard](const Step& s) { EXPECT_TRUE(runUntil([&] { return heard() >= s.number(0); })); }},
        {"purpose", [](const Step& s) { Bundle::main().setObject(kWhenInUseKey, s.text); }},
        {"nopurpose", [](const Step&) { Bundle::main().removeObject(kWhenInUseKey); }},
    });
    return own;
  }

  std::shared_ptr<ScriptedLocationProvider> provider;

 private:
  std::optional<World> world_;
};

}  // namespace tovik::test
