#include "server/place_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <system_error>
#include <cmath>
#include <filesystem>
#include <stdexcept>

#include "server/place_schema.h"
#include "server/text_match.h"
#include "tovik/coord/orb_coor_transform.h"
#include "tovik/system/earth.h"

namespace tovik::server {

namespace {

constexpr double kPi = 3.141592653589793;
/// Metres per degree of latitude on the sphere used for distances, for box sizes only.
constexpr double kMetresPerDegree = kEarthRadius * kPi / 180.0;

/// cos(latitude), kept away from zero so that boxes near the poles stay finite.
double longitudeScale(double latitude) { return std::max(std::cos(latitude * kPi / 180.0), 0.01); }

/// The boxes that cover `reach` degrees of latitude around a point, split at the
/// antimeridian.
std::vector<DegreeBox> boxesAround(double latitude, double longitude, double reach) {
  const double lngReach = reach / longitudeScale(latitude);
  const double south = std::max(latitude - reach, -90.0);
  const double north = std::min(latitude + reach, 90.0);
  if (lngReach >= 180.0) {
    return {DegreeBox{south, north, -180.0, 180.0}};
  }
  std::vector<DegreeBox> boxes;
  const double west = longitude - lngReach;
  const double east = longitude + lngReach;
  boxes.push_back(DegreeBox{south, north, std::max(west, -180.0), std::min(east, 180.0)});
  if (west < -180.0) {
    boxes.push_back(DegreeBox{south, north, west + 360.0, 180.0});
  }
  if (east > 180.0) {
    boxes.push_back(DegreeBox{south, north, -180.0, east - 360.0});
  }
  return boxes;
}

double metresBetween(double lat1, double lng1, double lat2, double lng2) {
  return OrbCoorTransform::distanceByPoint(lat1, lat2, lng1, lng2);
}

}  // namespace

PlaceStore::PlaceStore(std::string path) : path_(std::move(path)) {}

PlaceStore::~PlaceStore() {
  idle_.clear();
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

std::shared_ptr<PlaceStore> PlaceStore::open(const std::string& path, Warn warn) {
  SqliteDatabase::tuneForConcurrentReaders();
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    throw std::runtime_error("no places database at " + path + " (run `tovik-service import` first)");
  }
  auto store = std::make_shared<PlaceStore>(path);
  store->fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (store->fd_ < 0) {
    throw std::runtime_error("cannot open " + path + ": " + std::generic_category().message(errno));
  }
  struct stat opened {};
  if (::fstat(store->fd_, &opened) != 0) {
    throw std::runtime_error("cannot read " + path + ": " + std::generic_category().message(errno));
  }
  store->size_ = opened.st_size;
  store->modified_ = opened.st_mtim;
  store->warn_ = std::move(warn);
  // The whole file, read once: what is checked below is then exactly what is served.
  store->image_.resize(static_cast<std::size_t>(opened.st_size));
  std::size_t done = 0;
  while (done < store->image_.size()) {
    const auto got = ::pread(store->fd_, store->image_.data() + done, store->image_.size() - done,
                             static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      throw std::runtime_error("cannot read " + path + ": " +
                               (got == 0 ? std::string("it became shorter while being read")
                                         : std::generic_category().message(errno)));
    }
    done += static_cast<std::size_t>(got);
  }
  try {
    auto connection = std::make_unique<PlaceConnection>(store->image_, path);
    auto schema = connection->database().prepare("SELECT value FROM meta WHERE key = 'schema'");
    if (!schema.step() || schema.columnText(0) != PlaceSchema::kVersion) {
      throw std::runtime_error("unsupported schema");
    }
    auto count = connection->database().prepare("SELECT count(*) FROM places");
    count.step();
    store->placeCount_ = static_cast<std::size_t>(count.columnInt64(0));
    auto regions = connection->database().prepare("SELECT code, name, english, answer_code FROM regions");
    while (regions.step()) {
      auto code = regions.columnText(0);
      auto answer = regions.columnText(3);
      if (answer != code) {
        store->byAnswerCode_.emplace(answer, code);
      }
      RegionName region{regions.columnText(1), std::move(answer), TextMatch::words(regions.columnText(1))};
      for (auto& word : TextMatch::words(regions.columnText(2))) {
        region.words.push_back(std::move(word));
      }
      store->regionNames_.emplace(std::move(code), std::move(region));
    }
    auto countries = connection->database().prepare("SELECT DISTINCT country FROM country_shapes");
    while (countries.step()) {
      store->boundaryCountries_.insert(countries.columnText(0));
    }
    store->countryCount_ = store->boundaryCountries_.size();
    store->verify(*connection);
    store->nearestIndex_ = NearestIndex::read(connection->database());
    if (store->countryCount_ > 0) {
      store->countryIndex_ = CountryIndex::read(connection->database());
    }
    store->idle_.push_back(std::move(connection));
  } catch (const std::runtime_error& error) {
    throw std::runtime_error(path + " is not a sound places database of this service (" + error.what() +
                             "); import it again with `tovik-service import`");
  }
  return store;
}

void PlaceStore::verify(PlaceConnection& connection) const {
  auto& db = connection.database();
  const auto expectOk = [&db](const std::string& sql, const std::string& what) {
    auto check = db.prepare(sql);
    if (!check.step() || check.columnText(0) != "ok") {
      throw std::runtime_error(what + " failed");
    }
  };
  expectOk("PRAGMA quick_check", "quick_check");
  expectOk("SELECT rtreecheck('places_rtree')", "the places tree's check");
  expectOk("SELECT rtreecheck('country_shapes_rtree')", "the boundaries tree's check");
  // FTS5's own 'integrity-check' is a write command, refused on a read-only connection;
  // walking every entry of the index through a vocabulary table reads each of its pages
  // instead, and every place must be found there.
  db.exec("CREATE VIRTUAL TABLE temp.places_fts_check USING fts5vocab(main, places_fts, 'instance')");
  bool whole = false;
  {
    auto indexed = db.prepare("SELECT count(DISTINCT doc) FROM temp.places_fts_check");
    whole = indexed.step() && static_cast<std::size_t>(indexed.columnInt64(0)) == placeCount_;
  }
  db.exec("DROP TABLE temp.places_fts_check");
  if (!whole) {
    throw std::runtime_error("the text index does not hold every place");
  }
  // One query through each index, as requests ask them.
  if (placeCount_ > 0 && !connection.nearest(0.0, 0.0, 1.0)) {
    throw std::runtime_error("the places tree finds no place");
  }
  connection.countryAt(39.9, 116.4);
  auto sample = db.prepare("SELECT name FROM places LIMIT 1");
  if (sample.step()) {
    const auto words = TextMatch::words(sample.columnText(0));
    if (!words.empty() && connection.matching(TextMatch::ftsQuery(words, "name", true), "", 1).empty()) {
      throw std::runtime_error("the text index does not find \"" + sample.columnText(0) + "\"");
    }
  }
}

void PlaceStore::fail(std::string reason) const {
  const std::lock_guard lock(failureMutex_);
  if (!failing_) {
    failure_ = std::move(reason);
    failing_ = true;
  }
}

std::string PlaceStore::failure() const {
  lookAtFile();  // a probe notices a change at once; queries look every second
  const std::lock_guard lock(failureMutex_);
  return failing_ ? failure_ : std::string();
}

void PlaceStore::lookAtFile() const {
  struct stat now {};
  if (changed_ || ::fstat(fd_, &now) != 0) {
    return;
  }
  if (now.st_size == size_ && now.st_mtim.tv_sec == modified_.tv_sec && now.st_mtim.tv_nsec == modified_.tv_nsec) {
    return;
  }
  if (!changed_.exchange(true) && warn_) {
    warn_("warning: " + path_ + " was changed in place (" + std::to_string(size_) + " bytes when read, " +
          std::to_string(now.st_size) +
          " now); still answering from the database as it was read. Import beside it, move the new file over "
          "the path and reload; never write over the served file.");
  }
}

template <class Query>
auto PlaceStore::guarded(Query&& query) const -> decltype(query()) {
  try {
    return query();
  } catch (const std::exception& error) {
    fail(std::string("a query failed: ") + error.what());
    throw;
  }
}

PlaceStore::Lease PlaceStore::borrow() const {
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  if (now >= nextLook_.load(std::memory_order_relaxed)) {
    nextLook_.store(now + std::chrono::steady_clock::duration(std::chrono::seconds(1)).count(),
                    std::memory_order_relaxed);
    lookAtFile();
  }
  {
    const std::lock_guard lock(poolMutex_);
    if (!idle_.empty()) {
      auto connection = std::move(idle_.back());
      idle_.pop_back();
      return Lease(*this, std::move(connection));
    }
  }
  return Lease(*this, std::make_unique<PlaceConnection>(image_, path_));
}

void PlaceStore::giveBack(std::unique_ptr<PlaceConnection> connection) const {
  if (connection == nullptr) {
    return;
  }
  {
    const std::lock_guard lock(poolMutex_);
    idle_.push_back(std::move(connection));
  }
}

std::optional<PlaceAtDistance> PlaceStore::nearest(double latitude, double longitude) const {
  auto place = guarded([&]() -> std::optional<Place> {
    const double scale = longitudeScale(latitude);
    const auto found = nearestIndex_.nearest(latitude, longitude, scale);
    if (!found) {
      return std::nullopt;
    }
    // Places that tie are left to the database's tree, which has always chosen among them.
    return found->alone ? borrow()->place(found->id) : borrow()->nearest(latitude, longitude, scale);
  });
  if (!place) {
    return std::nullopt;
  }
  const double distance = metresBetween(latitude, longitude, place->latitude, place->longitude);
  return PlaceAtDistance{std::move(*place), distance};
}

std::optional<PlaceAtDistance> PlaceStore::nearestIn(double latitude, double longitude, const std::string& country,
                                                     double maxDistance) const {
  const double reach = maxDistance / kMetresPerDegree;
  auto place = guarded(
      [&] { return borrow()->nearestIn(latitude, longitude, longitudeScale(latitude), country, reach * reach); });
  if (!place) {
    return std::nullopt;
  }
  const double distance = metresBetween(latitude, longitude, place->latitude, place->longitude);
  return PlaceAtDistance{std::move(*place), distance};
}

std::optional<std::string> PlaceStore::countryAt(double latitude, double longitude) const {
  if (countryCount_ == 0) {
    return std::nullopt;
  }
  const std::string* country = countryIndex_.countryAt(latitude, longitude);
  return country == nullptr ? std::nullopt : std::optional<std::string>(*country);
}

std::vector<PlaceAtDistance> PlaceStore::within(double latitude, double longitude, double radius) const {
  // The flat box is widened a little: the great circle and the box disagree slightly.
  const double reach = radius / kMetresPerDegree * 1.01 + 1e-6;
  std::vector<PlaceAtDistance> found;
  for (const auto& box : boxesAround(latitude, longitude, reach)) {
    for (auto& place : guarded([&] { return borrow()->placesIn(box); })) {
      const double distance = metresBetween(latitude, longitude, place.latitude, place.longitude);
      if (distance <= radius) {
        found.push_back(PlaceAtDistance{std::move(place), distance});
      }
    }
  }
  std::sort(found.begin(), found.end(), [](const PlaceAtDistance& a, const PlaceAtDistance& b) {
    return a.distance != b.distance ? a.distance < b.distance : a.place.id < b.place.id;
  });
  return found;
}

std::vector<Place> PlaceStore::matching(const std::string& ftsQuery, std::string_view regionCode,
                                        std::size_t limit) const {
  if (ftsQuery.empty()) {
    return {};
  }
  return guarded([&] { return borrow()->matching(ftsQuery, regionCode, limit); });
}

const std::string* PlaceStore::regionName(const std::string& code) const {
  const auto it = regionNames_.find(code);
  return it == regionNames_.end() ? nullptr : &it->second.name;
}

const std::string& PlaceStore::answerCode(const std::string& code) const {
  const auto it = regionNames_.find(code);
  return it == regionNames_.end() ? code : it->second.answerCode;
}

std::string PlaceStore::storedCode(const std::string& code) const {
  const auto it = byAnswerCode_.find(code);
  return it == byAnswerCode_.end() ? code : it->second;
}

std::vector<std::string> PlaceStore::regionWords(const Place& place) const {
  std::vector<std::string> words;
  for (const std::string* code : {&place.admin2, &place.admin1, &place.country}) {
    const auto it = regionNames_.find(*code);
    if (it != regionNames_.end()) {
      words.insert(words.end(), it->second.words.begin(), it->second.words.end());
    }
  }
  return words;
}

}  // namespace tovik::server
