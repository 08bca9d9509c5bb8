#include "server/location_server.h"

#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <variant>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "server/request_parsing.h"
#include "server/request_stream.h"
#include "server/worker_pool.h"
#include "tovik/model/json_codec.h"
#include "tovik/requests/service_endpoint.h"

namespace tovik::server {

namespace {

using nlohmann::json;

constexpr const char* kJson = "application/json; charset=utf-8";
constexpr const char* kHealthPath = "/healthz";
constexpr const char* kMetricsPath = "/metrics";
constexpr const char* kIdempotencyHeader = "Idempotency-Key";
constexpr std::size_t kMaxIdempotencyKey = 200;

/// When the request being served on this thread reached the router. A connection is
/// served by one worker thread from its first byte to its last, so the logger, which runs
/// on the same thread, can measure the request's handling time.
std::chrono::steady_clock::time_point& requestStart() {
  static thread_local std::chrono::steady_clock::time_point start{};
  return start;
}

std::string dump(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

void sendError(httplib::Response& res, int status, const char* kind, const std::string& message,
               const std::string& field = "") {
  json body{{"error", kind}, {"message", message}};
  if (!field.empty()) {
    body["field"] = field;
  }
  res.status = status;
  res.set_content(dump(body), kJson);
}

void sendBadRequest(httplib::Response& res, const RequestError& error) {
  sendError(res, 400, "bad_request", error.message, error.field);
}

/// Set when an answer must end its connection (a body left unread behind a refused head).
thread_local bool tlCloseAfterAnswer = false;

void closeAfterAnswer(httplib::Response& res) {
  res.set_header("Connection", "close");
  tlCloseAfterAnswer = true;
}

/// The HTTP library's server with its own connection handling: each request on a
/// connection is read through a `RequestStream` (whole-request deadline, head caps), and
/// between requests the connection waits in the pool's waiting room, not on a worker.
class GuardedServer : public httplib::Server {
 public:
  GuardedServer(std::chrono::milliseconds requestTimeout, std::chrono::seconds keepAlive)
      : requestTimeout_(requestTimeout), keepAlive_(keepAlive) {}

  void serveConnection(int socket, WorkerPool::Clock::time_point deadline, bool idle, std::string received) {
    RequestStream stream(socket, std::chrono::seconds(10), WorkerPool::kMaxHead, WorkerPool::kMaxHeadLines,
                         std::move(received));
    while (true) {
      auto arrival = WorkerPool::examine(stream.pending());
      if (arrival != WorkerPool::Arrival::ready) {
        // A kept-alive client usually sends its next request at once: a short wait here
        // saves it a trip through the waiting room. (Not for a new connection: a burst
        // of silent ones would hold every worker for that while.)
        pollfd ready{socket, POLLIN, 0};
        if (!idle || ::poll(&ready, 1, kLingerMs) > 0) {
          if (!stream.readAvailable()) {
            break;
          }
          arrival = WorkerPool::examine(stream.pending());
        }
      }
      if (idle && arrival != WorkerPool::Arrival::nothing) {
        deadline = WorkerPool::Clock::now() + requestTimeout_;
        idle = false;
      }
      if (arrival != WorkerPool::Arrival::ready) {
        if (pool_ != nullptr && pool_->wait(socket, deadline, idle, stream.takePending())) {
          return;  // the pool has it now
        }
        break;
      }
      stream.begin(deadline);
      tlCloseAfterAnswer = false;
      const bool stopping = svr_sock_ == INVALID_SOCKET;
      bool closed = false;
      const bool served = process_request(stream, stopping, closed, nullptr);
      if (!served && stream.headTooLarge() && stream.written() == 0) {
        // The request line alone went past the cap: the library gave up without answering.
        static const std::string answer =
            "HTTP/1.1 431 Request Header Fields Too Large\r\nContent-Type: application/json; charset=utf-8\r\n"
            "Connection: close\r\nContent-Length: 72\r\n\r\n"
            R"({"error":"header_too_large","message":"the request head is too large"}  )";
        stream.write(answer.data(), answer.size());
      }
      if (!served || closed || stopping || stream.failed() || tlCloseAfterAnswer) {
        break;
      }
      idle = true;
      deadline = WorkerPool::Clock::now() + keepAlive_;
    }
    ::shutdown(socket, SHUT_RDWR);
    ::close(socket);
  }

  WorkerPool* pool_ = nullptr;

 private:
  static constexpr int kLingerMs = 2;

  bool process_and_close_socket(socket_t socket) override {
    if (WorkerPool::refusing()) {
      WorkerPool::refuse(socket);
      return false;
    }
    serveConnection(socket, WorkerPool::Clock::now() + requestTimeout_, false, {});
    return true;
  }

  std::chrono::milliseconds requestTimeout_;
  std::chrono::seconds keepAlive_;
};

/// How many connections may wait for their request: what the descriptor limit leaves
/// after the workers' connections and the service's own files.
std::size_t waitingRoomFor(std::size_t threads) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
    return 65536;
  }
  const auto reserved = static_cast<rlim_t>(2 * threads + 64);
  return limit.rlim_cur > reserved + 16 ? static_cast<std::size_t>(limit.rlim_cur - reserved) : 16;
}

}  // namespace

