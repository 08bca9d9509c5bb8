#include "tools/tovik/kit_options.h"

#include <CLI/CLI.hpp>

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
  command.add_flag("--log", options.log, "Show the kit's log (on standard error)");
  addJsonOption(command, options.json);
}

void addJsonOption(CLI::App& command, bool& json) {
  command.add_flag("--json", json, "Print results as JSON, one document per line");
}

}  // namespace tovik::cli
