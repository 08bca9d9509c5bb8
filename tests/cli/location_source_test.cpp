#include "tools/tovik/location_source.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/tovik/usage_error.h"

namespace tovik::cli {
namespace {

TEST(LocationSourceTest, ReadsEveryForm) {
  struct Case {
    std::string text;
    LocationSource expected;
  };
  const std::vector<Case> cases = {
      {"auto", AutoSource{}},
      {"geoclue", GeoclueSource{}},
      {"gpsd", GpsdSource{}},
      {"gpsd:", GpsdSource{}},
      {"gpsd:gps.local", GpsdSource{.host = "gps.local"}},
      {"gpsd:127.0.0.1:40000", GpsdSource{.host = "127.0.0.1", .port = 40000}},
      {"gpsd::40000", GpsdSource{.port = 40000}},
      {"gpsd:[::1]", GpsdSource{.host = "::1"}},
      {"gpsd:[::1]:2950", GpsdSource{.host = "::1", .port = 2950}},
      {"nmea:data/walk.nmea", NmeaSource{.path = "data/walk.nmea"}},
      {"nmea:walk.nmea@10", NmeaSource{.path = "walk.nmea", .speed = 10.0}},
      {"nmea:walk.nmea@0", NmeaSource{.path = "walk.nmea", .speed = 0.0}},
      {"nmea:me@home/walk.nmea", NmeaSource{.path = "me@home/walk.nmea"}},  // not a speed
      {"nmea:a@b.nmea@2.5", NmeaSource{.path = "a@b.nmea", .speed = 2.5}},
      {"fix:39.9,116.4", FixSource{.latitude = 39.9, .longitude = 116.4}},
      {"fix:-33.86,151.2,12.5", FixSource{.latitude = -33.86, .longitude = 151.2, .accuracy = 12.5}},
      {"fix:95,200", FixSource{.latitude = 95, .longitude = 200}},  // out of range is the kit's business
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parseLocationSource(c.text), c.expected) << c.text;
  }
}

TEST(LocationSourceTest, RejectsWithTheReason) {
  struct Case {
    std::string text;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {"", "unknown source ''"},
      {"gps", "unknown source 'gps'"},
      {"file:walk.nmea", "use auto, gpsd[:HOST[:PORT]], geoclue, nmea:FILE[@SPEED] or fix:LAT,LON[,ACCURACY]"},
      {"geoclue:system", "unknown source 'geoclue:system'"},
      {"auto:", "unknown source 'auto:'"},
      {"gpsd:host:0", "port must be a number from 1 to 65535, got '0'"},
      {"gpsd:host:65536", "got '65536'"},
      {"gpsd:host:http", "got 'http'"},
      {"gpsd:host:", "port is empty"},
      {"gpsd:::1", "IPv6 address in brackets"},
      {"gpsd:[::1", "missing ']'"},
      {"gpsd:[::1]2947", "expected ':PORT' after ']'"},
      {"nmea:", "nmea needs a file"},
      {"nmea:@2", "nmea needs a file"},
      {"nmea:walk.nmea@-1", "replay speed must be 0 (as fast as possible) or positive, got '-1'"},
      {"fix:", "fix latitude: expected a number, got ''"},
      {"fix:north,116.4", "fix latitude: expected a number, got 'north'"},
      {"fix:39.9", "fix takes LAT,LON[,ACCURACY]"},
      {"fix:39.9,nan", "fix longitude: expected a number, got 'nan'"},
      {"fix:39.9,116.4,good", "fix accuracy: expected a number, got 'good'"},
      {"fix:1,2,3,4", "fix takes LAT,LON[,ACCURACY]"},
  };
  for (const Case& c : cases) {
    try {
      parseLocationSource(c.text);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const UsageError& error) {
      const std::string message = error.what();
      EXPECT_EQ(message.rfind("--source: ", 0), 0u) << message;
      EXPECT_NE(message.find(c.reason), std::string::npos) << c.text << " -> " << message;
    }
  }
}

}  // namespace
}  // namespace tovik::cli
