#include "tovik/providers/nmea_parser.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "tovik/providers/nmea_epoch_assembler.h"

namespace tovik {
namespace {

using namespace std::chrono_literals;
using Failure = NmeaParser::Failure;
using Check = std::function<void(const NmeaSentence&)>;

// Frames a sentence body with its checksum.
std::string framed(const std::string& body) {
  char tail[8];
  std::snprintf(tail, sizeof tail, "*%02X", NmeaParser::checksum(body));
  return "$" + body + tail;
}

const std::string kGgaBody = "GNGGA,020000.00,3954.5220,N,11623.8500,E,1,10,0.8,44.3,M,-9.0,M,,";
const std::string kRmcBody = "GNRMC,020000.00,A,3954.5220,N,11623.8500,E,2.72,90.0,010524,,,A";
const std::string kGsaBody = "GNGSA,A,3,01,03,08,11,14,17,19,22,28,32,,,1.4,0.8,1.2";
const std::string kGga = framed(kGgaBody);

// `body` framed with its field `index` (0: the sentence name) replaced by `value`.
std::string with(const std::string& body, std::size_t index, const std::string& value) {
  std::size_t begin = 0;
  for (std::size_t i = 0; i < index; ++i) begin = body.find(',', begin) + 1;
  const auto end = body.find(',', begin);
  return framed(body.substr(0, begin) + value + (end == std::string::npos ? "" : body.substr(end)));
}

std::string ggaAt(const std::string& latLon) { return framed("GPGGA,120000," + latLon + ",1,08,1.0,10.0,M,,M,,"); }

const NmeaGga& gga(const NmeaSentence& s) { return std::get<NmeaGga>(s); }
const NmeaRmc& rmc(const NmeaSentence& s) { return std::get<NmeaRmc>(s); }

Check at(double latitude, double longitude) {
  return [=](const NmeaSentence& s) {
    ASSERT_TRUE(gga(s).position);
    EXPECT_NEAR(gga(s).position->latitude, latitude, 1e-12);
    EXPECT_NEAR(gga(s).position->longitude, longitude, 1e-12);
  };
}

TEST(NmeaParserTest, AcceptsGoodLinesAndRejectsBadOnesWithTheirReason) {
  std::string badChecksum = kGga;
  badChecksum.back() = badChecksum.back() == '0' ? '1' : '0';
  const struct {
    std::string line;
    std::optional<Failure> failure;  // none: accepted, and `check` holds
    Check check = {};
  } cases[] = {
      {kGga + "\r\n", std::nullopt,
       [](const NmeaSentence& s) { EXPECT_TRUE(gga(s).talker == "GN" && gga(s).satellites == 10); }},
      {framed("BDRMC,235959.999,A,3954.5220,N,11623.8500,E,0.0,0.0,291299,,"), std::nullopt,
       [](const NmeaSentence& s) {
         EXPECT_TRUE(rmc(s).time == 86'399'999ms && rmc(s).date == std::chrono::year(1999) / 12 / 29);
       }},
      {framed("GAGSA,A,2,,,,,,,,,,,,,,,"), std::nullopt,
       [](const NmeaSentence& s) { EXPECT_TRUE(std::get<NmeaGsa>(s).fixType == 2 && !std::get<NmeaGsa>(s).vdop); }},
      {"$GNGGA,020003.00,3954.5280,N,11623.8560,E,1,12,1.0,44.3,M,-9.0,M,,*5e", std::nullopt},  // lower-case hex
      // Empty fields are absent values.
      {framed("GPGGA,020002.00,,,,,0,00,,,M,,M,,"), std::nullopt,
       [](const NmeaSentence& s) {
         EXPECT_TRUE(!gga(s).position && !gga(s).hdop && !gga(s).altitudeMsl && gga(s).quality == 0);
       }},
      {framed("GPRMC,020002.00,V,,,,,,,010524,,,N"), std::nullopt,
       [](const NmeaSentence& s) { EXPECT_TRUE(!rmc(s).valid && !rmc(s).course); }},
      // Hemispheres give the signs.
      {ggaAt("3354.0000,S,15112.0000,E"), std::nullopt, at(-33.9, 151.2)},
      {ggaAt("5130.0000,N,00007.5000,W"), std::nullopt, at(51.5, -0.125)},
      {ggaAt("2230.0000,S,04315.0000,W"), std::nullopt, at(-22.5, -43.25)},
      {ggaAt("9000.0000,N,18000.0000,E"), std::nullopt, at(90.0, 180.0)},
      // Framing and checksums.
      {"", Failure::blank}, {"  \r\n", Failure::blank},
      {"hello, world", Failure::notASentence}, {"GPGGA,020000.00*00", Failure::notASentence},
      {kGga.substr(0, 30), Failure::malformed},                      // truncated: no checksum
      {kGga.substr(0, kGga.size() - 1), Failure::malformed},         // one checksum digit
      {kGga + "0", Failure::malformed},                              // three checksum digits
      {kGga.substr(0, kGga.size() - 2) + "G1", Failure::malformed},  // not hex
      {badChecksum, Failure::badChecksum},
      {"$" + kGga, Failure::malformed},
      {"$GPGGA,020000.00,\x01,N*00", Failure::malformed}, {"$GPGGA,\xE5\x8C\x97*00", Failure::malformed},
      {"$*00", Failure::malformed}, {"$GPGGA" + std::string(600, ',') + "*00", Failure::malformed},
      // Other sentences, unknown names, too few fields.
      {framed("GPGSV,3,1,11,01,45,120,40"), Failure::unsupportedSentence},
      {framed("PGRME,15.0,M,45.0,M,25.0,M"), Failure::unsupportedSentence},
      {framed("GPGG,1"), Failure::malformed}, {with(kGgaBody, 0, "gpgga"), Failure::malformed},
      {framed("GPGGA,020000.00,3954.5220,N,11623.8500,E,1"), Failure::malformed},
      {framed("GPRMC,020000.00,A,3954.5220,N"), Failure::malformed}, {framed("GPGSA,A,3,01,02"), Failure::malformed},
      // Absurd or ill-formed values.
      {with(kGgaBody, 2, "9512.0000"), Failure::malformed}, {with(kGgaBody, 2, "3960.0000"), Failure::malformed},
      {with(kGgaBody, 2, "-3954.5220"), Failure::malformed}, {with(kGgaBody, 2, "nan"), Failure::malformed},
      {with(kGgaBody, 4, "18100.0000"), Failure::malformed},
      {framed("GNGGA,020000.00,3954.5220,N,,,1,10,0.8,44.3,M,-9.0,M,,"), Failure::malformed},  // latitude only
      {with(kGgaBody, 3, "X"), Failure::malformed}, {with(kGgaBody, 3, ""), Failure::malformed},
      {with(kGgaBody, 1, "246000.00"), Failure::malformed}, {with(kGgaBody, 1, "02000"), Failure::malformed},
      {with(kGgaBody, 1, "020000:00"), Failure::malformed}, {with(kGgaBody, 6, "9"), Failure::malformed},
      {with(kGgaBody, 8, "1e3"), Failure::malformed}, {with(kGgaBody, 8, "-0.8"), Failure::malformed},
      {with(kGgaBody, 8, " 0.8"), Failure::malformed}, {with(kGgaBody, 9, "1e300"), Failure::malformed},
      {with(kGgaBody, 9, "99999999"), Failure::malformed},
      {with(kRmcBody, 9, "310224"), Failure::malformed},  // 31 February
      {with(kRmcBody, 8, "361.0"), Failure::malformed}, {with(kRmcBody, 7, "-2.72"), Failure::malformed},
      {with(kRmcBody, 2, "X"), Failure::malformed}, {with(kRmcBody, 2, ""), Failure::malformed},
      {with(kGsaBody, 2, "4"), Failure::malformed}, {with(kGsaBody, 17, "inf"), Failure::malformed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const auto result = NmeaParser::parseLine(c.line);
    EXPECT_EQ(result.failure, c.failure);
    EXPECT_EQ(result.sentence.has_value(), !c.failure.has_value());
    if (result.sentence && c.check) c.check(*result.sentence);
  }
  for (const std::string& good : {kGga, framed(kRmcBody), framed(kGsaBody)}) {
    for (std::size_t n = 0; n < good.size(); ++n) EXPECT_FALSE(NmeaParser::parse(good.substr(0, n))) << n;
  }
}

// One fix per GGA + RMC pair of one UTC time, whatever their order; a GSA may come first. The values
// of a fix are checked through the replayed logs.
TEST(NmeaEpochAssemblerTest, PairsSentencesByTimeInAnyOrder) {
  NmeaEpochAssembler assembler;
  std::vector<Location> fixes;
  for (const auto& line : {framed(kGsaBody), framed(kRmcBody), kGga, with(kGgaBody, 1, "020003.00")}) {
    if (auto fix = assembler.add(NmeaParser::parse(line).value())) fixes.push_back(*fix);
  }
  if (auto fix = assembler.finish()) fixes.push_back(*fix);  // not the last GGA: it has no RMC
  ASSERT_EQ(fixes.size(), 1u);
  EXPECT_NEAR(fixes[0].verticalAccuracy, 1.2 * NmeaEpochAssembler::kUereMetres, 1e-9);
  EXPECT_EQ(fixes[0].course, 90.0);
}

}  // namespace
}  // namespace tovik
