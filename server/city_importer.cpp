#include "server/city_importer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <charconv>
#include <cmath>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <sstream>
#include <system_error>
#include <vector>

#include <nlohmann/json.hpp>

#include "server/country_boundaries.h"
#include "server/place.h"
#include "server/place_schema.h"
#include "server/region_names.h"
#include "server/sqlite_database.h"
#include "server/text_match.h"

namespace tovik::server {

namespace {

using nlohmann::json;

constexpr std::size_t kMaxNameBytes = 200;
constexpr std::size_t kMaxCodeBytes = 40;

json readJson(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    throw ImportError("cannot read " + file.string() + ": " + std::generic_category().message(errno));
  }
  try {
    return json::parse(in);
  } catch (const json::exception& error) {
    throw ImportError(file.string() + " is not valid JSON: " + error.what());
  }
}

std::string describe(const std::filesystem::path& file, std::size_t index) {
  return file.filename().string() + ": entry " + std::to_string(index);
}

std::string requiredText(const json& entry, const char* key, const std::string& where, bool allowEmpty,
                         std::size_t maxBytes) {
  const auto it = entry.find(key);
  if (it == entry.end() || it->is_null()) {
    if (allowEmpty) {
      return {};
    }
    throw ImportError(where + ": \"" + key + "\" is missing");
  }
  if (!it->is_string()) {
    throw ImportError(where + ": \"" + key + "\" is not a string");
  }
  std::string value = it->get<std::string>();
  if (value.empty() && !allowEmpty) {
    throw ImportError(where + ": \"" + key + "\" is empty");
  }
  if (value.size() > maxBytes) {
    throw ImportError(where + ": \"" + key + "\" is longer than " + std::to_string(maxBytes) + " bytes");
  }
  return value;
}

double requiredDegrees(const json& entry, const char* key, const std::string& where, double limit) {
  const auto it = entry.find(key);
  if (it == entry.end() || it->is_null()) {
    throw ImportError(where + ": \"" + key + "\" is missing");
  }
  double value = 0.0;
  if (it->is_number()) {
    value = it->get<double>();
  } else if (it->is_string()) {
    const auto& text = it->get_ref<const std::string&>();
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty()) {
      throw ImportError(where + ": \"" + key + "\" is not a number: \"" + text.substr(0, 40) + "\"");
    }
  } else {
    throw ImportError(where + ": \"" + key + "\" is not a number");
  }
  if (!std::isfinite(value) || std::fabs(value) > limit) {
    throw ImportError(where + ": \"" + key + "\" is out of range: " + std::to_string(value));
  }
  return value;
}

/// code → name from an admin file, or nothing when the file is not there.
std::optional<std::map<std::string, std::string>> readNames(const std::filesystem::path& file) {
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) {
    return std::nullopt;
  }
  const json document = readJson(file);
  if (!document.is_array()) {
    throw ImportError(file.string() + ": expected a JSON array of {\"code\", \"name\"}");
  }
  std::map<std::string, std::string> names;
  for (std::size_t i = 0; i < document.size(); ++i) {
    const auto& entry = document[i];
    const std::string where = describe(file, i);
    if (!entry.is_object()) {
      throw ImportError(where + " is not an object");
    }
    std::string code = requiredText(entry, "code", where, false, kMaxCodeBytes);
    names[std::move(code)] = requiredText(entry, "name", where, false, kMaxNameBytes);
  }
  return names;
}

struct Region {
  int level = 0;
  std::string name;     // display name
  std::string english;  // searchable name besides the display name (may equal it)
  std::string answerCode;
};

