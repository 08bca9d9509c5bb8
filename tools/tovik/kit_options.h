#pragma once

#include <optional>
#include <string>

#include "tovik/client/service_policy.h"

namespace CLI {
class App;
}

namespace tovik::cli {

using tovik::ServicePolicy;

/// The options every command that uses the kit's facade takes.
struct KitOptions {
  std::string serviceURL;  // the build's service address unless --service
  std::optional<std::string> key;
  std::optional<std::string> poiKey;
  bool agree = false;
  bool log = false;
  bool json = false;
  bool fixes = false;  // locate --fixes
  // The service policy as written; checked by `servicePolicyOf`.
  bool backoff = false;
  std::optional<std::string> retries;
  std::optional<std::string> fallback;
  std::optional<std::string> cache;
};

/// The policy the options ask for; a `UsageError` names an option that makes no sense.
ServicePolicy servicePolicyOf(const KitOptions& options);

/// Adds --service, --key, --poi-key, --agree, --log and --json to `command`.
void addKitOptions(CLI::App& command, KitOptions& options);
/// Adds --json alone, for the commands that do not use the facade.
void addJsonOption(CLI::App& command, bool& json);

}  // namespace tovik::cli
