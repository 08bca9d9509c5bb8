#include "tovik/info/tk_version.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tovik/info/bundle_text.h"
#include "tovik/system/build_config.h"
#include "tovik/system/bundle.h"

namespace tovik {
namespace {

// Only text counts: a number such as 2 would pretend to be a version. Each key is read on
// its own (the other one holds text throughout).
TEST(BundleTextLookup, TakesTextAndFallsBackOtherwise) {
  const std::pair<std::optional<BundleValue>, std::string> rows[] = {
      {std::nullopt, "0.0.0"}, {std::string("2.3.1"), "2.3.1"},           {std::string(), ""}, {2.0, "0.0.0"},
      {true, "0.0.0"},         {std::vector<std::string>{"1.0"}, "0.0.0"}};
  for (const auto& [stored, expected] : rows) {
    Bundle bundle;
    bundle.setObject("CFBundleVersion", std::string("77"));
    if (stored) bundle.setObject("CFBundleShortVersionString", *stored);
    EXPECT_EQ(detail::bundleText(bundle, "CFBundleShortVersionString", "0.0.0"), expected) << expected;
  }
}

TEST(TkVersion, ComesFromTheKitBundleOnceAndStays) {
  Bundle& kit = Bundle::kit();
  for (int pass = 0; pass < 2; ++pass) {  // the second after the bundle changed
    EXPECT_EQ(TkVersion::sdkVersion(), TOVIK_BUNDLE_SHORT_VERSION);
    EXPECT_EQ(TkVersion::buildNumber(), TOVIK_BUNDLE_VERSION);
    kit.setObject("CFBundleShortVersionString", std::string("9.9.9"));
    kit.removeObject("CFBundleVersion");
  }
  kit.setObject("CFBundleShortVersionString", std::string(TOVIK_BUNDLE_SHORT_VERSION));  // as the build wrote them
  kit.setObject("CFBundleVersion", std::string(TOVIK_BUNDLE_VERSION));
}

}  // namespace
}  // namespace tovik
