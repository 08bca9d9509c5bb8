#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tovik/providers/authorization_status.h"
#include "tovik/system/error.h"
#include "tovik/system/location.h"
#include "tovik/system/export.h"

namespace tovik {

/// Receives what a provider reports, always on the main thread.
class TOVIK_API LocationProviderListener {
 public:
  virtual ~LocationProviderListener() = default;
  virtual void providerDidUpdateLocation(const Location& location) = 0;
  virtual void providerDidFail(const Error& error) = 0;
};

/// A source of fixes shared by every location manager of the process. The base class
/// keeps the listeners: a provider starts when its first listener arrives and stops
/// when its last one leaves. Subclasses report through `deliver` and `fail`, on the
/// main thread (readers on other threads post there first). A subclass that still runs
/// when it is destroyed stops itself in its destructor.
class TOVIK_API LocationProvider {
 public:
  virtual ~LocationProvider() = default;

  /// Listeners are held weakly; a listener that goes away is dropped (the provider
  /// notices at its next report). Adding a listener twice keeps one entry.
  void addListener(const std::shared_ptr<LocationProviderListener>& listener);
  void removeListener(const LocationProviderListener* listener);
  bool hasListeners() const;

  /// The error of the spell of failures the provider is in, if it is in one: a source
  /// reports a failure once, and a session that starts during the spell hears it from
  /// here. Cleared by the next fix, a recovery, or the provider stopping.
  const std::optional<Error>& currentFailure() const { return failure_; }

  virtual AuthorizationStatus authorizationStatus() const = 0;
  virtual void requestWhenInUseAuthorization() {}
  virtual void requestAlwaysAuthorization() {}

 protected:
  virtual void startUpdates() = 0;
  virtual void stopUpdates() = 0;
  /// Hands `location` to every listener, stamped with this source's name and simulated flag
  /// (see `identify`) unless it already names a source.
  void deliver(const Location& location);
  /// How this source's fixes name it; unset, they keep the source they carry.
  void identify(std::string name, bool simulated) {
    sourceName_ = std::move(name);
    simulated_ = simulated;
  }
  /// Reports `error` to every listener.
  void fail(const Error& error);
  /// Reports `error` and notes it as the current failure: the source stays failed until
  /// it recovers, and managers that start meanwhile hear it too.
  void enterFailure(const Error& error);
  /// Notes the current failure without reporting it now (managers that start ask for it).
  void noteFailure(const Error& error) { failure_ = error; }
  /// The source works again (a fix will follow): the spell of failures is over.
  void recovered() { failure_.reset(); }

 private:
  void dropExpiredListeners();
  void stopIfUnused();

  std::vector<std::weak_ptr<LocationProviderListener>> listeners_;
  bool started_ = false;
  std::optional<Error> failure_;
  std::string sourceName_;
  bool simulated_ = false;
};

}  // namespace tovik
