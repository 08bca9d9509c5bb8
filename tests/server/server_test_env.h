#pragma once

// A places database made from the fixture (57 real GeoNames places; Natural Earth's
// boundaries of China, North Korea, Vietnam and Kazakhstan only, so everywhere else reads
// as sea; the GB/T 2260 province codes) and a real service on a loopback port, for the
// service's tests.

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "server/access_keys.h"
#include "server/access_log.h"
#include "server/city_importer.h"
#include "server/location_server.h"
#include "server/place_store.h"

namespace tovik::server::testing {

/// A folder of this test process's own, removed with everything in it at exit.
inline const std::filesystem::path& scratchDir() {
  struct Scratch {
    std::filesystem::path path = std::filesystem::temp_directory_path() /
                                 ("tovik-service-tests-" + std::to_string(::getpid()));
    Scratch() { std::filesystem::create_directories(path); }
    ~Scratch() {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
    }
  };
  static const Scratch scratch;
  return scratch.path;
}

inline std::filesystem::path fixtureFile(const std::string& name) {
  return std::filesystem::path(TOVIK_SERVICE_FIXTURE_DIR) / name;
}

inline CityImporter::Sources fixtureSources() {
  return CityImporter::Sources{fixtureFile("cities.json"), fixtureFile("countries.json"), fixtureFile("provinces.json")};
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
class RunningService {
 public:
  explicit RunningService(AccessKeys keys = {}, std::shared_ptr<AccessLog> log = nullptr)
      : server_(fixtureStore(), std::move(keys),
                log ? std::move(log) : std::make_shared<AccessLog>(nullptr, false), 8, quickStop()),
        port_(server_.bindToAnyPort("127.0.0.1")),
        thread_([this] { server_.serve(); }) {}
  ~RunningService() {
    server_.stop();
    thread_.join();
  }

  int port() const { return port_; }
  LocationServer& server() { return server_; }
  std::string baseURL() const { return "http://127.0.0.1:" + std::to_string(port_); }

 private:
  // The kit keeps its connection open; a stop waits for it no longer than a second.
  static LocationServer::Operations quickStop() {
    LocationServer::Operations operations;
    operations.keepAlive = std::chrono::seconds(1);
    return operations;
  }

  LocationServer server_;
  int port_;
  std::thread thread_;
};

}  // namespace tovik::server::testing
