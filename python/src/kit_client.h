#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <tovik/tovik.h>

#include "kit_call.h"

namespace tovik::python {

/// What every call of one `tovik.Client` is made with, and the calls themselves: each gets a
/// facade of its own configured from these settings.
class KitClient {
 public:
  struct Settings {
    std::optional<std::string> key;      ///< the access key; none: the kit's own refusal
    std::optional<std::string> poiKey;   ///< the place searches' key; none: `key`
    std::optional<std::string> service;  ///< the service's base address; none: the build's
    bool agree = false;                  ///< the user agreed to the privacy policy
    std::optional<std::string> purpose;  ///< why the program asks for the device's location
  };

  explicit KitClient(Settings settings) : settings_(std::move(settings)) {}

  /// Starts `call` on a fresh facade (main thread).
  std::shared_ptr<KitCall> start(const std::function<void(TkClientLocation&)>& call) const;
  /// Starts a single (or fast) location session; `purpose`, when set, is declared first.
  std::shared_ptr<KitCall> locate(bool fast) const;

 private:
  Settings settings_;
};

}  // namespace tovik::python
