#include "support/test_server.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

#include "support/test_certificates.h"

namespace tovik::test {

namespace {

// Counts the TCP connections the server accepts: cpp-httplib hands each accepted socket
// to its task queue as one job.
class CountingThreadPool : public httplib::TaskQueue {
 public:
  CountingThreadPool(std::size_t threads, std::atomic<std::size_t>& connections)
      : pool_(threads), connections_(connections) {}

  void enqueue(std::function<void()> job) override {
    ++connections_;
    pool_.enqueue(std::move(job));
  }
  void shutdown() override { pool_.shutdown(); }
  void on_idle() override { pool_.on_idle(); }

 private:
  httplib::ThreadPool pool_;
  std::atomic<std::size_t>& connections_;
};

int portOf(const sockaddr_storage& address) {
  if (address.ss_family == AF_INET) {
    return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
  }
  if (address.ss_family == AF_INET6) {
    return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
  }
  return -1;
}

// Calls `visit(fd, clientPort)` for each of this process's sockets bound to `localPort`;
// `clientPort` is -1 for the listening socket. cpp-httplib gives a handler no access to its
// socket, and its listening backlog is fixed; this is how the server reaches them.
template <class Visit>
void forEachSocketOnPort(int localPort, Visit visit) {
  DIR* fds = opendir("/proc/self/fd");
  if (fds == nullptr) {
    return;
  }
  const int listing = dirfd(fds);
  while (dirent* entry = readdir(fds)) {
    char* end = nullptr;
    const long number = std::strtol(entry->d_name, &end, 10);
    const int fd = static_cast<int>(number);
    if (end == entry->d_name || *end != '\0' || fd == listing) {
      continue;
    }
    sockaddr_storage local{};
    socklen_t localLength = sizeof(local);
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0 || portOf(local) != localPort) {
      continue;
    }
    sockaddr_storage peer{};
    socklen_t peerLength = sizeof(peer);
    visit(fd, getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) == 0 ? portOf(peer) : -1);
  }
  closedir(fds);
}

// Closes accepted connections (those of one client port when given): how the server drops
// a connection, and how it ends kept-alive connections at once when it stops instead of
// waiting out their idle time.
void shutDownConnections(int localPort, std::optional<int> clientPort) {
  forEachSocketOnPort(localPort, [&](int fd, int peerPort) {
    if (peerPort >= 0 && (!clientPort || peerPort == *clientPort)) {
      ::shutdown(fd, SHUT_RDWR);
    }
  });
}

// cpp-httplib listens with a backlog of 5: more simultaneous connects overflow it and the
// client's retried SYN costs a second.
void widenBacklog(int localPort) {
  forEachSocketOnPort(localPort, [](int fd, int peerPort) {
    int listening = 0;
    socklen_t length = sizeof(listening);
    if (peerPort < 0 && getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) == 0 && listening) {
      ::listen(fd, SOMAXCONN);
    }
  });
}

}  // namespace

std::optional<std::string> RecordedRequest::header(std::string_view name) const {
  auto it = headers.find(std::string(name));
  return it == headers.end() ? std::nullopt : std::optional(it->second);
}

std::size_t RecordedRequest::headerCount(std::string_view name) const { return headers.count(std::string(name)); }

std::optional<std::string> RecordedRequest::queryValue(std::string_view name) const {
  auto it = query.find(std::string(name));
  return it == query.end() ? std::nullopt : std::optional(it->second);
}

CannedResponse CannedResponse::json(int status, std::string body) {
  CannedResponse response;
  response.status = status;
  response.body = std::move(body);
  return response;
}

CannedResponse CannedResponse::dropped() {
  CannedResponse response;
  response.action = Action::dropConnection;
  return response;
}

CannedResponse CannedResponse::cutOff(int status, std::string body) {
  CannedResponse response = json(status, std::move(body));
  response.action = Action::closeMidBody;
  return response;
}

CannedResponse CannedResponse::delayed(std::chrono::milliseconds delay, int status, std::string body) {
  CannedResponse response = json(status, std::move(body));
  response.delay = delay;
  return response;
}

TestServer::TestServer(Options options) : TestServer(options, std::make_unique<httplib::Server>(), false) {}

std::unique_ptr<TestServer> TestServer::https(const TestCertificates& certificates, Options options) {
  return https(certificates.serverCertificateFile(), certificates.serverKeyFile(), options);
}

std::unique_ptr<TestServer> TestServer::https(const std::string& certificateFile, const std::string& keyFile,
                                              Options options) {
  auto server = std::make_unique<httplib::SSLServer>(certificateFile.c_str(), keyFile.c_str());
  if (!server->is_valid()) {
    throw std::runtime_error("TestServer: the certificate or key cannot be loaded");
  }
  return std::unique_ptr<TestServer>(new TestServer(options, std::move(server), true));
}

TestServer::TestServer(Options options, std::unique_ptr<httplib::Server> server, bool secure)
    : options_(options), server_(std::move(server)), secure_(secure) {
  fallback_.status = 404;
  fallback_.body.clear();
  start();
}