LocationServer::LocationServer(std::shared_ptr<const PlaceStore> store, AccessKeys keys,
                               std::shared_ptr<AccessLog> log, std::size_t threads, Operations operations)
    : store_(store),
      keys_(std::make_shared<const AccessKeys>(std::move(keys))),
      log_(std::move(log)),
      threads_(threads == 0 ? 1 : threads),
      operations_(std::move(operations)),
      idempotency_(std::make_shared<IdempotencyStore>(operations_.idempotency)),
      server_(std::make_unique<GuardedServer>(operations_.requestTimeout, operations_.keepAlive)) {
  auto& server = static_cast<GuardedServer&>(*server_);
  // Without TCP_NODELAY each answer on a kept-alive connection waits about 40 ms for the
  // client's delayed acknowledgement.
  server.set_tcp_nodelay(true);
  server.set_socket_options([this](socket_t socket) {
    httplib::default_socket_options(socket);
    listenSocket_ = socket;
  });
  server.set_keep_alive_max_count(1000000);
  server.set_keep_alive_timeout(operations_.keepAlive.count());
  server.set_read_timeout(10);
  server.set_write_timeout(10);
  server.set_payload_max_length(kMaxBody);
  const auto accessLog = log_;
  const auto metrics = operations_.metrics;
  WorkerPool::Limits limits;
  limits.threads = threads_;
  limits.maxQueued = operations_.maxQueued;
  limits.requestTimeout = operations_.requestTimeout;
  limits.maxWaiting = operations_.maxWaiting != 0 ? operations_.maxWaiting : waitingRoomFor(threads_);
  server.new_task_queue = [&server, accessLog, metrics, limits]() -> httplib::TaskQueue* {
    WorkerPool::Observer observer;
    observer.waited = [accessLog, metrics](std::chrono::microseconds wait) {
      accessLog->recordWait(wait);
      if (metrics) {
        metrics->waitedForWorker(wait);
      }
      if (wait >= AccessLog::kSlow) {
        accessLog->note("warning: a connection waited " + std::to_string(wait.count() / 1000) +
                        " ms for a worker; raise --threads");
      }
    };
    observer.dropped = [metrics](std::string_view reason) {
      if (metrics) {
        metrics->dropped(reason);
      }
    };
    auto pool = std::make_unique<WorkerPool>(
        limits, std::move(observer),
        [&server](int socket, WorkerPool::Clock::time_point deadline, bool idle, std::string received) {
          server.serveConnection(socket, deadline, idle, std::move(received));
        });
    server.pool_ = pool.get();
    // The server takes ownership of the queue it is handed.
    return pool.release();
  };
  route();
}

LocationServer::~LocationServer() { stop(); }

