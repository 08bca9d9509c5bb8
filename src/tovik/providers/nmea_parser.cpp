#include "tovik/providers/nmea_parser.h"

#include <charconv>
#include <cmath>
#include <vector>

namespace tovik {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isUpper(char c) { return c >= 'A' && c <= 'Z'; }

std::optional<int> hexValue(char c) {
  if (isDigit(c)) return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return std::nullopt;
}

std::string_view trimmed(std::string_view text) {
  constexpr std::string_view kSpace = " \t\r\n";
  const auto first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

// The comma-separated fields of one sentence. Reading a field that is present but not
// well formed marks the whole sentence bad; an empty field is simply absent.
class Fields {
 public:
  explicit Fields(std::string_view body) {
    std::size_t start = 0;
    while (true) {
      const auto comma = body.find(',', start);
      fields_.push_back(body.substr(start, comma == std::string_view::npos ? std::string_view::npos
                                                                            : comma - start));
      if (comma == std::string_view::npos) break;
      start = comma + 1;
    }
  }

  std::size_t size() const { return fields_.size(); }
  bool bad() const { return bad_; }
  std::string_view at(std::size_t i) const { return i < fields_.size() ? fields_[i] : std::string_view{}; }

  // A plain decimal number (optional sign and fraction, no exponent) within [min, max].
  std::optional<double> number(std::size_t i, double min, double max) {
    const std::string_view text = at(i);
    if (text.empty()) return std::nullopt;
    const auto value = decimal(text);
    if (!value || *value < min || *value > max) return invalid();
    return value;
  }

  std::optional<int> integer(std::size_t i, int min, int max) {
    const std::string_view text = at(i);
    if (text.empty()) return std::nullopt;
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || value < min || value > max) {
      bad_ = true;
      return std::nullopt;
    }
    return value;
  }

  // One letter out of `allowed`.
  std::optional<char> letter(std::size_t i, std::string_view allowed) {
    const std::string_view text = at(i);
    if (text.empty()) return std::nullopt;
    if (text.size() != 1 || allowed.find(text[0]) == std::string_view::npos) {
      bad_ = true;
      return std::nullopt;
    }
    return text[0];
  }

  // hhmmss or hhmmss.s... (UTC).
  std::optional<std::chrono::milliseconds> time(std::size_t i) {
    const std::string_view text = at(i);
    if (text.empty()) return std::nullopt;
    if (text.size() < 6 || !isDigit(text[0]) || !isDigit(text[1]) || !isDigit(text[2]) ||
        !isDigit(text[3]) || !isDigit(text[4]) || !isDigit(text[5])) {
      return invalidTime();
    }
    const int hours = (text[0] - '0') * 10 + (text[1] - '0');
    const int minutes = (text[2] - '0') * 10 + (text[3] - '0');
    const int seconds = (text[4] - '0') * 10 + (text[5] - '0');
    double fraction = 0.0;
    if (text.size() > 6) {
      const std::string_view rest = text.substr(6);
      if (rest[0] != '.' || rest.size() > 10) return invalidTime();
      double scale = 0.1;
      for (const char c : rest.substr(1)) {
        if (!isDigit(c)) return invalidTime();
        fraction += (c - '0') * scale;
        scale /= 10;
      }
    }
    if (hours > 23 || minutes > 59 || seconds > 60) return invalidTime();  // 60: leap second
    const long long millis = (static_cast<long long>(hours) * 3600 + minutes * 60 + seconds) * 1000 +
                             std::llround(fraction * 1000.0);
    return std::chrono::milliseconds(millis);
  }

  // ddmmyy, a real calendar date; two-digit years 80-99 are 19xx, the rest 20xx.
  std::optional<std::chrono::year_month_day> date(std::size_t i) {
    const std::string_view text = at(i);
    if (text.empty()) return std::nullopt;
    if (text.size() != 6) return invalidDate();
    for (const char c : text) {
      if (!isDigit(c)) return invalidDate();
    }
    const unsigned day = static_cast<unsigned>((text[0] - '0') * 10 + (text[1] - '0'));
    const unsigned month = static_cast<unsigned>((text[2] - '0') * 10 + (text[3] - '0'));
    const int yy = (text[4] - '0') * 10 + (text[5] - '0');
    const std::chrono::year_month_day ymd{std::chrono::year{yy >= 80 ? 1900 + yy : 2000 + yy},
                                          std::chrono::month{month}, std::chrono::day{day}};
    if (!ymd.ok()) return invalidDate();
    return ymd;
  }

  // (d)ddmm.mmmm plus hemisphere letter at `i` and `i + 1`, in signed decimal degrees.
  std::optional<double> angle(std::size_t i, double maxDegrees, char positive, char negative) {
    const std::string_view text = at(i);
    const std::string_view hemisphere = at(i + 1);
    if (text.empty()) {
      if (!hemisphere.empty() && hemisphere != std::string_view(&positive, 1) &&
          hemisphere != std::string_view(&negative, 1)) {
        bad_ = true;
      }
      return std::nullopt;
    }
    const auto raw = decimal(text);
    if (!raw || *raw < 0.0 || hemisphere.size() != 1 || (hemisphere[0] != positive && hemisphere[0] != negative)) {
      return invalid();
    }
    const double degrees = std::floor(*raw / 100.0);
    const double minutes = *raw - degrees * 100.0;
    const double value = degrees + minutes / 60.0;
    if (minutes >= 60.0 || value > maxDegrees) return invalid();
    return hemisphere[0] == negative ? -value : value;
  }

  std::optional<Coordinate> position(std::size_t latIndex) {
    const auto latitude = angle(latIndex, 90.0, 'N', 'S');
    const auto longitude = angle(latIndex + 2, 180.0, 'E', 'W');
    if (latitude.has_value() != longitude.has_value()) {
      bad_ = true;  // half a position
    }
    if (!latitude || !longitude) return std::nullopt;
    return Coordinate{*latitude, *longitude};
  }

 private:
  static std::optional<double> decimal(std::string_view text) {
    double value = 0.0;
    const auto [end, ec] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    if (ec != std::errc{} || end != text.data() + text.size() || !std::isfinite(value)) {
      return std::nullopt;
    }
    return value;
  }
  std::nullopt_t invalid() {
    bad_ = true;
    return std::nullopt;
  }
  std::optional<std::chrono::milliseconds> invalidTime() {
    bad_ = true;
    return std::nullopt;
  }
  std::optional<std::chrono::year_month_day> invalidDate() {
    bad_ = true;
    return std::nullopt;
  }

  std::vector<std::string_view> fields_;
  bool bad_ = false;
};

// Bounds beyond which a value is not a reading but noise.
constexpr double kMaxDop = 100.0;
constexpr double kMinAltitude = -10'000.0;
constexpr double kMaxAltitude = 100'000.0;
constexpr double kMaxGeoidSeparation = 200.0;
constexpr double kMaxSpeedKnots = 10'000.0;

std::optional<NmeaSentence> parseGga(Fields& f, std::string talker) {
  // time, lat, N/S, lon, E/W, quality, satellites, HDOP, altitude [, M, separation, M, age, station]
  if (f.size() < 10) return std::nullopt;
  NmeaGga gga;
  gga.talker = std::move(talker);
  gga.time = f.time(1);
  gga.position = f.position(2);
  gga.quality = f.integer(6, 0, 8).value_or(0);
  gga.satellites = f.integer(7, 0, 99);
  gga.hdop = f.number(8, 0.0, kMaxDop);
  gga.altitudeMsl = f.number(9, kMinAltitude, kMaxAltitude);
  f.letter(10, "M");
  gga.geoidSeparation = f.number(11, -kMaxGeoidSeparation, kMaxGeoidSeparation);
  f.letter(12, "M");
  if (f.bad()) return std::nullopt;
  return gga;
}

std::optional<NmeaSentence> parseRmc(Fields& f, std::string talker) {
  // time, status, lat, N/S, lon, E/W, speed, course, date [, variation, E/W, mode, nav status]
  if (f.size() < 10) return std::nullopt;
  NmeaRmc rmc;
  rmc.talker = std::move(talker);
  rmc.time = f.time(1);
  const auto status = f.letter(2, "AV");
  rmc.position = f.position(3);
  rmc.speedKnots = f.number(7, 0.0, kMaxSpeedKnots);
  rmc.course = f.number(8, 0.0, 360.0);
  rmc.date = f.date(9);
  f.number(10, 0.0, 180.0);
  f.letter(11, "EW");
  const auto mode = f.letter(12, "ADEFMNPRS");
  if (f.bad() || !status) return std::nullopt;
  rmc.valid = *status == 'A' && mode != 'N';
  return rmc;
}

std::optional<NmeaSentence> parseGsa(Fields& f, std::string talker) {
  // mode, fix type, 12 satellite ids, PDOP, HDOP, VDOP [, system id]
  if (f.size() < 18) return std::nullopt;
  NmeaGsa gsa;
  gsa.talker = std::move(talker);
  f.letter(1, "AM");
  const auto fixType = f.integer(2, 1, 3);
  for (std::size_t i = 3; i <= 14; ++i) {
    f.integer(i, 0, 999);
  }
  gsa.pdop = f.number(15, 0.0, kMaxDop);
  gsa.hdop = f.number(16, 0.0, kMaxDop);
  gsa.vdop = f.number(17, 0.0, kMaxDop);
  if (f.bad() || !fixType) return std::nullopt;
  gsa.fixType = *fixType;
  return gsa;
}

}  // namespace