TestServer::~TestServer() { stop(); }

void TestServer::start() {
  server_->set_tcp_nodelay(true);
  server_->set_keep_alive_max_count(1'000'000);
  server_->set_keep_alive_timeout(60);
  // cpp-httplib owns and deletes the queue it gets from here.
  server_->new_task_queue = [this] { return new CountingThreadPool(options_.threads, connections_); };

  const auto handler = [this](const httplib::Request& request, httplib::Response& response) {
    dispatch(request, response);
  };
  server_->Get(".*", handler);
  server_->Post(".*", handler);
  server_->Put(".*", handler);
  server_->Patch(".*", handler);
  server_->Delete(".*", handler);
  server_->Options(".*", handler);

  port_ = server_->bind_to_any_port("127.0.0.1");
  if (port_ <= 0) {
    throw std::runtime_error("TestServer: cannot bind a port on 127.0.0.1");
  }
  widenBacklog(port_);
  // The socket listens from here on; connections wait in its backlog until the loop runs.
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!server_->is_running() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void TestServer::stop() {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) {
      return;
    }
    stopping_ = true;
  }
  changed_.notify_all();
  server_->stop();
  shutDownConnections(port_, std::nullopt);
  if (thread_.joinable()) {
    thread_.join();
  }
}

std::string TestServer::baseURL() const {
  return std::string(secure_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_);
}

std::string TestServer::url(std::string_view path) const { return baseURL() + std::string(path); }

void TestServer::respond(std::string method, std::string path, CannedResponse response) {
  std::lock_guard lock(mutex_);
  routes_[{std::move(method), std::move(path)}] = Route{std::move(response), nullptr};
}

void TestServer::on(std::string method, std::string path, Handler handler) {
  std::lock_guard lock(mutex_);
  routes_[{std::move(method), std::move(path)}] = Route{std::nullopt, std::move(handler)};
}

void TestServer::respondToAll(CannedResponse response) {
  std::lock_guard lock(mutex_);
  fallback_ = std::move(response);
}

std::vector<RecordedRequest> TestServer::requests() const {
  std::lock_guard lock(mutex_);
  return recorded_;
}

std::size_t TestServer::requestCount() const {
  std::lock_guard lock(mutex_);
  return recorded_.size();
}

RecordedRequest TestServer::lastRequest() const {
  std::lock_guard lock(mutex_);
  if (recorded_.empty()) {
    ADD_FAILURE() << "the test server received no request";
    return {};
  }
  return recorded_.back();
}

bool TestServer::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return recorded_.size() >= count; });
}

void TestServer::clearRecords() {
  std::lock_guard lock(mutex_);
  recorded_.clear();
  connections_ = 0;
}

void TestServer::record(const httplib::Request& request) {
  RecordedRequest recorded;
  recorded.method = request.method;
  recorded.path = request.path;
  if (const auto mark = request.target.find('?'); mark != std::string::npos) {
    recorded.rawQuery = request.target.substr(mark + 1);
  }
  recorded.query.insert(request.params.begin(), request.params.end());
  recorded.headers = request.headers;
  recorded.body = request.body;
  recorded.clientPort = request.remote_port;
  {
    std::lock_guard lock(mutex_);
    recorded_.push_back(std::move(recorded));
  }
  changed_.notify_all();
}

void TestServer::dispatch(const httplib::Request& request, httplib::Response& response) {
  if (options_.recordRequests) {
    record(request);
  }
  Route route;
  {
    std::lock_guard lock(mutex_);
    auto it = routes_.find({request.method, request.path});
    route = it != routes_.end() ? it->second : Route{fallback_, nullptr};
  }
  if (route.handler) {
    route.handler(request, response);
  } else {
    answer(*route.canned, request, response);
  }
}

bool TestServer::sleepUnlessStopped(std::chrono::milliseconds delay) {
  std::unique_lock lock(mutex_);
  return !changed_.wait_for(lock, delay, [this] { return stopping_; });
}

void TestServer::answer(const CannedResponse& canned, const httplib::Request& request, httplib::Response& response) {
  if (canned.delay.count() > 0 && !sleepUnlessStopped(canned.delay)) {
    shutDownConnections(port_, request.remote_port);
    return;
  }
  for (const auto& [name, value] : canned.headers) {
    response.set_header(name, value);
  }
  response.status = canned.status;
  switch (canned.action) {
    case CannedResponse::Action::respond:
      response.set_content(canned.body, canned.contentType);
      break;
    case CannedResponse::Action::dropConnection:
      shutDownConnections(port_, request.remote_port);
      break;
    case CannedResponse::Action::closeMidBody: {
      auto body = std::make_shared<std::string>(canned.body);
      response.set_content_provider(
          body->size(), canned.contentType,
          [body](std::size_t offset, std::size_t, httplib::DataSink& sink) {
            if (offset > 0 || body->size() < 2) {
              return false;  // cpp-httplib closes the connection
            }
            sink.write(body->data(), body->size() / 2);
            return true;
          });
      break;
    }
  }
}

}  // namespace tovik::test