/// Chinese province name → six-digit GB/T 2260 code, from china-division's provinces.json.
std::map<std::string, std::string> readProvinceCodes(const std::filesystem::path& file) {
  const json document = readJson(file);
  if (!document.is_array()) {
    throw ImportError(file.string() + ": expected a JSON array of {\"code\", \"name\"}");
  }
  std::map<std::string, std::string> codes;
  for (std::size_t i = 0; i < document.size(); ++i) {
    const auto& entry = document[i];
    const std::string where = describe(file, i);
    if (!entry.is_object()) {
      throw ImportError(where + " is not an object");
    }
    const std::string code = requiredText(entry, "code", where, false, kMaxCodeBytes);
    if (code.size() != 2 || !std::isdigit(static_cast<unsigned char>(code[0])) ||
        !std::isdigit(static_cast<unsigned char>(code[1]))) {
      throw ImportError(where + ": \"code\" is not a two-digit province code: \"" + code + "\"");
    }
    // The list gives the province's two digits; the full code pads the prefecture and
    // county digits with zeros.
    codes[requiredText(entry, "name", where, false, kMaxNameBytes)] = code + "0000";
  }
  return codes;
}

/// Removes the temporary database unless the import completed.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::filesystem::path path) : path_(std::move(path)) { removeAll(); }
  ~TemporaryFile() {
    if (!kept_) {
      removeAll();
    }
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  const std::filesystem::path& path() const { return path_; }
  void keep() { kept_ = true; }

 private:
  void removeAll() const {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
    std::filesystem::remove(path_.string() + "-journal", ec);
  }

  std::filesystem::path path_;
  bool kept_ = false;
};

void syncFile(const std::filesystem::path& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || ::fsync(fd) != 0) {
    const int error = errno;
    if (fd >= 0) {
      ::close(fd);
    }
    throw ImportError("cannot flush " + file.string() + ": " + std::generic_category().message(error));
  }
  ::close(fd);
}

int importanceOf(const std::string& name, const Region* admin1, const Region* admin2) {
  const std::string folded = TextMatch::fold(name);
  if (admin1 != nullptr && folded == TextMatch::fold(admin1->english)) {
    return 3;
  }
  if (admin2 != nullptr) {
    const std::string division = TextMatch::fold(admin2->english);
    if (division == folded || division.rfind(folded + " ", 0) == 0) {
      return 2;
    }
  }
  return 1;
}

}  // namespace

