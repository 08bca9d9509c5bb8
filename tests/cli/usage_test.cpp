// Exit statuses and messages of the real binary for command lines it cannot act on.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/tool_process.h"

namespace tovik::test {
namespace {

TEST(CliUsageTest, BadCommandLinesExitWithTwoAndSayWhichArgument) {
  struct Case {
    std::vector<std::string> args;
    std::string says;
  };
  const std::vector<Case> cases = {
      {{}, "A subcommand is required"},
      {{"where"}, "tovik: unknown command 'where'"},
      {{"reverse", "north", "116.4"}, "tovik reverse: LAT: expected a number, got 'north'"},
      {{"reverse", "39.9", "1,5"}, "tovik reverse: LON: expected a number, got '1,5'"},
      {{"reverse", "inf", "116.4"}, "tovik reverse: LAT: expected a number, got 'inf'"},
      {{"reverse", "39.9"}, "LON is required"},
      {{"distance", "1", "2", "3", "x"}, "tovik distance: LON2: expected a number, got 'x'"},
      {{"transform", "wgs84", "utm", "1", "2"}, "tovik transform: TO: unknown datum 'utm' (use wgs84, gcj02 or bd09)"},
      {{"transform", "wgs84", "gcj02", "39.9"}, "LON: missing"},
      {{"poi", "cafe", "--city", "北京"}, "--city-code is required"},
      {{"poi", "cafe", "--city", "北京", "--city-code", "110000", "--page-size", "ten"},
       "tovik poi: --page-size: expected a whole number, got 'ten'"},
      {{"nearby", "cafe", "--location", "116.4,39.9", "--radius", "3000000000"},
       "tovik nearby: --radius: 3000000000 is out of range"},
      {{"locate", "--count", "3"}, "--count requires --continuous"},
      {{"locate", "--continuous", "--count", "0"}, "tovik locate: --count: must be at least 1, got 0"},
      {{"locate", "--once", "--continuous"}, "--once excludes --continuous"},
      {{"locate", "--continuous", "--interval", "soon"}, "tovik locate: --interval: expected a number, got 'soon'"},
      {{"locate", "--source", "fix:39.9"}, "tovik locate: --source: fix takes LAT,LON[,ACCURACY]"},
      {{"version", "--agree"}, "--agree"},
  };
  for (const Case& c : cases) {
    const ToolResult result = runTool(c.args);
    std::string line = "tovik";
    for (const auto& arg : c.args) line += " " + arg;
    EXPECT_EQ(result.status, 2) << line << "\n" << result.err;
    EXPECT_NE(result.err.find(c.says), std::string::npos) << line << "\n" << result.err;
    EXPECT_TRUE(result.out.empty()) << line << "\n" << result.out;
  }
}

TEST(CliUsageTest, EverySubcommandHasHelp) {
  for (const std::string command : {"locate", "reverse", "geocode", "poi", "nearby", "transform", "distance", "version"}) {
    const ToolResult result = runTool({command, "--help"});
    EXPECT_EQ(result.status, 0) << command;
    EXPECT_NE(result.out.find("Usage: tovik " + command), std::string::npos) << result.out;
  }
  const ToolResult top = runTool({"--help"});
  EXPECT_EQ(top.status, 0);
  for (const std::string command : {"locate", "reverse", "geocode", "poi", "nearby", "transform", "distance", "version"}) {
    EXPECT_NE(top.out.find(command), std::string::npos) << command;
  }
}

}  // namespace
}  // namespace tovik::test
