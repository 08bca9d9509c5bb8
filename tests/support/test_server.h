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

namespace tovik::test {

class TestCertificates;

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
  std::string body;
  /// The client's port: one per TCP connection.
  int clientPort = -1;

  std::optional<std::string> header(std::string_view name) const;
  std::size_t headerCount(std::string_view name) const;
  std::optional<std::string> queryValue(std::string_view name) const;
};

/// A fixed answer of the test server.
struct CannedResponse {
  enum class Action {
    respond,         ///< answer normally
    dropConnection,  ///< close the connection without any answer
    closeMidBody,    ///< send the status line, headers and half the body, then close
  };

  int status = 200;
  std::string body;
  std::string contentType = "application/json";
  std::vector<std::pair<std::string, std::string>> headers;
  /// Waits this long before answering (cut short when the server stops).
  std::chrono::milliseconds delay{0};
  Action action = Action::respond;

  static CannedResponse json(int status, std::string body);
  static CannedResponse dropped();
  static CannedResponse cutOff(int status, std::string body);
  static CannedResponse delayed(std::chrono::milliseconds delay, int status = 200, std::string body = "{}");
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
class TestServer {
 public:
  using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

  using Options = TestServerOptions;

  /// Plain HTTP; started and listening when the constructor returns.
  TestServer() : TestServer(Options{}) {}
  explicit TestServer(Options options);
  /// HTTPS with the server certificate of `certificates` (its authority must be trusted by
  /// the client).
  static std::unique_ptr<TestServer> https(const TestCertificates& certificates, Options options = {});
  /// HTTPS with the given PEM files.
  static std::unique_ptr<TestServer> https(const std::string& certificateFile, const std::string& keyFile,
                                           Options options = {});

  /// Stops the server: open connections are closed, waiting answers are cut short.
  ~TestServer();
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  /// "http://127.0.0.1:PORT" (or "https://...").
  std::string baseURL() const;
  /// `baseURL()` followed by `path`.
  std::string url(std::string_view path) const;
  int port() const { return port_; }

  /// Answers `method` on `path` (exact match) with `response`.
  void respond(std::string method, std::string path, CannedResponse response);
  /// Handles `method` on `path` with `handler`, called on a server thread.
  void on(std::string method, std::string path, Handler handler);
  /// The answer for requests no route matches (initially 404 with an empty body).
  void respondToAll(CannedResponse response);

  /// Every request received so far, in arrival order.
  std::vector<RecordedRequest> requests() const;
  std::size_t requestCount() const;
  /// The most recent request; fails the calling test when there is none.
  RecordedRequest lastRequest() const;
  /// Waits until at least `count` requests have arrived, or `timeout` passes.
  bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
  /// TCP connections accepted so far.
  std::size_t connectionCount() const { return connections_.load(); }
  /// Forgets the recorded requests and the connection count.
  void clearRecords();

  /// Stops early (the destructor does this too).
  void stop();

 private:
  struct Route {
    std::optional<CannedResponse> canned;
    Handler handler;
  };

  TestServer(Options options, std::unique_ptr<httplib::Server> server, bool secure);
  void start();
  void dispatch(const httplib::Request& request, httplib::Response& response);
  void record(const httplib::Request& request);
  void answer(const CannedResponse& canned, const httplib::Request& request, httplib::Response& response);
  bool sleepUnlessStopped(std::chrono::milliseconds delay);

  Options options_;
  std::unique_ptr<httplib::Server> server_;
  bool secure_ = false;
  int port_ = -1;
  std::thread thread_;
  std::atomic<std::size_t> connections_{0};

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool stopping_ = false;
  std::map<std::pair<std::string, std::string>, Route> routes_;
  CannedResponse fallback_;
  std::vector<RecordedRequest> recorded_;
};

}  // namespace tovik::test
