#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace tovik {

/// The reader thread of a provider that feeds fixes from a blocking source. `start` runs a
/// body on a new thread (after stopping the previous one); `stop` asks it to stop and joins
/// it. The body checks `stopping` and sleeps with `waitFor` / `waitUntil`, which return early
/// on a stop, and hands its results over with `post`: the work then runs on the main queue,
/// but only while the run that posted it is still current, so nothing from a stopped run or
/// from a reader that is gone arrives. Destroying the reader stops it.
///
/// `start` and `stop` are for the main thread; `stopping`, the waits and `post` for the body.
class ProviderReader {
 public:
  ProviderReader();
  ~ProviderReader();
  ProviderReader(const ProviderReader&) = delete;
  ProviderReader& operator=(const ProviderReader&) = delete;

  void start(std::function<void()> body);
  void stop();

  bool stopping() const;
  /// Sleep for `delay` or until a stop; false on a stop.
  bool waitFor(std::chrono::steady_clock::duration delay) const;
  /// Sleep until `until` or a stop; false on a stop.
  bool waitUntil(std::chrono::steady_clock::time_point until) const;
  void post(std::function<void()> work) const;

 private:
  struct State;
  std::shared_ptr<State> state_;
  std::thread thread_;
  unsigned threadRun_ = 0;  // the run of `thread_`; set only while no thread runs
};

}  // namespace tovik
