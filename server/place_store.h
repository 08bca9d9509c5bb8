#pragma once

#include <sys/types.h>

#include <atomic>
#include <functional>
#include <cstdint>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "server/country_index.h"
#include "server/nearest_index.h"
#include "server/place.h"
#include "server/place_connection.h"

namespace tovik::server {

/// The places database, read once into memory and checked there, then served from that
/// image: a file changed, cut short or replaced under a running service changes nothing it
/// answers (the store notes the change once, through `warn`), and nothing is mapped that
/// could vanish. Any number of threads may query it at once: each query borrows a
/// connection of its own from a pool that grows to the number of queries running together
/// (one per worker thread at most) and keeps them for reuse.
class PlaceStore {
 public:
  /// Throws `std::runtime_error` when the file is missing, is not a places database of
  /// the version this service reads, or fails the check: SQLite's quick_check, the
  /// integrity checks of the text index and of both trees, and one query through each.
  using Warn = std::function<void(std::string_view)>;
  static std::shared_ptr<PlaceStore> open(const std::string& path, Warn warn = {});

  /// Why this store cannot answer, or empty while it can: a query failed inside SQLite.
  /// Also looks at the file (a change is noted through `warn`).
  /// Once failing, a store stays failing; a reload replaces it.
  std::string failure() const;

  std::size_t placeCount() const { return placeCount_; }
  /// Countries with a boundary in the database (0 for one made without boundaries).
  std::size_t countryCount() const { return countryCount_; }
  const std::string& path() const { return path_; }

  /// The place nearest to a WGS-84 point, with its great-circle distance in metres.
  /// Nothing only when the database holds no place.
  std::optional<PlaceAtDistance> nearest(double latitude, double longitude) const;
  /// The place of `country` nearest to a point, if one lies within `maxDistance` metres
  /// (roughly: the search is bounded in the flat metric of `nearest`).
  std::optional<PlaceAtDistance> nearestIn(double latitude, double longitude, const std::string& country,
                                           double maxDistance) const;
  /// Whether the database has country boundaries at all.
  bool hasBoundaries() const { return !boundaryCountries_.empty(); }
  /// Whether this alpha-2 code has a boundary of its own.
  bool hasBoundary(const std::string& country) const { return boundaryCountries_.count(country) != 0; }
  /// The alpha-2 code of the country whose boundary holds a WGS-84 point; nothing at sea.
  std::optional<std::string> countryAt(double latitude, double longitude) const;
  /// Every place within `radius` metres of a WGS-84 point, nearest first.
  std::vector<PlaceAtDistance> within(double latitude, double longitude, double radius) const;
  /// Places matching an FTS5 query over the columns `name` and `region`, at most `limit`,
  /// optionally only inside the region whose GeoNames code is `regionCode`.
  std::vector<Place> matching(const std::string& ftsQuery, std::string_view regionCode, std::size_t limit) const;

  /// The display name of a region code ("CN", "CN.22", "CN.22.11876380"), or null.
  const std::string* regionName(const std::string& code) const;
  /// The code answers carry for a region: GB/T 2260 for China's provinces, else the
  /// GeoNames code itself (also for a code the database does not know).
  const std::string& answerCode(const std::string& code) const;
  /// The region code the places refer to, given either form.
  std::string storedCode(const std::string& code) const;
  /// The words of the names of a place's regions (display and English names), for
  /// judging which words of a query the region explains.
  std::vector<std::string> regionWords(const Place& place) const;

  explicit PlaceStore(std::string path);
  ~PlaceStore();
  PlaceStore(const PlaceStore&) = delete;
  PlaceStore& operator=(const PlaceStore&) = delete;

 private:
  /// A connection on loan; goes back to the pool when dropped.
  class Lease {
   public:
    Lease(const PlaceStore& store, std::unique_ptr<PlaceConnection> connection)
        : store_(store), connection_(std::move(connection)) {}
    ~Lease() { store_.giveBack(std::move(connection_)); }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    PlaceConnection* operator->() const { return connection_.get(); }

   private:
    const PlaceStore& store_;
    std::unique_ptr<PlaceConnection> connection_;
  };

  Lease borrow() const;
  /// Runs one query, marking the store failing when it throws.
  template <class Query>
  auto guarded(Query&& query) const -> decltype(query());
  void fail(std::string reason) const;
  /// Notes once when the file's size or modification time moved since it was read.
  void lookAtFile() const;
  void verify(PlaceConnection& connection) const;
  void giveBack(std::unique_ptr<PlaceConnection> connection) const;

  std::string path_;
  Warn warn_;
  /// The database file as it was read and checked; every connection reads this image.
  std::string image_;
  int fd_ = -1;  // held to look at the file's size and time
  off_t size_ = 0;
  struct timespec modified_ {};
  mutable std::atomic<bool> failing_{false};
  mutable std::atomic<bool> changed_{false};
  /// When a lease next looks at the file (steady clock ticks): every second is enough to
  /// tell the operator, since the answers do not depend on the file any more.
  mutable std::atomic<std::int64_t> nextLook_{0};
  mutable std::mutex failureMutex_;
  mutable std::string failure_;
  std::size_t placeCount_ = 0;
  std::size_t countryCount_ = 0;
  struct RegionName {
    std::string name;
    std::string answerCode;
    std::vector<std::string> words;  // of both names, split once for every ranking
  };
  std::unordered_map<std::string, RegionName> regionNames_;
  std::unordered_map<std::string, std::string> byAnswerCode_;
  std::unordered_set<std::string> boundaryCountries_;
  /// The places tree and the boundaries, read into memory for the two lookups of every
  /// reverse geocoding (the database's trees still answer the rest).
  NearestIndex nearestIndex_;
  CountryIndex countryIndex_;
  mutable std::mutex poolMutex_;
  mutable std::vector<std::unique_ptr<PlaceConnection>> idle_;
};

}  // namespace tovik::server
