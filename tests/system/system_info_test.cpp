#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <tuple>

#include "support/log_capture.h"
#include "tovik/system/bundle.h"
#include "tovik/system/console.h"
#include "tovik/system/device.h"
#include "tovik/system/error.h"
#include "tovik/system/uuid.h"

namespace tovik::test {
namespace {

// Reads a made-up file system root.
TEST(DeviceTest, ReadsDmiOsReleaseAndMachineIdOrFallsBack) {
  const auto root = std::filesystem::temp_directory_path() / ("tovik-device-" + Uuid::random());
  const auto write = [&](const std::string& relative, const std::string& contents) {
    std::filesystem::create_directories((root / relative).parent_path());
    std::ofstream(root / relative) << contents;
  };
  const auto read = [&] { return Device::readFromSystem(root.string()); };
  const Device bare = read();  // uname's answers, and no machine id: no identifier
  EXPECT_EQ(std::tie(bare.manufacturer, bare.systemName, bare.identifierForVendor),
            std::tuple("unknown", "Linux", std::nullopt));
  EXPECT_FALSE(bare.model.empty() || bare.systemVersion.empty());
  write("var/lib/dbus/machine-id", "fedcba9876543210fedcba9876543210");
  EXPECT_TRUE(read().identifierForVendor);
  write("sys/class/dmi/id/product_name", "Box 9000\xFF\n");  // firmware text that is not UTF-8
  EXPECT_EQ(read().model, "Box 9000\xEF\xBF\xBD");

  write("sys/class/dmi/id/sys_vendor", "  QEMU \n");
  write("sys/class/dmi/id/product_name", "Standard PC (Q35 + ICH9, 2009)\n");
  write("etc/os-release",
        "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nNAME=\"Debian GNU/Linux\"\nVERSION_ID='12'\n");
  write("etc/machine-id", "0123456789abcdef0123456789abcdef\n");
  Bundle::main().setObject("CFBundleIdentifier", std::string("com.example.app"));
  const Device device = read();
  EXPECT_EQ(std::tie(device.manufacturer, device.model, device.systemName, device.systemVersion),
            std::tuple("QEMU", "Standard PC (Q35 + ICH9, 2009)", "Debian GNU/Linux", "12"));
  // HMAC-SHA-256 keyed with the machine ID over the host's identifier, as a version-4 UUID.
  EXPECT_EQ(device.identifierForVendor, "B41439F7-AB76-403F-8C74-75B4EAA8FD76");
  Bundle::main().setObject("CFBundleIdentifier", std::string("com.example.other"));
  EXPECT_NE(device.identifierForVendor, read().identifierForVendor);
  Bundle::main().removeObject("CFBundleIdentifier");
  std::filesystem::remove_all(root);
}

// 8-4-4-4-12 upper-case hex digits, version 4, the RFC 4122 variant; random ones distinct.
TEST(UuidTest, RandomOnesAreCanonicalAndDistinctApplicationSpecificOnesVersion4) {
  const std::regex version4("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
  std::set<std::string> seen;
  for (int i = 0; i < 1000; ++i) {
    const std::string uuid = Uuid::random();
    ASSERT_TRUE(std::regex_match(uuid, version4)) << uuid;
    seen.insert(uuid);
  }
  EXPECT_EQ(seen.size(), 1000u);
  EXPECT_TRUE(std::regex_match(Uuid::applicationSpecific("not hex", ""), version4));
  EXPECT_NE(Uuid::applicationSpecific("m", "com.example.app"), Uuid::applicationSpecific("m", "com.example.apq"));
}

TEST(ErrorTest, WrappedAndRewordedDescriptions) {
  const Error plain("NSURLErrorDomain", -1001, "请求超时");
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
TEST(ConsoleTest, TheHandlerGetsWhatStandardOutputWouldAndMayThrow) {
  setLogEnabled(true);
  EXPECT_EQ(test::consoleOf([] {
              sdkLog({"a", "b"}, "-", "!\n");
              consoleLine("banner");
            }),
            "a-b!\nbanner\n");
  setLogHandler([](std::string_view) { throw std::runtime_error("full"); });
  EXPECT_NO_THROW(sdkLog("lost"));
  EXPECT_NO_THROW(consoleLine("lost too"));
  setLogHandler(nullptr);
  setLogEnabled(false);
}

}  // namespace tovik::test
