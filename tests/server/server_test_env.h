#pragma once

// A places database made from the fixture (57 real GeoNames places; Natural Earth's
// boundaries of China, North Korea, Vietnam and Kazakhstan only, so everywhere else reads
// as sea; the GB/T 2260 province codes) and a real service on a loopback port, for the
// service's tests. The cases that drive them are data/*.txt, read with loadOutcomes.

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "server/access_keys.h"
#include "server/access_log.h"
#include "server/city_importer.h"
#include "server/location_server.h"
#include "server/place_store.h"
#include "services/outcome_table.h"
#include "support/file_text.h"

namespace tovik::server::testing {

/// A folder of this test process's own, removed with everything in it at exit.
inline const std::filesystem::path& scratchDir() {
  static const struct Scratch {
    std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("tovik-service-tests-" + std::to_string(::getpid()));
    std::error_code ignored;  // a folder that cannot be removed stays behind
    Scratch() { std::filesystem::create_directories(path); }
    ~Scratch() { std::filesystem::remove_all(path, ignored); }
  } scratch;
  return scratch.path;
}

/// Writes `text` to `name` (folders included) under the scratch folder.
inline std::filesystem::path writeFile(const std::string& name, const std::string& text) {
  const auto path = scratchDir() / name;
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path) << text;
  return path;
}

/// A place list holding Lyon alone, without the division files beside it: the database
/// that replaces the fixture's.
inline const std::string kLyonOnly =
    R"([{"name": "Lyon", "lat": 45.75, "lng": "4.85", "country": "FR", "admin1": "84", "admin2": "69"}])";

inline CityImporter::Sources fixtureSources() {
  const std::filesystem::path dir(TOVIK_SERVICE_FIXTURE_DIR);
  return CityImporter::Sources{dir / "cities.json", dir / "countries.json", dir / "provinces.json"};
}

/// The fixture imported once per process.
inline const std::filesystem::path& fixtureDatabase() {
  static const auto db = [] {
    auto path = scratchDir() / "fixture.sqlite";
    CityImporter([](std::string_view) {}).run(fixtureSources(), path);
    return path;
  }();
  return db;
}

inline std::shared_ptr<PlaceStore> fixtureStore() {
  static const auto store = PlaceStore::open(fixtureDatabase().string());
  return store;
}

/// The service on 127.0.0.1 and a free port, serving from its own thread until destroyed.
struct RunningService {
  // The kit keeps its connection open; a stop waits for it no longer than a second.
  explicit RunningService(AccessKeys keys = {}, std::shared_ptr<AccessLog> log = nullptr)
      : server(fixtureStore(), std::move(keys), log ? std::move(log) : std::make_shared<AccessLog>(nullptr, false), 8,
               {.keepAlive = std::chrono::seconds(1)}),
        port(server.bindToAnyPort("127.0.0.1")),
        thread([this] { server.serve(); }) {}
  ~RunningService() {
    server.stop();
    thread.join();
  }

  std::string baseURL() const { return "http://127.0.0.1:" + std::to_string(port); }

  LocationServer server;
  const int port;
  std::thread thread;
};

}  // namespace tovik::server::testing
