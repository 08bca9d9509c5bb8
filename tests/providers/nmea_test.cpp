#include <gtest/gtest.h>

#include <fstream>
#include <iomanip>
#include <limits>
#include <sstream>
#include <string>

#include "provider_support.h"
#include "support/escaped_text.h"
#include "tovik/providers/nmea_parser.h"
#include "tovik/providers/nmea_replay_provider.h"

namespace tovik {
namespace {

using namespace std::chrono_literals;
using test::queue;

// Runs the replay to its end, or to its first error; what a listener heard, then the count of
// skipped lines.
std::vector<std::string> replay(const std::string& path, double speed) {
  NmeaReplayProvider provider(path, speed);
  EXPECT_EQ(provider.authorizationStatus(), AuthorizationStatus::authorizedAlways);
  auto trace = std::make_shared<test::Trace>();
  provider.addListener(trace);
  EXPECT_TRUE(queue().runUntil([&] { return provider.reachedEnd() || !trace->errors.empty(); }, 30s));
  queue().runFor(20ms);  // nothing more arrives
  provider.removeListener(trace.get());
  trace->lines.push_back("skipped " + std::to_string(provider.skippedLines()));
  return trace->lines;
}

// As fast as possible, and paced at a thousand times real time. The bad lines are a bad
// checksum, a truncated line, GSV, text, an absurd latitude and an overlong line (the blank
// one is not counted); an epoch without a fix gives none, one without geoid separation,
// course or GSA gives a fix without them. In the unordered log, one fix per GGA + RMC pair of
// one time, whatever their order, a GSA before them; a last GGA without its RMC gives none. A
// file that cannot be read is one error in Chinese, like every other location error, naming
// the file and the reason.
TEST(NmeaReplayProviderTest, ReplaysLogsAsExpected) {
  for (const double speed : {0.0, std::numeric_limits<double>::infinity(), 1000.0}) {
    SCOPED_TRACE(speed);
    test::expectSameAsFile(replay(test::kBeijingWalk, speed), "beijing_walk.replay");
  }
  const std::string data = TOVIK_TEST_DATA_DIR, here = TOVIK_TESTS_DIR "/providers";
  const std::pair<std::string, const char*> logs[] = {{data + "/bad_lines.nmea", "bad_lines.replay"},
                                                      {here + "/data/unordered.nmea", "unordered.replay"},
                                                      {data + "/no_such_log.nmea", "missing.replay"},
                                                      {data, "folder.replay"}};
  for (const auto& [path, expected] : logs) {
    auto lines = replay(path, 0.0);
    lines.front() = test::replaced(lines.front(), data, "DATA");
    test::expectSameAsFile(lines, expected);
  }
}

// Real time: the whole log would take a minute, so a hang in stop would show. A replay a
// trillion times slower still waits between fixes (its wait is bounded, not overflowed into
// no pacing at all).
TEST(NmeaReplayProviderTest, StopsAtOnceAndRestartsFromTheBeginning) {
  for (const double speed : {1.0, 1e-12}) {
    SCOPED_TRACE(speed);
    auto provider = std::make_shared<NmeaReplayProvider>(test::kBeijingWalk, speed);
    auto trace = std::make_shared<test::Trace>();
    provider->addListener(trace);
    ASSERT_TRUE(queue().runUntil([&] { return !trace->fixes.empty(); }, 10s));
    queue().runFor(30ms);
    provider->removeListener(trace.get());
    const auto delivered = trace->fixes.size();
    EXPECT_LE(delivered, 2u) << "paced";
    queue().runFor(30ms);
    EXPECT_EQ(trace->fixes.size(), delivered);

    provider->addListener(trace);
    ASSERT_TRUE(queue().runUntil([&] { return trace->fixes.size() > delivered; }, 10s));
    EXPECT_EQ(trace->lines[delivered], trace->lines[0]);
    provider.reset();  // destroyed while replaying: joins its reader
    queue().runFor(20ms);
  }
}

// A 1 Hz log with ten seconds missing, replayed at four times its pace: its fixes come 0.25 s
// apart, so the watchdog expects that interval and reports the source unavailable once it has
// been silent for twice as long; the fix after the gap makes it available again (before that
// fix is heard), and the end of the log makes it unavailable for good. The last fix is kept
// with its age.
TEST(NmeaReplayProviderTest, AGapInTheLogIsReportedAsSilenceThenResumption) {
  NmeaReplayProvider provider(TOVIK_TESTS_DIR "/providers/data/gap.nmea", 4.0);
  auto trace = std::make_shared<test::Trace>();
  trace->withAvailability = true;
  provider.addListener(trace);
  ASSERT_TRUE(queue().runUntil([&] { return trace->availability.size() == 3; }, 60s));
  test::expectSameAsFile(trace->lines, "gap.replay");
  for (const LocationAvailability& change : trace->availability) {
    EXPECT_EQ(change.source, "nmea-replay");
    ASSERT_TRUE(change.lastFixAge);
    // The floor of 0.2 s, or the replay's own 0.25 s between fixes (late ones lengthen it).
    EXPECT_GE(change.expectedInterval, 200ms);
    EXPECT_LT(change.expectedInterval, 1s);
    // A silence, or the gap a resumption ends, is at least twice the expected interval.
    EXPECT_GE(*change.lastFixAge, 2 * change.expectedInterval);
  }
  const auto last = provider.lastLocation(std::chrono::hours(1));
  ASSERT_TRUE(last);
  EXPECT_EQ(test::describe(*last), trace->lines.at(trace->lines.size() - 2));
  EXPECT_EQ(last->source, "nmea-replay");
  EXPECT_TRUE(last->simulated);
  EXPECT_GE(ageOf(*last), *trace->availability.back().lastFixAge);
  EXPECT_FALSE(provider.lastLocation(*trace->availability.back().lastFixAge / 2)) << "older than asked";
  provider.removeListener(trace.get());
  EXPECT_FALSE(provider.currentUnavailability()) << "a stopped source starts afresh";
  EXPECT_TRUE(provider.lastLocation(std::chrono::hours(1))) << "kept while stopped";
}

// One field of a parsed sentence: numbers to 12 significant digits, a time of day in
// milliseconds, a date as YYYY-MM-DD, an absent field as "-".
void put(std::ostream& out, const auto& value) { out << value; }
void put(std::ostream& out, std::chrono::milliseconds time) { out << time.count() << "ms"; }
void put(std::ostream& out, const Coordinate& c) { out << c.latitude << "," << c.longitude; }
void put(std::ostream& out, const std::chrono::year_month_day& d) {
  out << std::setfill('0') << std::setw(4) << int(d.year()) << "-" << std::setw(2) << unsigned(d.month()) << "-"
      << std::setw(2) << unsigned(d.day());
}
template <typename T>
void put(std::ostream& out, const std::optional<T>& value) {
  value ? put(out, *value) : void(out << "-");
}

// The fields, space-separated.
std::string fields(const auto&... values) {
  std::ostringstream out;
  out.precision(12);
  ((out << " ", put(out, values)), ...);
  return out.str().substr(1);
}

// A parsed sentence, every field.
struct Describe {
  std::string operator()(const NmeaGga& s) const {
    return fields("GGA", s.talker, s.time, s.position, "quality", s.quality, "satellites", s.satellites, "hdop", s.hdop,
                  "msl", s.altitudeMsl, "geoid", s.geoidSeparation);
  }
  std::string operator()(const NmeaRmc& s) const {
    return fields("RMC", s.talker, s.time, s.valid ? "valid" : "void", s.position, "knots", s.speedKnots, "course",
                  s.course, s.date);
  }
  std::string operator()(const NmeaGsa& s) const {
    return fields("GSA", s.talker, "fix", s.fixType, "dop", s.pdop, s.hdop, s.vdop);
  }
};

// A line of the data file with \r, \n and \xHH made bytes.
// Each line of the data file, then what the parser makes of it; no proper prefix of an
// accepted line is accepted.
TEST(NmeaParserTest, AcceptsGoodLinesAndRejectsBadOnesWithTheirReason) {
  const char* failures[] = {"blank", "not a sentence", "malformed", "bad checksum", "unsupported sentence"};
  std::ifstream in(TOVIK_TESTS_DIR "/providers/data/nmea_lines.txt");
  std::vector<std::string> outcomes;
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("#")) continue;
    const std::string bytes = test::unescaped(line);
    const auto result = NmeaParser::parseLine(bytes);
    ASSERT_NE(result.sentence.has_value(), result.failure.has_value()) << line;
    outcomes.push_back(
        line + " => " +
        (result.sentence ? std::visit(Describe{}, *result.sentence) : failures[static_cast<int>(*result.failure)]));
    for (std::size_t n = 0; result.sentence && n < bytes.find('*'); ++n) {
      EXPECT_FALSE(NmeaParser::parse(bytes.substr(0, n))) << n << " of " << line;
    }
  }
  test::expectSameAsFile(outcomes, "nmea_lines");
}

}  // namespace
}  // namespace tovik