std::uint8_t NmeaParser::checksum(std::string_view body) {
  std::uint8_t sum = 0;
  for (const char c : body) {
    sum ^= static_cast<std::uint8_t>(c);
  }
  return sum;
}

NmeaParser::Result NmeaParser::parseLine(std::string_view line) {
  const auto failed = [](Failure failure) { return Result{std::nullopt, failure}; };
  line = trimmed(line);
  if (line.empty()) return failed(Failure::blank);
  if (line.front() != '$') return failed(Failure::notASentence);
  if (line.size() > kMaxLineLength) return failed(Failure::malformed);

  // "$" body "*" two hex digits, nothing else.
  const auto star = line.rfind('*');
  if (star == std::string_view::npos || star + 3 != line.size()) return failed(Failure::malformed);
  const auto high = hexValue(line[star + 1]);
  const auto low = hexValue(line[star + 2]);
  if (!high || !low) return failed(Failure::malformed);
  const std::string_view body = line.substr(1, star - 1);
  for (const char c : body) {
    if (c < 0x20 || c > 0x7E || c == '$' || c == '*') return failed(Failure::malformed);
  }
  if (checksum(body) != ((*high << 4) | *low)) return failed(Failure::badChecksum);

  Fields fields(body);
  const std::string_view address = fields.at(0);
  if (address.size() != 5) return failed(Failure::malformed);
  for (const char c : address) {
    if (!isUpper(c)) return failed(Failure::malformed);
  }
  std::string talker(address.substr(0, 2));
  const std::string_view type = address.substr(2);
  std::optional<NmeaSentence> sentence;
  if (talker[0] == 'P') {
    return failed(Failure::unsupportedSentence);  // proprietary
  } else if (type == "GGA") {
    sentence = parseGga(fields, std::move(talker));
  } else if (type == "RMC") {
    sentence = parseRmc(fields, std::move(talker));
  } else if (type == "GSA") {
    sentence = parseGsa(fields, std::move(talker));
  } else {
    return failed(Failure::unsupportedSentence);
  }
  if (!sentence) return failed(Failure::malformed);
  return Result{std::move(sentence), std::nullopt};
}

}  // namespace tovik
