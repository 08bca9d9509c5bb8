#include "tools/tovik/version_command.h"

#include <memory>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "tools/tovik/command_context.h"
#include "tools/tovik/exit_status.h"
#include "tools/tovik/kit_options.h"
#include "tools/tovik/output.h"
#include "tools/tovik/result_format.h"
#include "tovik/info/tk_version.h"

namespace tovik::cli {

void addVersionCommand(CLI::App& app, CommandContext& context) {
  auto json = std::make_shared<bool>(false);
  CLI::App* command = app.add_subcommand("version", "Print the kit's version and build number");
  addJsonOption(*command, *json);
  command->callback([json, &context] {
    context.action = [json, &context] {
      const std::string& version = TkVersion::sdkVersion();
      const std::string& build = TkVersion::buildNumber();
      context.output.result(*json ? jsonLine({{"sdkVersion", version}, {"buildNumber", build}})
                                  : "tovik " + version + " (build " + build + ")");
      return kExitSuccess;
    };
  });
}

}  // namespace tovik::cli
