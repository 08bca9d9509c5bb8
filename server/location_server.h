#pragma once

#include <atomic>
#include <mutex>
#include <cstddef>
#include <chrono>
#include <memory>
#include <string>

#include "server/access_keys.h"
#include "server/access_log.h"
#include "server/idempotency_store.h"
#include "server/place_store.h"
#include "server/scenario_handler.h"
#include "server/service_metrics.h"
#include "server/track_points_handler.h"

namespace httplib {
class Server;
}

namespace tovik::server {

/// What the server does for its operators besides answering.
struct ServerOperations {
  /// Null: no figures are kept and /metrics is not served.
  std::shared_ptr<ServiceMetrics> metrics = std::make_shared<ServiceMetrics>();
  bool logProbes = false;
  /// How long an idle kept-alive connection stays open; a stop waits for idle connections
  /// up to this long.
  std::chrono::seconds keepAlive{5};
  /// How long one request may take to arrive whole, head and body, from its first byte
  /// (from its accept on a new connection); past it the connection is closed.
  std::chrono::milliseconds requestTimeout{10000};
  /// How many ready connections may wait for a worker; past it a new one is answered 503.
  std::size_t maxQueued = 1024;
  /// How many connections may wait for their request at once (0: from the descriptor
  /// limit); past it the one nearest its deadline is closed.
  std::size_t maxWaiting = 0;
  /// The answers kept for uploads sent again with the same `Idempotency-Key`.
  IdempotencyStore::Limits idempotency{};
};

/// The HTTP front of the service: the five calls on their paths, the access-key check,
/// JSON error answers and the access log.
///
/// Answers: 200 with the call's JSON; 400 {"error": "bad_request", "field", "message"} for
/// a malformed query item or body; 401 {"error": "unauthorized", "message"} for a missing or
/// unknown "access_key"; 404 for an unknown path; 405 for a known path with the wrong
/// method; 413 for a body over `kMaxBody`; 431 for a request head over 16 KiB or 100 lines;
/// 503 when the queue for a worker is full; 500 for an internal fault (the details go to
/// the log, not to the client). Every error body is JSON with "error" and "message".
///
/// A POST to the track-points path with an `Idempotency-Key` header (at most 200 bytes) is
/// answered once: the same key with the same body, within a day, gets the first answer
/// again with `Idempotent-Replayed: true`; with another body, 422; while the first is
/// still being answered, 409. Keys are kept per access key; a 5xx answer is not kept.
///
/// For operators, without a key: GET /healthz answers 200 {"status": "ok", "places",
/// "countries"} while a database is open and 503 {"status": "starting"} before and
/// {"status": "reloading"} while a new one is being opened, and 503 {"status": "failing"}
/// when the store cannot answer (its file changed in place, or its queries fail); GET
/// /metrics answers the figures in Prometheus' text format (404 when metrics are off).
/// Neither is written to the access log unless `logProbes` is set.
class LocationServer {
 public:
  static constexpr std::size_t kMaxBody = 64 * 1024;

  using Operations = ServerOperations;

  LocationServer(std::shared_ptr<const PlaceStore> store, AccessKeys keys, std::shared_ptr<AccessLog> log,
                 std::size_t threads, Operations operations = {});
  ~LocationServer();
  LocationServer(const LocationServer&) = delete;
  LocationServer& operator=(const LocationServer&) = delete;

  /// False when the address cannot be had.
  bool bind(const std::string& host, int port);
  /// Binds a free port chosen by the system; returns it, or -1.
  int bindToAnyPort(const std::string& host);
  /// Serves on the bound address until `stop()`; false when serving failed.
  bool serve();
  /// Stops accepting and lets `serve()` return once the open connections are done. Safe
  /// from any thread, also before `serve()` has started.
  void stop();
  bool isRunning() const;

  /// Marks a reload in progress: /healthz answers 503 until `replaceStore` or
  /// `reloadFailed`.
  void reloadStarting();
  /// New requests use `store`; those in flight finish on the one they started with, which
  /// closes when the last of them is done. Safe from any thread.
  void replaceStore(std::shared_ptr<const PlaceStore> store);
  void reloadFailed();

  /// What a reload takes up: the database now at `db` and, when `keys` is not empty, the
  /// keys now in that file.
  struct ReloadSources {
    std::string db;
    std::string keys;
  };
  /// Opens and checks the new database and reads the keys; takes up both only when both
  /// are sound, and otherwise keeps serving the previous ones. Writes what it did to the
  /// log; true when the new ones are served.
  bool reload(const ReloadSources& sources);

 private:
  static constexpr int kListenBacklog = 1024;

  void route();
  void widenBacklog();

  /// The database new requests use; a request holds the one it started with to its end.
  // A plain lock rather than std::atomic<std::shared_ptr>: libstdc++ 12's lock in the
  // pointer's low bits is invisible to ThreadSanitizer, and the lock is held only to copy.
  std::shared_ptr<const PlaceStore> currentStore() const;
  std::shared_ptr<const AccessKeys> currentKeys() const;
  mutable std::mutex storeMutex_;
  std::shared_ptr<const PlaceStore> store_;
  std::shared_ptr<const AccessKeys> keys_;
  std::atomic<bool> reloading_{false};
  std::shared_ptr<AccessLog> log_;
  std::size_t threads_;
  Operations operations_;
  std::shared_ptr<IdempotencyStore> idempotency_;
  std::unique_ptr<httplib::Server> server_;
  /// The listening socket, as the server created it.
  int listenSocket_ = -1;
  std::atomic<bool> serving_{false};
  std::atomic<bool> stopRequested_{false};
};

}  // namespace tovik::server
