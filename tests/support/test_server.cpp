#include "support/test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace tovik::test {

namespace {

// Counts the TCP connections the server accepts: cpp-httplib hands each accepted socket
// to its task queue as one job.
class CountingThreadPool : public httplib::ThreadPool {
 public:
  CountingThreadPool(std::size_t threads, std::atomic<std::size_t>& connections)
      : ThreadPool(threads), connections_(connections) {}

  void enqueue(std::function<void()> job) override {
    ++connections_;
    ThreadPool::enqueue(std::move(job));
  }

 private:
  std::atomic<std::size_t>& connections_;
};

// Calls `visit(fd, clientPort)` for each of this process's sockets bound to `localPort`;
// `clientPort` is -1 for the listening socket. cpp-httplib gives a handler no access to its
// socket, and its listening backlog is fixed; this is how the loop reaches them.
template <class Visit>
void forEachSocketOnPort(int localPort, Visit visit) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    const int fd = std::atoi(entry.path().filename().c_str());
    sockaddr_in local{};
    sockaddr_in peer{};
    socklen_t length = sizeof(local);
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0 || local.sin_family != AF_INET ||
        ntohs(local.sin_port) != localPort) {
      continue;
    }
    visit(fd, getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) == 0 ? ntohs(peer.sin_port) : -1);
  }
}

}  // namespace

void LoopbackServer::start(std::unique_ptr<httplib::Server> server, std::size_t threads) {
  server_ = std::move(server);
  // cpp-httplib owns and deletes the queue it gets from here.
  server_->new_task_queue = [this, threads] { return new CountingThreadPool(threads, connections_); };
  port_ = server_->bind_to_any_port("127.0.0.1");
  if (port_ <= 0) {
    throw std::runtime_error("test server: cannot bind a port on 127.0.0.1");
  }
  // cpp-httplib listens with a backlog of 5: more simultaneous connects overflow it and the
  // client's retried SYN costs a second. Nothing is accepted yet: the listener is alone here.
  forEachSocketOnPort(port_, [](int fd, int) { ::listen(fd, SOMAXCONN); });
  // The socket listens from here on; connections wait in its backlog until the loop runs.
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!server_->is_running() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// Also how a stopping server ends kept-alive connections at once instead of waiting out
// their idle time, and wakes the workers that wait on their clients.
void LoopbackServer::drop(int clientPort) const {
  forEachSocketOnPort(port_, [&](int fd, int peerPort) {
    if (peerPort >= 0 && (clientPort < 0 || peerPort == clientPort)) {
      ::shutdown(fd, SHUT_RDWR);
    }
  });
}

void LoopbackServer::stop() {
  if (std::lock_guard lock(mutex_); std::exchange(stopping_, true)) {
    return;
  }
  changed_.notify_all();
  if (thread_.joinable()) {
    server_->stop();
    drop();
    thread_.join();
  }
}

TestServer::TestServer(TestServerOptions options) : TestServer(options, std::make_unique<httplib::Server>(), false) {}

std::unique_ptr<TestServer> TestServer::https(const std::string& certificateFile, const std::string& keyFile,
                                              TestServerOptions options) {
  auto server = std::make_unique<httplib::SSLServer>(certificateFile.c_str(), keyFile.c_str());
  if (!server->is_valid()) {
    throw std::runtime_error("TestServer: cannot load " + certificateFile + " or " + keyFile);
  }
  return std::unique_ptr<TestServer>(new TestServer(options, std::move(server), true));
}

// cpp-httplib set up as the kit needs it: no Nagle delay, unlimited keep-alive.
TestServer::TestServer(TestServerOptions options, std::unique_ptr<httplib::Server> server, bool secure)
    : options_(options) {
  secure_ = secure;
  respondToAll(CannedResponse::json(404, ""));
  server->set_tcp_nodelay(true);
  server->set_keep_alive_max_count(1'000'000);
  server->set_keep_alive_timeout(60);
  const auto handler = [this](const httplib::Request& request, httplib::Response& response) {
    dispatch(request, response);
  };
  server->Get(".*", handler);
  server->Post(".*", handler);
  server->Put(".*", handler);
  server->Patch(".*", handler);
  server->Delete(".*", handler);
  start(std::move(server), options_.threads);
}

std::string LoopbackServer::baseURL() const {
  return std::string(secure_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_);
}

TestServer::Handler TestServer::answering(CannedResponse canned) {
  return [this, canned = std::move(canned)](const httplib::Request& request, httplib::Response& response) {
    answer(canned, request, response);
  };
}

RecordedRequest TestServer::lastRequest() const {
  const auto all = requests();
  EXPECT_FALSE(all.empty()) << "the test server received no request";
  return all.empty() ? RecordedRequest{} : all.back();
}

void TestServer::dispatch(const httplib::Request& request, httplib::Response& response) {
  Handler handler;
  {
    std::lock_guard lock(mutex_);
    if (options_.recordRequests) {
      const auto mark = request.target.find('?');
      recorded_.push_back({.method = request.method,
                           .path = request.path,
                           .rawQuery = mark == std::string::npos ? "" : request.target.substr(mark + 1),
                           .query = {request.params.begin(), request.params.end()},
                           .headers = request.headers,
                           .body = request.body});
    }
    auto it = routes_.find({request.method, request.path});
    handler = it != routes_.end() ? it->second : routes_.at({"", ""});
  }
  changed_.notify_all();
  handler(request, response);
}

void TestServer::answer(const CannedResponse& canned, const httplib::Request& request, httplib::Response& response) {
  if (std::unique_lock lock(mutex_); changed_.wait_for(lock, canned.delay, [this] { return stopping_; })) {
    drop(request.remote_port);  // the stop cuts the wait short
    return;
  }
  for (const auto& [name, value] : canned.headers) {
    response.set_header(name, value);
  }
  response.status = canned.status;
  if (canned.action == CannedResponse::Action::respond) {
    response.set_content(canned.body, "application/json");
  } else if (canned.action == CannedResponse::Action::dropConnection) {
    drop(request.remote_port);
  } else {
    auto body = std::make_shared<std::string>(canned.body);
    response.set_content_provider(body->size(), "application/json",
                                  [body](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                    if (offset > 0 || body->size() < 2) {
                                      return false;  // cpp-httplib closes the connection
                                    }
                                    sink.write(body->data(), body->size() / 2);
                                    return true;
                                  });
  }
}

}  // namespace tovik::test
