#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "support/test_certificates.h"

namespace tovik::test {

/// One request as the test server received it.
struct RecordedRequest {
  std::string method;
  /// The path, percent-decoded.
  std::string path;
  /// The query exactly as sent, without the '?'.
  std::string rawQuery;
  /// The query items as a typical server decodes them (form decoding: "%xx" and '+' for a
  /// space), so a '+' that was not percent-encoded shows up here as a space.
  std::multimap<std::string, std::string> query;
  /// Header fields; names compare without regard to case.
  httplib::Headers headers;
  std::string body{};

  std::optional<std::string> header(std::string_view name) const { return first(headers, name); }
  std::optional<std::string> queryValue(std::string_view name) const { return first(query, name); }

  template <class Map>
  static std::optional<std::string> first(const Map& map, std::string_view name) {
    auto it = map.find(std::string(name));
    return it == map.end() ? std::nullopt : std::optional(it->second);
  }
};

/// A fixed answer of the test server, as application/json.
struct CannedResponse {
  enum class Action {
    respond,         ///< answer normally
    dropConnection,  ///< close the connection without any answer
    closeMidBody,    ///< send the status line, headers and half the body, then close
  };

  int status = 200;
  std::string body{};
  std::vector<std::pair<std::string, std::string>> headers{};
  /// Waits this long before answering (cut short when the server stops).
  std::chrono::milliseconds delay{0};
  Action action = Action::respond;

  static CannedResponse json(int status, std::string body) { return {.status = status, .body = std::move(body)}; }
  static CannedResponse dropped() { return {.action = Action::dropConnection}; }
  static CannedResponse cutOff(int status, std::string body) {
    return {.status = status, .body = std::move(body), .action = Action::closeMidBody};
  }
  static CannedResponse delayed(std::chrono::milliseconds delay, int status = 200, std::string body = "{}") {
    return {.status = status, .body = std::move(body), .delay = delay};
  }
};

/// What both test servers are: cpp-httplib's accept loop on 127.0.0.1 (an ephemeral port),
/// run on a thread of its own until `stop()`, with a worker per open connection.
class LoopbackServer {
 public:
  ~LoopbackServer() { stop(); }

  int port() const { return port_; }
  /// "http://127.0.0.1:PORT" (or "https://...").
  std::string baseURL() const;
  /// TCP connections accepted so far.
  std::size_t connectionCount() const { return connections_.load(); }
  /// Stops early (the destructor does this too): open connections are closed, waiting
  /// answers are cut short.
  void stop();

 protected:
  /// Serves from `threads` workers; started and listening when this returns.
  void start(std::unique_ptr<httplib::Server> server, std::size_t threads);
  /// Ends the accepted connection from `clientPort` at once (every one when -1).
  void drop(int clientPort = -1) const;

  mutable std::mutex mutex_;
  /// Signalled on each request and on the stop.
  mutable std::condition_variable changed_;
  bool stopping_ = false;
  std::atomic<std::size_t> connections_{0};
  bool secure_ = false;

 private:
  std::unique_ptr<httplib::Server> server_;
  int port_ = -1;
  std::thread thread_;
};

struct TestServerOptions {
  /// Workers; a kept-alive connection holds one until it closes.
  std::size_t threads = 48;
  /// Keep a record of every request (off for load: the record grows without bound).
  bool recordRequests = true;
};

/// A real HTTP (or HTTPS) server on 127.0.0.1 with an ephemeral port, serving from its own
/// threads for as long as the object lives. Each test says what it answers, per method and
/// path or for everything, and reads back what it received. cpp-httplib is set up as the
/// kit needs it: no Nagle delay, unlimited keep-alive, a worker per open connection.
///
///   TestServer server;
///   server.respond("POST", "/location/hub/v1/track_points", CannedResponse::json(200, body));
///   ... send to server.url("/location/hub/v1/track_points") ...
///   ASSERT_TRUE(server.waitForRequests(1));
class TestServer : public LoopbackServer {
 public:
  using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

  /// Plain HTTP; started and listening when the constructor returns.
  explicit TestServer(TestServerOptions options = {});
  /// HTTPS with the server certificate of `certificates` (its authority must be trusted by
  /// the client).
  static std::unique_ptr<TestServer> https(const TestCertificates& certificates, TestServerOptions options = {}) {
    return https(certificates.serverCertificateFile(), certificates.serverKeyFile(), options);
  }
  /// HTTPS with the given PEM files.
  static std::unique_ptr<TestServer> https(const std::string& certificateFile, const std::string& keyFile,
                                           TestServerOptions options = {});

  ~TestServer() { stop(); }  // before the members its workers use go

  /// `baseURL()` followed by `path`.
  std::string url(std::string_view path) const { return baseURL() + std::string(path); }

  /// Answers `method` on `path` (exact match) with `response`.
  void respond(std::string method, std::string path, CannedResponse response) {
    on(std::move(method), std::move(path), answering(std::move(response)));
  }
  /// Handles `method` on `path` with `handler`, called on a server thread.
  void on(std::string method, std::string path, Handler handler) {
    std::lock_guard lock(mutex_);
    routes_[{std::move(method), std::move(path)}] = std::move(handler);
  }
  /// The answer for requests no route matches (initially 404 with an empty body).
  void respondToAll(CannedResponse response) { on("", "", answering(std::move(response))); }

  /// Every request received so far, in arrival order.
  std::vector<RecordedRequest> requests() const {
    std::lock_guard lock(mutex_);
    return recorded_;
  }
  std::size_t requestCount() const { return requests().size(); }
  /// The most recent request; fails the calling test when there is none.
  RecordedRequest lastRequest() const;
  /// Waits until at least `count` requests have arrived, or `timeout` passes.
  bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return recorded_.size() >= count; });
  }

 private:
  TestServer(TestServerOptions options, std::unique_ptr<httplib::Server> server, bool secure);
  Handler answering(CannedResponse canned);
  void dispatch(const httplib::Request& request, httplib::Response& response);
  void answer(const CannedResponse& canned, const httplib::Request& request, httplib::Response& response);

  TestServerOptions options_;
  std::map<std::pair<std::string, std::string>, Handler> routes_;  // {"", ""}: every other request
  std::vector<RecordedRequest> recorded_;
};

}  // namespace tovik::test
