// Every example, built as the kit's users build it, run against the loopback server (or
// offline) and judged by what it prints and how it exits. data/examples.json holds the runs.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/child_process.h"
#include "support/file_text.h"
#include "support/test_server.h"

namespace tovik::test {
namespace {

using nlohmann::json;

// This folder's data; the service's answers are the CLI tests' own.
const std::string kHere = TOVIK_TESTS_DIR "/packaging/data";

class ExampleRun : public testing::TestWithParam<json> {};

TEST_P(ExampleRun, PrintsWhatItFound) {
  const json& c = GetParam();
  if (c.value("unsanitized", false) && TOVIK_SANITIZED) {
    GTEST_SKIP() << "a sanitized libtovik.so cannot be loaded into an unsanitized interpreter";
  }
  TestServer server;
  server.respond("POST", "/location/hub/v1/track_points",
                 CannedResponse::json(200, fileText(TOVIK_TESTS_DIR "/cli/data/location.json")));
  for (const char* path : {"/location/scenario/v1/placesearch", "/location/scenario/v1/nearbysearch"}) {
    server.respond("GET", path, CannedResponse::json(200, fileText(TOVIK_TESTS_DIR "/cli/data/places.json")));
  }
  for (const json& answer : c.value("serve", json::array())) {
    server.respond(answer["method"], answer["path"], CannedResponse::json(answer["status"], ""));
  }
  const std::string names[] = {
      "{examples}", TOVIK_EXAMPLES_BIN_DIR, "{data}",    TOVIK_TEST_DATA_DIR,   "{here}",   kHere,
      "{url}",      server.baseURL(),       "{python}",  TOVIK_PYTHON3,         "{source}", TOVIK_SOURCE_DIR,
      "{library}",  TOVIK_SHARED_LIBRARY,   "{version}", TOVIK_EXPECTED_VERSION};  // name, value
  const auto fill = [&](std::string text) {
    for (std::size_t i = 0; i < std::size(names); i += 2) {
      if (const auto at = text.find(names[i]); at != std::string::npos) text.replace(at, names[i].size(), names[i + 1]);
    }
    return text;
  };
  std::vector<std::string> argv;
  for (const std::string arg : c["argv"]) argv.push_back(fill(arg));
  ASSERT_FALSE(argv[0].empty()) << c["argv"][0] << " was not found at configuration (package python3)";
  ChildResult result = runChild(argv);
  result.out += result.err;  // as the user sees them
  EXPECT_EQ(result.status, c.value("status", 0)) << result.out;
  if (c.contains("out_file")) {
    EXPECT_EQ(result.out, fileText(kHere + "/" + c["out_file"].get<std::string>()));
  }
  for (const std::string fragment : c.value("has", json::array())) {
    EXPECT_NE(result.out.find(fill(fragment)), std::string::npos) << "missing \"" << fill(fragment) << "\" in:\n"
                                                                  << result.out;
  }
  // The point the example asked about must be the one `tovik` asks about with the same
  // arguments: the service reads GCJ-02, whatever datum the caller writes in.
  if (c.contains("same_point_as")) {
    const auto pointOf = [](const RecordedRequest& request) {
      return json::parse(request.body).at(json::json_pointer("/location/position/point"));
    };
    ASSERT_GE(server.requestCount(), 1u);
    const json asked = pointOf(server.lastRequest());
    std::vector<std::string> tool{TOVIK_TOOL};
    for (const std::string arg : c["same_point_as"]) tool.push_back(arg);
    tool.insert(tool.end(), {"--service", server.baseURL(), "--agree", "--key", "demo"});
    const ChildResult told = runChild(tool);
    EXPECT_EQ(told.status, 0) << told.err;
    EXPECT_EQ(pointOf(server.lastRequest()), asked);
  }
  if (c.contains("access_key")) {
    ASSERT_TRUE(server.waitForRequests(2));
    EXPECT_EQ(server.requests()[0].queryValue("access_key"), c["access_key"]);
    for (const std::string fragment : c.value("body_has", json::array())) {
      EXPECT_NE(server.requests()[0].body.find(fragment), std::string::npos) << server.requests()[0].body;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Examples, ExampleRun,
                         testing::ValuesIn(json::parse(fileText(kHere + "/examples.json")).get<std::vector<json>>()),
                         [](const auto& info) { return info.param["name"].template get<std::string>(); });

}  // namespace
}  // namespace tovik::test