void LocationServer::route() {
  auto& server = *server_;
  const auto metrics = operations_.metrics;
  server.set_pre_routing_handler([metrics](const httplib::Request& req, httplib::Response& res) {
    requestStart() = std::chrono::steady_clock::now();
    if (metrics) {
      metrics->started();
    }
    // The body's length is settled before any of it is read, so that a length the
    // service will not read is answered at once; the connection then closes, since the
    // body that may follow is not read.
    const auto lengths = req.get_header_value_count("Content-Length");
    if (lengths == 0) {
      return httplib::Server::HandlerResponse::Unhandled;
    }
    const std::string length = req.get_header_value("Content-Length", 0);
    for (std::size_t k = 1; k < lengths; ++k) {
      if (req.get_header_value("Content-Length", k) != length) {
        sendError(res, 400, "bad_request", "the request has Content-Length headers that differ");
        closeAfterAnswer(res);
        return httplib::Server::HandlerResponse::Handled;
      }
    }
    if (length.empty() || length.find_first_not_of("0123456789") != std::string::npos) {
      sendError(res, 400, "bad_request", "Content-Length is not a whole number of bytes");
      closeAfterAnswer(res);
      return httplib::Server::HandlerResponse::Handled;
    }
    if (length.size() > 9 || std::stoul(length) > kMaxBody) {
      sendError(res, 413, "payload_too_large", "the body is larger than " + std::to_string(kMaxBody) + " bytes");
      closeAfterAnswer(res);
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });
  const auto log = log_;
  const bool logProbes = operations_.logProbes;
  server.set_logger([log, metrics, logProbes](const httplib::Request& req, const httplib::Response& res) {
    auto& start = requestStart();
    const bool routed = start != std::chrono::steady_clock::time_point{};
    const auto handling = !routed ? std::chrono::microseconds{0}
                                  : std::chrono::duration_cast<std::chrono::microseconds>(
                                        std::chrono::steady_clock::now() - start);
    start = {};
    if (metrics && routed) {
      metrics->finished(req.path, res.status, handling);
    }
    if (!logProbes && (req.path == kHealthPath || req.path == kMetricsPath)) {
      return;
    }
    // The query's items as the library's own parser reads them (which is what the key
    // check read), never the raw target; not req.params, which also holds the items of a
    // form body.
    const auto question = req.target.find('?');
    httplib::Params query;
    if (question != std::string::npos) {
      httplib::detail::parse_query_text(req.target.substr(question + 1), query);
    }
    log->write(req.remote_addr + ":" + std::to_string(req.remote_port), req.method, req.path, query, res.status,
               res.body.size(), handling);
  });
  const httplib::Server::HandlerWithResponse onError = [](const httplib::Request&, httplib::Response& res) {
    if (!res.body.empty()) {
      return httplib::Server::HandlerResponse::Unhandled;
    }
    switch (res.status) {
      case 404:
        sendError(res, 404, "not_found", "no such path");
        break;
      case 413:
        sendError(res, 413, "payload_too_large",
                  "the body is larger than " + std::to_string(kMaxBody) + " bytes");
        break;
      case 400:
        if (RequestStream::headRefused()) {
          sendError(res, 431, "header_too_large",
                    "the request head is larger than " + std::to_string(WorkerPool::kMaxHead) + " bytes or " +
                        std::to_string(WorkerPool::kMaxHeadLines) + " lines");
          closeAfterAnswer(res);
          break;
        }
        sendError(res, 400, "bad_request", "malformed HTTP request");
        break;
      default:
        sendError(res, res.status, "error", "the request failed");
        break;
    }
    return httplib::Server::HandlerResponse::Handled;
  };
  server.set_error_handler(onError);
  server.set_exception_handler([log](const httplib::Request&, httplib::Response& res, std::exception_ptr error) {
    std::string what = "unknown error";
    try {
      if (error) {
        std::rethrow_exception(error);
      }
    } catch (const std::exception& e) {
      what = e.what();
    } catch (...) {
    }
    log->note("error: " + what);
    sendError(res, 500, "internal", "internal error");
  });

  // The key check comes first: a client without a valid key learns nothing else.
  const auto authorised = [this](const httplib::Request& req, httplib::Response& res) {
    const std::string name(endpoint_items::kKeyName);
    const auto count = req.get_param_value_count(name);
    if (count > 1) {
      sendBadRequest(res, RequestError{name, "\"" + name + "\" is given more than once"});
      return false;
    }
    const auto refusal = currentKeys()->refusal(count == 0 ? std::string() : req.get_param_value(name));
    if (refusal) {
      sendError(res, 401, "unauthorized", *refusal);
      return false;
    }
    return true;
  };

  // Each path answers the method its rows give, and 405 to the other.
  const auto route = [&server](const ServiceEndpoint& endpoint, httplib::Server::Handler handler) {
    const std::string path(endpoint.path);
    const std::string allowed(endpoint.method);
    httplib::Server::Handler wrongMethod = [allowed](const httplib::Request&, httplib::Response& res) {
      res.set_header("Allow", allowed);
      sendError(res, 405, "method_not_allowed", "this path answers " + allowed + " only");
    };
    if (allowed == "POST") {
      server.Post(path, std::move(handler));
      server.Get(path, std::move(wrongMethod));
    } else {
      server.Get(path, std::move(handler));
      server.Post(path, std::move(wrongMethod));
    }
  };

  // One handler for the two calls of the track-points path; the body tells them apart.
  static_assert(kTrackLocationEndpoint.path == kReverseGeocodeEndpoint.path &&
                kTrackLocationEndpoint.method == kReverseGeocodeEndpoint.method);
  const auto answerTrackPoints = [this](const httplib::Request& req, httplib::Response& res) {
    const auto parsed = RequestParsing::trackPoints(req.body, req.params);
    if (const auto* error = std::get_if<RequestError>(&parsed)) {
      sendBadRequest(res, *error);
      return;
    }
    const TrackPointsHandler handler(currentStore());
    res.set_content(dump(JsonCodec<LocationRes>::encode(*handler.answer(std::get<TrackPointsRequest>(parsed)))), kJson);
  };
  route(kTrackLocationEndpoint, [this, authorised, answerTrackPoints](const httplib::Request& req,
                                                                      httplib::Response& res) {
    if (!authorised(req, res)) {
      return;
    }
    const std::string key = req.get_header_value(kIdempotencyHeader);
    if (key.empty()) {
      answerTrackPoints(req, res);
      return;
    }
    if (key.size() > kMaxIdempotencyKey || req.get_header_value_count(kIdempotencyHeader) > 1) {
      sendError(res, 400, "bad_request",
                std::string(kIdempotencyHeader) + " must be given once, at most " +
                    std::to_string(kMaxIdempotencyKey) + " bytes",
                kIdempotencyHeader);
      return;
    }
    const std::string accessKey = req.get_param_value(std::string(endpoint_items::kKeyName));
    auto claim = idempotency_->claim(accessKey, key, req.body);
    switch (claim.outcome) {
      case IdempotencyStore::Outcome::replay:
        res.status = claim.answer.status;
        res.set_content(std::move(claim.answer.body), claim.answer.contentType);
        res.set_header("Idempotent-Replayed", "true");
        return;
      case IdempotencyStore::Outcome::otherBody:
        sendError(res, 422, "idempotency_key_reused",
                  "this Idempotency-Key was sent with another body; a new upload needs a new key", kIdempotencyHeader);
        return;
      case IdempotencyStore::Outcome::inProgress:
        res.set_header("Retry-After", "1");
        sendError(res, 409, "idempotency_key_in_use", "the first request with this Idempotency-Key is still being answered",
                  kIdempotencyHeader);
        return;
      case IdempotencyStore::Outcome::first:
        break;
    }
    // A request that throws (500) is forgotten, so that its retry is answered afresh.
    struct Abandon {
      IdempotencyStore& store;
      const std::string& accessKey;
      const std::string& key;
      bool kept = false;
      ~Abandon() {
        if (!kept) store.abandon(accessKey, key);
      }
    } abandon{*idempotency_, accessKey, key};
    answerTrackPoints(req, res);
    if (res.status < 500) {
      idempotency_->complete(accessKey, key,
                             {res.status == -1 ? 200 : res.status, res.body, res.get_header_value("Content-Type")});
      abandon.kept = true;
    }
  });

  const auto serveList = [authorised](auto parse, auto answer) {
    return [authorised, parse, answer](const httplib::Request& req, httplib::Response& res) {
      if (!authorised(req, res)) {
        return;
      }
      const auto parsed = parse(req.params);
      if (const auto* error = std::get_if<RequestError>(&parsed)) {
        sendBadRequest(res, *error);
        return;
      }
      res.set_content(dump(encodeGeocodeList(answer(std::get<0>(parsed)))), kJson);
    };
  };
  route(kGeocodeEndpoint, serveList(&RequestParsing::geocode, [this](const GeocodeRequest& request) {
          return ScenarioHandler(currentStore()).geocode(request);
        }));
  route(kPlaceSearchEndpoint, serveList(&RequestParsing::placeSearch, [this](const PlaceSearchRequest& request) {
          return ScenarioHandler(currentStore()).placeSearch(request);
        }));
  route(kNearbySearchEndpoint, serveList(&RequestParsing::nearbySearch, [this](const NearbySearchRequest& request) {
          return ScenarioHandler(currentStore()).nearbySearch(request);
        }));

  server.Get(kHealthPath, [this](const httplib::Request&, httplib::Response& res) {
    const auto store = currentStore();
    if (store == nullptr || reloading_) {
      res.status = 503;
      res.set_content(dump(json{{"status", store == nullptr ? "starting" : "reloading"}}), kJson);
      return;
    }
    // A store whose file changed under it, or whose queries fail, cannot answer: say so,
    // so that a probe restarts the replica or a balancer leaves it out.
    if (!store->failure().empty()) {
      res.status = 503;
      res.set_content(dump(json{{"status", "failing"}}), kJson);
      return;
    }
    res.set_content(
        dump(json{{"status", "ok"}, {"places", store->placeCount()}, {"countries", store->countryCount()}}), kJson);
  });
  if (metrics) {
    server.Get(kMetricsPath, [metrics](const httplib::Request&, httplib::Response& res) {
      res.set_content(metrics->text(), "text/plain; version=0.0.4; charset=utf-8");
    });
  }

}

bool LocationServer::bind(const std::string& host, int port) {
  const bool bound = server_->bind_to_port(host, port);
  if (bound) {
    widenBacklog();
  }
  return bound;
}

int LocationServer::bindToAnyPort(const std::string& host) {
  const int port = server_->bind_to_any_port(host);
  if (port > 0) {
    widenBacklog();
  }
  return port;
}

void LocationServer::widenBacklog() {
  // Debian's cpp-httplib is a compiled library that listens with a backlog of 5: a burst
  // of new connections (nginx opening connections to a replica, clients after a failover)
  // overflows it, and each SYN dropped costs its client a one-second retransmission.
  // Listening again on a listening socket only changes its backlog.
  int accepting = 0;
  socklen_t length = sizeof accepting;
  if (listenSocket_ >= 0 && ::getsockopt(listenSocket_, SOL_SOCKET, SO_ACCEPTCONN, &accepting, &length) == 0 &&
      accepting != 0) {
    ::listen(listenSocket_, kListenBacklog);
  }
}

bool LocationServer::serve() {
  serving_ = true;
  const bool served = stopRequested_ || server_->listen_after_bind();
  serving_ = false;
  return served;
}

void LocationServer::stop() {
  stopRequested_ = true;
  // The server ignores a stop that comes before its loop has started; wait for the loop.
  while (serving_ && !server_->is_running()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  server_->stop();
}

bool LocationServer::isRunning() const { return server_->is_running(); }

void LocationServer::reloadStarting() { reloading_ = true; }

void LocationServer::replaceStore(std::shared_ptr<const PlaceStore> store) {
  const std::lock_guard lock(storeMutex_);
  store_ = std::move(store);
  reloading_ = false;
  if (operations_.metrics) {
    operations_.metrics->reloaded();
  }
}

void LocationServer::reloadFailed() { reloading_ = false; }

std::shared_ptr<const PlaceStore> LocationServer::currentStore() const {
  const std::lock_guard lock(storeMutex_);
  return store_;
}

std::shared_ptr<const AccessKeys> LocationServer::currentKeys() const {
  const std::lock_guard lock(storeMutex_);
  return keys_;
}

bool LocationServer::reload(const ReloadSources& sources) {
  reloadStarting();
  std::shared_ptr<const PlaceStore> fresh;
  std::shared_ptr<const AccessKeys> keys;
  try {
    fresh = PlaceStore::open(sources.db, [log = log_](std::string_view line) { log->note(line); });
    if (!sources.keys.empty()) {
      auto read = AccessKeys::fromFile(sources.keys);
      for (const auto& warning : read.warnings()) {
        log_->note("tovik-service: warning: " + warning);
      }
      keys = std::make_shared<const AccessKeys>(std::move(read));
    }
  } catch (const std::exception& error) {
    reloadFailed();
    log_->note(std::string("tovik-service: reload failed, still serving the previous database and keys: ") +
               error.what());
    return false;
  }
  {
    const std::lock_guard lock(storeMutex_);
    if (keys) {
      keys_ = keys;
    }
  }
  replaceStore(fresh);
  log_->note("tovik-service: reloaded " + sources.db + " (" + std::to_string(fresh->placeCount()) + " places)" +
             (keys ? ", " + std::to_string(keys->size()) + " access keys from " + sources.keys : std::string()));
  return true;
}

}  // namespace tovik::server
