#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tovik {

/// The reader thread of a provider that feeds fixes from a blocking source. `start` runs a
/// body on a new thread (after stopping the previous run); `stop` asks the run to end and
/// returns at once, without waiting for the thread: a body blocked in a call it cannot
/// leave (a connect to a host that does not answer) ends when that call returns, and until
/// then only its own run's state is alive. Nothing from a stopped run reaches the main queue.
///
/// The body gets its `Run`: it checks `stopping`, sleeps with `waitFor` / `waitUntil` (which
/// return early on a stop), polls `stopDescriptor` beside its own descriptors, and hands its
/// results over with `post`. It must not touch its provider from the reader thread: what it
/// needs it takes by value, and the provider is only reached inside posted work, which runs
/// on the main thread and only while the run is current. Destroying the reader stops it.
///
/// `start` and `stop` are for the main thread; the `Run` is for the body.
class ProviderReader {
 public:
  /// "host:port", with an IPv6 host in brackets, for texts that name an endpoint.
  static std::string endpointText(const std::string& host, std::uint16_t port);

  class Run {
   public:
    bool stopping() const;
    /// Sleep for `delay` or until a stop; false on a stop.
    bool waitFor(std::chrono::steady_clock::duration delay) const;
    /// Sleep until `until` or a stop; false on a stop.
    bool waitUntil(std::chrono::steady_clock::time_point until) const;
    /// A descriptor that becomes readable when the run is asked to stop (for poll).
    int stopDescriptor() const;
    /// Runs `work` on the main queue unless the run has been stopped by then.
    void post(std::function<void()> work) const;

    struct State;
    explicit Run(std::shared_ptr<State> state) : state_(std::move(state)) {}

   private:
    std::shared_ptr<State> state_;
  };

  ProviderReader() = default;
  ~ProviderReader();
  ProviderReader(const ProviderReader&) = delete;
  ProviderReader& operator=(const ProviderReader&) = delete;

  /// False when no thread could be started (the body then never runs).
  bool start(std::function<void(const Run&)> body);
  void stop();

 private:
  std::shared_ptr<Run::State> current_;
};

}  // namespace tovik
