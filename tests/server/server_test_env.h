#pragma once

// A places database made from the fixture (57 real GeoNames places; Natural Earth's
// boundaries of China, North Korea, Vietnam and Kazakhstan only, so everywhere else reads
// as sea; the GB/T 2260 province codes) and a real service on a loopback port, for the
// service's tests. The cases that drive them are data/*.txt, read with loadOutcomes.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
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

/// A copy of the fixture's database at `name` under the scratch folder, for a test that
/// changes or damages it.
inline std::filesystem::path fixtureCopy(const std::string& name) {
  const auto path = scratchDir() / name;
  std::filesystem::create_directories(path.parent_path());
  std::filesystem::copy_file(fixtureDatabase(), path, std::filesystem::copy_options::overwrite_existing);
  return path;
}

/// What a test may change about the service it runs.
struct ServiceSetup {
  std::shared_ptr<const PlaceStore> store;  // null: the fixture's
  std::size_t threads = 8;
  ServerOperations operations{.keepAlive = std::chrono::seconds(1)};
};

/// The service on 127.0.0.1 and a free port, serving from its own thread until destroyed.
struct RunningService {
  // The kit keeps its connection open; a stop waits for it no longer than a second.
  explicit RunningService(AccessKeys keys = {}, std::shared_ptr<AccessLog> log = nullptr, ServiceSetup setup = {})
      : server(setup.store ? setup.store : fixtureStore(), std::move(keys),
               log ? std::move(log) : std::make_shared<AccessLog>(nullptr, false), setup.threads,
               std::move(setup.operations)),
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

/// A client connection on which a test writes bytes as it likes.
class RawConnection {
 public:
  explicit RawConnection(int port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  }
  ~RawConnection() { ::close(fd_); }
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  bool connected() const { return connected_; }
  /// False once the service has closed the connection.
  bool send(std::string_view bytes) {
    while (!bytes.empty()) {
      const auto sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (sent <= 0) {
        return false;
      }
      bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
  }
  /// What arrives until the service closes the connection or `quiet` passes without a byte.
  std::string receive(std::chrono::milliseconds quiet = std::chrono::milliseconds(2000)) {
    std::string text;
    char buffer[4096];
    pollfd ready{fd_, POLLIN, 0};
    while (::poll(&ready, 1, static_cast<int>(quiet.count())) > 0) {
      const auto got = ::recv(fd_, buffer, sizeof buffer, 0);
      if (got <= 0) {
        closed_ = true;
        break;
      }
      text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
  }
  /// Whether the service closed the connection (seen by the last `receive`).
  bool closed() const { return closed_; }

 private:
  int fd_;
  bool connected_ = false;
  bool closed_ = false;
};

/// The status of the first answer in `text`, or 0.
inline int statusOf(const std::string& text) {
  return text.starts_with("HTTP/1.1 ") && text.size() >= 12 ? std::stoi(text.substr(9, 3)) : 0;
}

}  // namespace tovik::server::testing
