#include "tovik/platform/nmea_parser.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "tovik/platform/nmea_epoch_assembler.h"

namespace tovik {
namespace {

using Failure = NmeaParser::Failure;

// Frames a sentence body with its checksum.
std::string framed(const std::string& body) {
  char tail[8];
  std::snprintf(tail, sizeof tail, "*%02X", NmeaParser::checksum(body));
  return "$" + body + tail;
}

const std::string kGga = framed("GNGGA,020000.00,3954.5220,N,11623.8500,E,1,10,0.8,44.3,M,-9.0,M,,");
const std::string kGsa = framed("GNGSA,A,3,01,03,08,11,14,17,19,22,28,32,,,1.4,0.8,1.2");
const std::string kRmc = framed("GNRMC,020000.00,A,3954.5220,N,11623.8500,E,2.72,90.0,010524,,,A");

// The values themselves are checked through the assembled fix below.
TEST(NmeaParserTest, ReadsAnyTalkersGgaRmcAndGsa) {
  const auto gga = NmeaParser::parse(kGga);
  ASSERT_TRUE(gga && std::holds_alternative<NmeaGga>(*gga));
  EXPECT_EQ(std::get<NmeaGga>(*gga).talker, "GN");
  EXPECT_EQ(std::get<NmeaGga>(*gga).satellites, 10);
  const auto rmc = NmeaParser::parse(framed("BDRMC,235959.999,A,3954.5220,N,11623.8500,E,0.0,0.0,291299,,"));
  ASSERT_TRUE(rmc && std::holds_alternative<NmeaRmc>(*rmc));
  EXPECT_EQ(std::get<NmeaRmc>(*rmc).time, std::chrono::milliseconds(86'399'999));
  EXPECT_EQ(std::get<NmeaRmc>(*rmc).date, std::chrono::year(1999) / 12 / 29);
  const auto gsa = NmeaParser::parse(framed("GAGSA,A,2,,,,,,,,,,,,,,,"));  // every field empty
  ASSERT_TRUE(gsa && std::holds_alternative<NmeaGsa>(*gsa));
  EXPECT_EQ(std::get<NmeaGsa>(*gsa).fixType, 2);
  EXPECT_FALSE(std::get<NmeaGsa>(*gsa).vdop);
}

TEST(NmeaParserTest, HemispheresGiveSigns) {
  struct Case {
    const char* latLon;
    double latitude;
    double longitude;
  };
  for (const Case& c : {Case{"3354.0000,S,15112.0000,E", -33.9, 151.2},
                        Case{"5130.0000,N,00007.5000,W", 51.5, -0.125},
                        Case{"2230.0000,S,04315.0000,W", -22.5, -43.25},
                        Case{"9000.0000,N,18000.0000,E", 90.0, 180.0}}) {
    const auto sentence = NmeaParser::parse(framed(std::string("GPGGA,120000,") + c.latLon + ",1,08,1.0,10.0,M,,M,,"));
    ASSERT_TRUE(sentence) << c.latLon;
    const auto& position = std::get<NmeaGga>(*sentence).position;
    ASSERT_TRUE(position);
    EXPECT_NEAR(position->latitude, c.latitude, 1e-12) << c.latLon;
    EXPECT_NEAR(position->longitude, c.longitude, 1e-12) << c.latLon;
  }
}

TEST(NmeaParserTest, EmptyFieldsAreAbsentValues) {
  const auto sentence = NmeaParser::parse(framed("GPGGA,020002.00,,,,,0,00,,,M,,M,,"));
  ASSERT_TRUE(sentence);
  const auto& g = std::get<NmeaGga>(*sentence);
  EXPECT_FALSE(g.position);
  EXPECT_FALSE(g.hdop);
  EXPECT_FALSE(g.altitudeMsl);
  EXPECT_EQ(g.quality, 0);

  const auto rmc = NmeaParser::parse(framed("GPRMC,020002.00,V,,,,,,,010524,,,N"));
  ASSERT_TRUE(rmc);
  EXPECT_FALSE(std::get<NmeaRmc>(*rmc).valid);
  EXPECT_FALSE(std::get<NmeaRmc>(*rmc).course);
}

TEST(NmeaParserTest, RejectsBadLinesWithTheirReason) {
  std::string badChecksum = kGga;
  badChecksum.back() = badChecksum.back() == '0' ? '1' : '0';
  struct Case {
    std::string line;
    std::optional<Failure> failure;  // none: accepted
  };
  const std::vector<Case> cases = {
      {"", Failure::blank},
      {"  \r\n", Failure::blank},
      {"hello, world", Failure::notASentence},
      {"GPGGA,020000.00*00", Failure::notASentence},
      {kGga.substr(0, 30), Failure::malformed},                     // truncated: no checksum
      {kGga.substr(0, kGga.size() - 1), Failure::malformed},        // one checksum digit
      {kGga + "0", Failure::malformed},                             // three checksum digits
      {kGga.substr(0, kGga.size() - 2) + "G1", Failure::malformed},  // not hex
      {badChecksum, Failure::badChecksum},
      {kGga + "\r\n", std::nullopt},
      {"$GNGGA,020003.00,3954.5280,N,11623.8560,E,1,12,1.0,44.3,M,-9.0,M,,*5e", std::nullopt},  // lower-case hex
      {"$" + kGga, Failure::malformed},
      {framed("GPGSV,3,1,11,01,45,120,40"), Failure::unsupportedSentence},
      {framed("PGRME,15.0,M,45.0,M,25.0,M"), Failure::unsupportedSentence},
      {framed("GPGG,1"), Failure::malformed},
      {framed("gpgga,020000.00,,,,,0,00,,,M,,M,,"), Failure::malformed},
      {framed("GPGGA,020000.00,3954.5220,N,11623.8500,E,1"), Failure::malformed},  // too few fields
      {framed("GPRMC,020000.00,A,3954.5220,N"), Failure::malformed},
      {framed("GPGSA,A,3,01,02"), Failure::malformed},
      // Absurd or ill-formed values.
      {framed("GPGGA,020000.00,9512.0000,N,11623.8500,E,1,10,0.8,44.3,M,-9.0,M,,"), Failure::malformed},
      {framed("GPGGA,020000.00,3960.0000,N,11623.8500,E,1,10,0.8,44.3,M,-9.0,M,,"), Failure::malformed},
      {framed("GPGGA,020000.00,3954.5220,N,18100.0000,E,1,10,0.8,44.3,M,-9.0,M,,"), Failure::malformed},
      {framed("GPGGA,020000.00,-3954.5220,N,11623.8500,E,1,10,0.8,44.3,M,-9.0,M,,"), Failure::malformed},
      {framed("GPGGA,020000.00,3954.5220,X,11623.8500,E,1,10,0.8,44.3,M,-9.0,M,,"), Failure::malformed},
      {framed("GPGGA,020000.00,3954.5220,,11623.8500,E,1,10,0.8,44.3,M,-9.0,M,,"), Failure::malformed},
      {framed("GPGGA,020000.00,3954.5220,N,,,1,10,0.8,44.3,M,-9.0,M,,"), Failure::malformed},
      {framed("GPGGA,020000.00,nan,N,11623.8500,E,1,10,0.8,44.3,M,-9.0,M,,"), Failure::malformed},
      {framed("GPGGA,020000.00,3954.5220,N,11623.8500,E,1,10,1e3,44.3,M,-9.0,M,,"), Failure::malformed},
      {framed("GPGGA,020000.00,3954.5220,N,11623.8500,E,1,10,0.8,1e300,M,-9.0,M,,"), Failure::malformed},
      {framed("GPGGA,020000.00,3954.5220,N,11623.8500,E,1,10,0.8,99999999,M,-9.0,M,,"), Failure::malformed},
      {framed("GPGGA,020000.00,3954.5220,N,11623.8500,E,9,10,0.8,44.3,M,-9.0,M,,"), Failure::malformed},
      {framed("GPGGA,020000.00,3954.5220,N,11623.8500,E,1,10,-0.8,44.3,M,-9.0,M,,"), Failure::malformed},
      {framed("GPGGA,020000.00,3954.5220,N,11623.8500,E,1,10, 0.8,44.3,M,-9.0,M,,"), Failure::malformed},
      {framed("GPGGA,246000.00,3954.5220,N,11623.8500,E,1,10,0.8,44.3,M,-9.0,M,,"), Failure::malformed},
      {framed("GPGGA,02000,3954.5220,N,11623.8500,E,1,10,0.8,44.3,M,-9.0,M,,"), Failure::malformed},
      {framed("GPGGA,020000:00,3954.5220,N,11623.8500,E,1,10,0.8,44.3,M,-9.0,M,,"), Failure::malformed},
      {framed("GPRMC,020000.00,A,3954.5220,N,11623.8500,E,2.72,90.0,310224,,,A"), Failure::malformed},  // 31 Feb
      {framed("GPRMC,020000.00,A,3954.5220,N,11623.8500,E,2.72,361.0,010524,,,A"), Failure::malformed},
      {framed("GPRMC,020000.00,A,3954.5220,N,11623.8500,E,-2.72,90.0,010524,,,A"), Failure::malformed},
      {framed("GPRMC,020000.00,X,3954.5220,N,11623.8500,E,2.72,90.0,010524,,,A"), Failure::malformed},
      {framed("GPRMC,020000.00,,3954.5220,N,11623.8500,E,2.72,90.0,010524,,,A"), Failure::malformed},
      {framed("GPGSA,A,4,01,03,08,11,14,17,19,22,28,32,,,1.4,0.8,1.2"), Failure::malformed},
      {framed("GPGSA,A,3,01,03,08,11,14,17,19,22,28,32,,,1.4,0.8,inf"), Failure::malformed},
      {"$GPGGA,020000.00,\x01,N*" + std::string("00"), Failure::malformed},
      {"$GPGGA,\xE5\x8C\x97*00", Failure::malformed},
      {"$*00", Failure::malformed},
      {"$GPGGA" + std::string(600, ',') + "*00", Failure::malformed},
  };
  for (const auto& c : cases) {
    const auto result = NmeaParser::parseLine(c.line);
    EXPECT_EQ(result.failure, c.failure) << c.line;
    EXPECT_EQ(result.sentence.has_value(), !c.failure.has_value()) << c.line;
  }
}

TEST(NmeaParserTest, SurvivesEveryPrefixAndRandomDamage) {
  for (const std::string& good : {kGga, kGsa, kRmc}) {
    for (std::size_t n = 0; n < good.size(); ++n) {
      EXPECT_FALSE(NmeaParser::parse(good.substr(0, n))) << n;
    }
  }
  std::mt19937 random(12345);  // fixed seed: the same lines every run
  for (int i = 0; i < 20000; ++i) {
    std::string line = (i % 3 == 0 ? kGga : i % 3 == 1 ? kGsa : kRmc);
    const int edits = 1 + static_cast<int>(random() % 4);
    for (int e = 0; e < edits; ++e) {
      const auto at = random() % line.size();
      switch (random() % 3) {
        case 0: line[at] = static_cast<char>(random() % 256); break;
        case 1: line.erase(at, 1 + random() % 5); break;
        default: line.insert(at, 1, ",.*$-0N"[random() % 7]); break;
      }
      if (line.empty()) line = "$";
    }
    // Re-framing some of them gets the damage past the checksum into the fields.
    if (i % 2 == 0 && line.size() > 4 && line.front() == '$') {
      const auto star = line.rfind('*');
      line = framed(line.substr(1, star == std::string::npos ? std::string::npos : star - 1));
    }
    (void)NmeaParser::parseLine(line);
  }
}

// Epoch assembly: one fix per GGA + RMC pair of one UTC time.
std::vector<Location> assemble(const std::vector<std::string>& lines) {
  NmeaEpochAssembler assembler;
  std::vector<Location> fixes;
  for (const auto& line : lines) {
    if (const auto sentence = NmeaParser::parse(line)) {
      if (auto fix = assembler.add(*sentence)) fixes.push_back(*fix);
    }
  }
  if (auto fix = assembler.finish()) fixes.push_back(*fix);
  return fixes;
}

TEST(NmeaEpochAssemblerTest, BuildsOneFixPerEpoch) {
  const auto fixes = assemble({kGga, kGsa, kRmc});
  ASSERT_EQ(fixes.size(), 1u);
  const Location& fix = fixes[0];
  EXPECT_NEAR(fix.coordinate.latitude, 39.9087, 1e-9);
  EXPECT_NEAR(fix.altitude, 44.3 - 9.0, 1e-9);  // above the ellipsoid
  EXPECT_NEAR(fix.horizontalAccuracy, 0.8 * 5.0, 1e-9);
  EXPECT_NEAR(fix.verticalAccuracy, 1.2 * 5.0, 1e-9);
  EXPECT_NEAR(fix.speed, 2.72 * 0.514444, 1e-9);
  EXPECT_EQ(fix.course, 90.0);
  EXPECT_EQ(std::chrono::system_clock::to_time_t(fix.timestamp), 1714528800);  // 2024-05-01T02:00:00Z
}

TEST(NmeaEpochAssemblerTest, SkipsEpochsWithoutAFixAndPairsByTime) {
  const auto noFixGga = framed("GNGGA,020001.00,,,,,0,00,99.9,,M,,M,,");
  const auto voidRmc = framed("GNRMC,020001.00,V,,,,,,,010524,,,N");
  const auto laterRmc = framed("GNRMC,020002.00,A,3954.5220,N,11623.8500,E,0.0,,010524,,,A");
  const auto laterGga = framed("GNGGA,020002.00,3954.5220,N,11623.8500,E,1,10,1.0,44.3,M,,M,,");
  // GSA first, RMC before GGA, an epoch without a fix, a GGA without an RMC.
  const auto fixes = assemble({kGsa, kRmc, kGga, noFixGga, voidRmc, laterRmc, laterGga,
                               framed("GNGGA,020003.00,3954.5220,N,11623.8500,E,1,10,1.0,44.3,M,,M,,")});
  ASSERT_EQ(fixes.size(), 2u);
  EXPECT_NEAR(fixes[0].verticalAccuracy, 6.0, 1e-9);
  EXPECT_EQ(fixes[1].timestamp - fixes[0].timestamp, std::chrono::seconds(2));
  EXPECT_EQ(fixes[1].course, -1.0);
  EXPECT_EQ(fixes[1].verticalAccuracy, -1.0);  // no GSA in that epoch
  EXPECT_NEAR(fixes[1].altitude, 44.3, 1e-9);  // no geoid separation given
}

}  // namespace
}  // namespace tovik
