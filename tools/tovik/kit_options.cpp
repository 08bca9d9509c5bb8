#include "tools/tovik/kit_options.h"

#include <CLI/CLI.hpp>

#include "tools/tovik/number_arguments.h"
#include "tools/tovik/usage_error.h"
#include "tovik/client/tk_client_location.h"
#include "tovik/system/build_config.h"

namespace tovik::cli {

void addKitOptions(CLI::App& command, KitOptions& options) {
  options.serviceURL = TOVIK_DEFAULT_SERVICE_URL;
  command.add_option("--service", options.serviceURL, "Base address of the location service")
      ->type_name("URL")
      ->capture_default_str()
      ->check(
          [](const std::string& url) {
            const auto problem = TkClientLocation::serviceURLProblem(url);
            return problem ? url + ": " + *problem : std::string();
          },
          "URL");
  command.add_option_function<std::string>(
      "--key", [&options](const std::string& key) { options.key = key; }, "Access key")
      ->type_name("K");
  command.add_option_function<std::string>(
      "--poi-key", [&options](const std::string& key) { options.poiKey = key; },
      "Key for the place searches (default: the access key)")
      ->type_name("K");
  command.add_flag("--agree", options.agree, "The user has agreed to the privacy policy");
  command.add_flag("--backoff", options.backoff,
                   "A continuous session skips a tick while its upload is out or the service asked to wait");
  command.add_option("--retries", options.retries, "Send a failed call again up to N times when safe")
      ->type_name("N");
  command.add_option("--fallback", options.fallback,
                     "unreachable: answer a session's fix locally when the service cannot be reached")
      ->type_name("WHEN")
      ->check(CLI::IsMember({"unreachable"}));
  command.add_option("--cache", options.cache,
                     "Answer lookups near a recent one from a cache: METRES[,SECONDS] (default 300 s)")
      ->type_name("METRES[,SECONDS]");
  command.add_flag("--log", options.log, "Show the kit's log (on standard error)");
  addJsonOption(command, options.json);
}

ServicePolicy servicePolicyOf(const KitOptions& options) {
  ServicePolicy policy;
  policy.backoff = options.backoff;
  policy.offlineWhenUnreachable = options.fallback.has_value();
  if (options.retries) {
    policy.retries = parseInt32("--retries", *options.retries);
    if (policy.retries < 0) {
      throw UsageError("--retries: must be at least 0, got " + *options.retries);
    }
  }
  if (options.cache) {
    const std::string& text = *options.cache;
    const auto comma = text.find(',');
    policy.cacheMetres = parseNumber("--cache", text.substr(0, comma));
    if (comma != std::string::npos) {
      policy.cacheSeconds = parseNumber("--cache", text.substr(comma + 1));
    }
    if (!(policy.cacheMetres > 0) || !(policy.cacheSeconds > 0)) {
      throw UsageError("--cache: metres and seconds must be above 0, got " + text);
    }
  }
  return policy;
}

void addJsonOption(CLI::App& command, bool& json) {
  command.add_flag("--json", json, "Print results as JSON, one document per line");
}

}  // namespace tovik::cli
