#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "tovik/info/build_config.h"
#include "tovik/platform/bundle.h"
#include "tovik/platform/clock.h"
#include "tovik/platform/device.h"
#include "tovik/platform/error.h"
#include "tovik/platform/uuid.h"

namespace tovik {
namespace {

TEST(BundleTest, KitBundleCarriesTheBuildVersion) {
  const auto shortVersion = Bundle::kit().objectForInfoDictionaryKey("CFBundleShortVersionString");
  const auto version = Bundle::kit().objectForInfoDictionaryKey("CFBundleVersion");
  ASSERT_TRUE(shortVersion && version);
  EXPECT_EQ(std::get<std::string>(*shortVersion), TOVIK_BUNDLE_SHORT_VERSION);
  EXPECT_EQ(std::get<std::string>(*version), TOVIK_BUNDLE_VERSION);
}

TEST(BundleTest, MainBundleHoldsWhatTheHostSets) {
  Bundle& bundle = Bundle::main();
  bundle.setObject("UIBackgroundModes", std::vector<std::string>{"location"});
  const auto modes = bundle.objectForInfoDictionaryKey("UIBackgroundModes");
  ASSERT_TRUE(modes);
  EXPECT_EQ(std::get<std::vector<std::string>>(*modes), std::vector<std::string>{"location"});
  bundle.removeObject("UIBackgroundModes");
  EXPECT_FALSE(bundle.objectForInfoDictionaryKey("UIBackgroundModes"));
}

class FakeRoot {
 public:
  FakeRoot() : path_(std::filesystem::temp_directory_path() / ("tovik-device-" + Uuid::random())) {
    std::filesystem::create_directories(path_);
  }
  ~FakeRoot() { std::filesystem::remove_all(path_); }
  void write(const std::string& relative, const std::string& contents) const {
    std::filesystem::create_directories((path_ / relative).parent_path());
    std::ofstream(path_ / relative) << contents;
  }
  std::string path() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

TEST(DeviceTest, ReadsDmiOsReleaseAndMachineId) {
  FakeRoot root;
  root.write("sys/class/dmi/id/sys_vendor", "  QEMU \n");
  root.write("sys/class/dmi/id/product_name", "Standard PC (Q35 + ICH9, 2009)\n");
  root.write("etc/os-release", "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nNAME=\"Debian GNU/Linux\"\n"
                               "VERSION_ID='12'\nID=debian\n");
  root.write("etc/machine-id", "0123456789abcdef0123456789abcdef\n");
  Bundle::main().setObject("CFBundleIdentifier", std::string("com.example.app"));
  const Device device = Device::readFromSystem(root.path());
  EXPECT_EQ(device.manufacturer, "QEMU");
  EXPECT_EQ(device.model, "Standard PC (Q35 + ICH9, 2009)");
  EXPECT_EQ(device.systemName, "Debian GNU/Linux");
  EXPECT_EQ(device.systemVersion, "12");
  ASSERT_TRUE(device.identifierForVendor);
  EXPECT_EQ(device.identifierForVendor, Device::readFromSystem(root.path()).identifierForVendor);

  Bundle::main().setObject("CFBundleIdentifier", std::string("com.example.other"));
  EXPECT_NE(device.identifierForVendor, Device::readFromSystem(root.path()).identifierForVendor);
  Bundle::main().removeObject("CFBundleIdentifier");
}

TEST(DeviceTest, FallsBackWhenFilesAreMissing) {
  FakeRoot root;
  const Device device = Device::readFromSystem(root.path());
  EXPECT_EQ(device.manufacturer, "unknown");
  EXPECT_FALSE(device.model.empty());          // the architecture
  EXPECT_EQ(device.systemName, "Linux");       // uname
  EXPECT_FALSE(device.systemVersion.empty());
  EXPECT_FALSE(device.identifierForVendor);    // no machine id, no identifier

  root.write("var/lib/dbus/machine-id", "fedcba9876543210fedcba9876543210");
  EXPECT_TRUE(Device::readFromSystem(root.path()).identifierForVendor);
}

TEST(DeviceTest, CurrentCanBeReplaced) {
  const Device real = Device::current();
  Device fake;
  fake.model = "TestPhone";
  fake.identifierForVendor = std::nullopt;
  Device::setCurrent(fake);
  EXPECT_EQ(Device::current().model, "TestPhone");
  EXPECT_FALSE(Device::current().identifierForVendor);
  Device::setCurrent(std::nullopt);
  EXPECT_EQ(Device::current().model, real.model);
}

// 8-4-4-4-12 upper-case hex digits, the given version, the RFC 4122 variant.
bool isCanonical(const std::string& uuid, char version) {
  if (uuid.size() != 36) return false;
  for (std::size_t i = 0; i < uuid.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    const char c = uuid[i];
    if (dash != (c == '-')) return false;
    if (!dash && !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return uuid[14] == version && std::string("89AB").find(uuid[19]) != std::string::npos;
}

TEST(UuidTest, RandomUuidsAreCanonicalVersion4AndDistinct) {
  std::set<std::string> seen;
  for (int i = 0; i < 1000; ++i) {
    const std::string uuid = Uuid::random();
    ASSERT_TRUE(isCanonical(uuid, '4')) << uuid;
    seen.insert(uuid);
  }
  EXPECT_EQ(seen.size(), 1000u);
}

TEST(UuidTest, NameBasedUuidsAreStable) {
  const std::string uuid = Uuid::fromStableName("machine/com.example.app");
  EXPECT_TRUE(isCanonical(uuid, '5')) << uuid;
  // Fixed across builds and releases: a device keeps its identifier.
  EXPECT_EQ(uuid, Uuid::fromStableName("machine/com.example.app"));
  EXPECT_EQ(Uuid::fromStableName(""), Uuid::fromStableName(""));
  EXPECT_NE(uuid, Uuid::fromStableName("machine/com.example.apq"));
  EXPECT_EQ(Uuid::fromStableName("tovik"), "17C60F9D-1A65-5BBC-8868-DCB82E4EFA61");
}

TEST(ClockTest, PinHoldsTheClockUntilReleased) {
  Clock::pin(1714528800.5);
  EXPECT_EQ(Clock::now(), 1714528800.5);
  Clock::pin(std::nullopt);
  const double now = Clock::now();
  EXPECT_GT(now, 1.7e9);
  EXPECT_NE(now, 1714528800.5);
}

TEST(ErrorTest, DescriptionsReadWell) {
  const Error plain("NSURLErrorDomain", -1001, "请求超时");
  EXPECT_EQ(plain.description(), "Error Domain=NSURLErrorDomain Code=-1001 \"请求超时\"");
  const Error wrapped = Error("Outer", 2, "outer").withUnderlying(plain);
  EXPECT_EQ(wrapped.description(),
            "Error Domain=Outer Code=2 \"outer\" UserInfo={NSUnderlyingError=" + plain.description() + "}");
  ASSERT_NE(wrapped.underlying(), nullptr);
  EXPECT_EQ(wrapped.underlying()->code(), -1001);
  const Error custom = plain.withDescription("custom text");
  EXPECT_EQ(custom.description(), "custom text");
  EXPECT_EQ(custom.localizedDescription(), "请求超时");
}

}  // namespace
}  // namespace tovik
