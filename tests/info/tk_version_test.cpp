#include "tovik/info/tk_version.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tovik/system/build_config.h"
#include "tovik/info/bundle_text.h"
#include "tovik/system/bundle.h"

namespace tovik {
namespace {

struct LookupCase {
  const char* name;
  std::optional<BundleValue> stored;
  std::string expected;
};

class BundleTextLookup : public testing::TestWithParam<LookupCase> {};

TEST_P(BundleTextLookup, TakesTextAndFallsBackOtherwise) {
  const auto& c = GetParam();
  Bundle bundle;
  if (c.stored) {
    bundle.setObject("CFBundleShortVersionString", *c.stored);
  }
  EXPECT_EQ(detail::bundleText(bundle, "CFBundleShortVersionString", "0.0.0"), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, BundleTextLookup,
    testing::Values(LookupCase{"Missing", std::nullopt, "0.0.0"}, LookupCase{"Text", BundleValue{std::string("2.3.1")}, "2.3.1"},
                    LookupCase{"EmptyTextIsText", BundleValue{std::string()}, ""},
                    // A number is not converted: "2" would pretend to be a version.
                    LookupCase{"Number", BundleValue{2.0}, "0.0.0"}, LookupCase{"Bool", BundleValue{true}, "0.0.0"},
                    LookupCase{"List", BundleValue{std::vector<std::string>{"1.0"}}, "0.0.0"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BundleTextLookup, KeysAreIndependent) {
  Bundle bundle;
  bundle.setObject("CFBundleShortVersionString", std::string("4.5.6"));
  bundle.setObject("CFBundleVersion", 77.0);
  EXPECT_EQ(detail::bundleText(bundle, "CFBundleShortVersionString", "0.0.0"), "4.5.6");
  EXPECT_EQ(detail::bundleText(bundle, "CFBundleVersion", "0"), "0");
}

TEST(TkVersion, ComesFromTheKitBundleOnceAndStays) {
  Bundle& kit = Bundle::kit();
  const auto savedVersion = kit.objectForInfoDictionaryKey("CFBundleShortVersionString");
  const auto savedBuild = kit.objectForInfoDictionaryKey("CFBundleVersion");

  EXPECT_EQ(TkVersion::sdkVersion(), TOVIK_BUNDLE_SHORT_VERSION);
  EXPECT_EQ(TkVersion::buildNumber(), TOVIK_BUNDLE_VERSION);

  kit.setObject("CFBundleShortVersionString", std::string("9.9.9"));
  kit.removeObject("CFBundleVersion");
  EXPECT_EQ(TkVersion::sdkVersion(), TOVIK_BUNDLE_SHORT_VERSION);
  EXPECT_EQ(TkVersion::buildNumber(), TOVIK_BUNDLE_VERSION);

  for (const auto& [key, saved] : {std::pair{"CFBundleShortVersionString", savedVersion},
                                   std::pair{"CFBundleVersion", savedBuild}}) {
    if (saved) {
      kit.setObject(key, *saved);
    } else {
      kit.removeObject(key);
    }
  }
}

}  // namespace
}  // namespace tovik