CityImporter::Summary CityImporter::run(const Sources& sources, const std::filesystem::path& database) {
  const auto& input = sources.cities;
  progress_("reading " + input.string());
  const json cities = readJson(input);
  if (!cities.is_array()) {
    throw ImportError(input.string() + ": expected a JSON array of places");
  }
  if (cities.empty()) {
    throw ImportError(input.string() + " holds no places");
  }
  const auto folder = input.parent_path();
  const auto admin1Names = readNames(folder / "admin1.json");
  const auto admin2Names = readNames(folder / "admin2.json");
  if (!admin1Names || !admin2Names) {
    progress_("no admin1.json/admin2.json beside the input: division codes stand for their names");
  }

  std::map<std::string, std::string> provinceCodes;
  if (!sources.provinces.empty()) {
    provinceCodes = readProvinceCodes(sources.provinces);
  }
  CountryBoundaries::Read boundaries;
  if (!sources.countries.empty()) {
    progress_("reading " + sources.countries.string());
    boundaries = CountryBoundaries::read(sources.countries);
    progress_("read " + std::to_string(boundaries.countries) + " countries in " +
              std::to_string(boundaries.polygons) + " polygons (" + std::to_string(boundaries.skipped.size()) +
              " disputed units left without a country)");
  }
  std::size_t provincesCoded = 0;
  const auto countryRegion = [](const std::string& code) {
    const auto english = RegionNames::countryEnglishName(code);
    const auto display = RegionNames::countryName(code);
    return Region{0, std::string(display.value_or(code)), std::string(english.value_or(code)), code};
  };

  // Check every entry before anything is written.
  std::vector<Place> places;
  places.reserve(cities.size());
  std::map<std::string, Region> regions;
  for (std::size_t i = 0; i < cities.size(); ++i) {
    const json& entry = cities[i];
    const std::string where = describe(input, i);
    if (!entry.is_object()) {
      throw ImportError(where + " is not an object");
    }
    Place place;
    place.id = static_cast<std::int64_t>(i) + 1;
    place.name = requiredText(entry, "name", where, false, kMaxNameBytes);
    place.latitude = requiredDegrees(entry, "lat", where, 90.0);
    place.longitude = requiredDegrees(entry, "lng", where, 180.0);
    place.country = requiredText(entry, "country", where, false, 2);
    if (place.country.size() != 2 || !std::isupper(static_cast<unsigned char>(place.country[0])) ||
        !std::isupper(static_cast<unsigned char>(place.country[1]))) {
      throw ImportError(where + ": \"country\" is not a two-letter country code: \"" + place.country + "\"");
    }
    const std::string admin1 = requiredText(entry, "admin1", where, true, kMaxCodeBytes);
    const std::string admin2 = requiredText(entry, "admin2", where, true, kMaxCodeBytes);

    if (!regions.count(place.country)) {
      regions[place.country] = countryRegion(place.country);
    }
    if (!admin1.empty()) {
      place.admin1 = place.country + "." + admin1;
      if (!regions.count(place.admin1)) {
        std::string english = place.admin1;
        if (admin1Names) {
          if (const auto it = admin1Names->find(place.admin1); it != admin1Names->end()) {
            english = it->second;
          }
        }
        const auto chinese = RegionNames::chineseProvinceName(place.admin1, english);
        std::string answerCode = place.admin1;
        if (chinese) {
          if (const auto it = provinceCodes.find(std::string(*chinese)); it != provinceCodes.end()) {
            answerCode = it->second;
            ++provincesCoded;
          }
        }
        regions[place.admin1] = Region{1, chinese ? std::string(*chinese) : english, english, std::move(answerCode)};
      }
      if (!admin2.empty()) {
        place.admin2 = place.admin1 + "." + admin2;
        if (!regions.count(place.admin2)) {
          std::string name = place.admin2;
          if (admin2Names) {
            if (const auto it = admin2Names->find(place.admin2); it != admin2Names->end()) {
              name = it->second;
            }
          }
          regions[place.admin2] = Region{2, name, name, place.admin2};
        }
      }
    }
    places.push_back(std::move(place));
  }
  for (const auto& slice : boundaries.slices) {
    if (!regions.count(slice.country)) {
      regions[slice.country] = countryRegion(slice.country);
    }
  }
  progress_("read " + std::to_string(places.size()) + " places in " + std::to_string(regions.size()) + " regions");

  std::error_code ec;
  const auto target = std::filesystem::absolute(database, ec);
  if (!target.parent_path().empty()) {
    std::filesystem::create_directories(target.parent_path(), ec);
    if (ec) {
      throw ImportError("cannot create " + target.parent_path().string() + ": " + ec.message());
    }
  }
  TemporaryFile temporary(target.string() + ".importing-" + std::to_string(::getpid()));

  try {
    auto db = SqliteDatabase::create(temporary.path().string());
    db.exec("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN;");
    db.exec(PlaceSchema::kCreate);
    {
      auto insertRegion =
          db.prepare("INSERT INTO regions(code, level, name, english, answer_code) VALUES(?1, ?2, ?3, ?4, ?5)");
      for (const auto& [code, region] : regions) {
        insertRegion.bind(1, code).bind(2, region.level).bind(3, region.name).bind(4, region.english).bind(
            5, region.answerCode);
        insertRegion.step();
        insertRegion.reset();
      }
      auto insertPlace = db.prepare(
          "INSERT INTO places(id, name, country, admin1, admin2, lat, lng, importance) "
          "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
      auto insertPoint = db.prepare(
          "INSERT INTO places_rtree(id, min_lat, max_lat, min_lng, max_lng) VALUES(?1, ?2, ?2, ?3, ?3)");
      auto insertText = db.prepare("INSERT INTO places_fts(rowid, name, region) VALUES(?1, ?2, ?3)");
      const auto regionOf = [&](const std::string& code) -> const Region* {
        if (code.empty()) {
          return nullptr;
        }
        const auto it = regions.find(code);
        return it == regions.end() ? nullptr : &it->second;
      };
      std::size_t done = 0;
      for (auto& place : places) {
        const Region* country = regionOf(place.country);
        const Region* admin1 = regionOf(place.admin1);
        const Region* admin2 = regionOf(place.admin2);
        place.importance = importanceOf(place.name, admin1, admin2);
        // The region column lets a search name the city, province or country, in the
        // display language and in English.
        std::string regionText;
        for (const Region* region : {admin2, admin1, country}) {
          if (region == nullptr) {
            continue;
          }
          regionText += region->name + " ";
          if (region->english != region->name) {
            regionText += region->english + " ";
          }
        }
        insertPlace.bind(1, place.id)
            .bind(2, place.name)
            .bind(3, place.country)
            .bind(4, place.admin1)
            .bind(5, place.admin2)
            .bind(6, place.latitude)
            .bind(7, place.longitude)
            .bind(8, place.importance);
        insertPlace.step();
        insertPlace.reset();
        insertPoint.bind(1, place.id).bind(2, place.latitude).bind(3, place.longitude);
        insertPoint.step();
        insertPoint.reset();
        insertText.bind(1, place.id).bind(2, place.name).bind(3, regionText);
        insertText.step();
        insertText.reset();
        if (++done % kProgressEvery == 0) {
          progress_("imported " + std::to_string(done) + " of " + std::to_string(places.size()) + " places");
        }
      }
      auto insertShape =
          db.prepare("INSERT INTO country_shapes(id, country, polygon, band, edges) VALUES(?1, ?2, ?3, ?4, ?5)");
      auto insertShapeBox = db.prepare(
          "INSERT INTO country_shapes_rtree(id, min_lat, max_lat, min_lng, max_lng) VALUES(?1, ?2, ?3, ?4, ?5)");
      std::int64_t shapeId = 0;
      for (const auto& slice : boundaries.slices) {
        ++shapeId;
        insertShape.bind(1, shapeId)
            .bind(2, slice.country)
            .bind(3, slice.polygon)
            .bind(4, slice.band)
            .bindBlob(5, std::as_bytes(std::span(slice.edges)));
        insertShape.step();
        insertShape.reset();
        insertShapeBox.bind(1, shapeId)
            .bind(2, slice.band * CountryBoundaries::kBand)
            .bind(3, (slice.band + 1) * CountryBoundaries::kBand)
            .bind(4, slice.west)
            .bind(5, slice.east);
        insertShapeBox.step();
        insertShapeBox.reset();
      }
      auto insertMeta = db.prepare("INSERT INTO meta(key, value) VALUES(?1, ?2)");
      const std::pair<std::string, std::string> meta[] = {
          {"schema", std::string(PlaceSchema::kVersion)},
          {"source", input.filename().string()},
          {"places", std::to_string(places.size())},
          {"regionNames", admin1Names && admin2Names ? "geonames" : "codes"},
          {"boundaries", sources.countries.empty() ? "" : sources.countries.filename().string()},
          {"provinceCodes", sources.provinces.empty() ? "" : sources.provinces.filename().string()},
      };
      for (const auto& [key, value] : meta) {
        insertMeta.bind(1, key).bind(2, value);
        insertMeta.step();
        insertMeta.reset();
      }
    }
    progress_("indexing names");
    db.exec("INSERT INTO places_fts(places_fts) VALUES('optimize'); COMMIT;");
    db.close();
  } catch (const std::runtime_error& error) {
    if (dynamic_cast<const ImportError*>(&error) != nullptr) {
      throw;
    }
    throw ImportError("cannot write " + temporary.path().string() + ": " + error.what());
  }
  syncFile(temporary.path());
  std::filesystem::rename(temporary.path(), target, ec);
  if (ec) {
    throw ImportError("cannot move the new database to " + target.string() + ": " + ec.message());
  }
  temporary.keep();

  Summary summary;
  summary.places = places.size();
  summary.regions = regions.size();
  summary.regionNames = admin1Names.has_value() && admin2Names.has_value();
  summary.countries = boundaries.countries;
  summary.boundarySlices = boundaries.slices.size();
  summary.provinceCodes = provincesCoded;
  progress_("imported " + std::to_string(summary.places) + " places and " + std::to_string(summary.regions) +
            " regions into " + target.string());
  return summary;
}

}  // namespace tovik::server
