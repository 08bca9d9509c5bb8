// What the application sees when the network or the service misbehaves: one table of
// faults, each played against a real loopback peer through two calls (the reverse
// geocoding POST, which holds the facade weakly, and the place search GET, which holds it
// strongly). Every case ends in exactly one callback on the main thread, and the access
// key appears in no error text and in no log line but the request line that shows it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <thread>

#include "reliability/reliability_env.h"
#include "support/raw_socket_server.h"
#include "support/test_server.h"

namespace tovik::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kOk = "OK";
constexpr std::size_t k100MB = 100u * 1024 * 1024;

/// The far end of one case: where the kit is pointed, and what it must never have seen.
struct Peer {
  std::string baseURL;
  /// Empty, or what the peer received that it never should have.
  std::function<std::string()> breach = [] { return std::string(); };
  std::shared_ptr<void> alive;
};

struct Fault {
  const char* name;
  std::function<Peer()> start;
  std::string outcome;  // kOk: the call's result callback; otherwise the error text
  double timeout = 30;
};

using Reply = std::function<std::string(const std::string& received)>;

RawScript script(Reply reply, std::size_t fillerBytes = 0, RawScript::Ending ending = RawScript::Ending::close,
                 RawScript::Read read = RawScript::Read::request) {
  RawScript made;
  made.read = read;
  made.reply = std::move(reply);
  made.fillerBytes = fillerBytes;
  made.ending = ending;
  return made;
}

Peer peerAt(std::string baseURL, std::shared_ptr<void> alive = nullptr) {
  Peer peer;
  peer.baseURL = std::move(baseURL);
  peer.alive = std::move(alive);
  return peer;
}

Peer raw(RawScript script, const char* scheme = "http") {
  auto server = std::make_shared<RawSocketServer>(std::move(script));
  return peerAt(std::string(scheme) + "://127.0.0.1:" + std::to_string(server->port()), server);
}

// An HTTPS server with a certificate the kit must refuse.
Peer tls(std::unique_ptr<TestServer> made) {
  std::shared_ptr<TestServer> server = std::move(made);
  server->respondToAll(CannedResponse::json(200, kLocationJson));
  Peer peer = peerAt(server->baseURL(), server);
  peer.breach = [server] {
    return server->requestCount() > 0 ? std::string("a request went over a refused certificate") : "";
  };
  return peer;
}

Peer refused() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);  // nobody listens there now
  return peerAt("http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)));
}

// The right body for either call: a list for the GET, one location for the POST.
std::string bodyFor(const std::string& request) { return request.rfind("GET", 0) == 0 ? kPlacesJson : kLocationJson; }

Peer redirect(int status) {
  auto target = std::make_shared<RawSocketServer>(
      script([](const std::string& r) { return RawSocketServer::httpAnswer(200, bodyFor(r)); }));
  Peer peer = raw(script([status, to = target->baseURL()](const std::string&) {
    return RawSocketServer::httpAnswer(status, "", "Location: " + to + "/location/hub/v1/track_points\r\n");
  }));
  peer.breach = [target] {
    return target->connectionCount() > 0 ? std::string("the redirect was followed") : "";
  };
  return peer;
}

Peer plainBehindHttps() {
  Peer peer = raw(script([](const std::string& r) { return RawSocketServer::httpAnswer(200, bodyFor(r)); }, 0,
                         RawScript::Ending::close, RawScript::Read::anything),
                  "https");
  auto server = std::static_pointer_cast<RawSocketServer>(peer.alive);
  peer.breach = [server] {
    const std::string got = server->received();
    if (got.find(kAccessKey) != std::string::npos || got.find("HTTP/1.1") != std::string::npos) {
      return std::string("the request went out as plain text");
    }
    return got.empty() || got[0] != '\x16' ? std::string("no TLS handshake was offered") : "";
  };
  return peer;
}

const std::vector<Fault>& faults() {
  static const std::vector<Fault> table = {
      {"ConnectionRefused", refused, "无法连接到服务器"},
      {"ResetMidBody",
       [] {
         return raw(script(
             [](const std::string&) {
               return std::string("HTTP/1.1 200 OK\r\nContent-Length: 4000\r\n\r\n{\"id\": \"R1\", \"loc");
             },
             0, RawScript::Ending::reset));
       },
       "网络连接已中断"},
      {"AcceptedButNeverAnswered",
       [] { return raw(script(nullptr, 0, RawScript::Ending::hang, RawScript::Read::nothing)); }, "请求超时", 0.5},
      {"Body100MBOverTheCap",
       [] {
         return raw(script(
             [](const std::string&) {
               return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(k100MB) + "\r\n\r\n";
             },
             k100MB));
       },
       "数据解码失败"},
      {"Body100MBUntilClose",
       [] {
         return raw(script([](const std::string&) { return std::string("HTTP/1.0 200 OK\r\n\r\n"); }, k100MB));
       },
       "数据解码失败"},
      {"InvalidUtf8InBody",
       [] {
         return raw(script([](const std::string&) {
           return RawSocketServer::httpAnswer(200, "[{\"id\": \"\xff\xfe\xc3\x28\"}]");
         }));
       },
       "数据解码失败"},
      {"Redirect301NotFollowed", [] { return redirect(301); }, "请求失败，状态码: 301"},
      {"Redirect302NotFollowed", [] { return redirect(302); }, "请求失败，状态码: 302"},
      {"Http10WithoutContentLength",
       [] {
         return raw(script([](const std::string& r) {
           return "HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n\r\n" + bodyFor(r);
         }));
       },
       kOk},
      {"TlsIssuerNotTrusted", [] { return tls(TestServer::https(TlsTestEnvironment::untrusted())); },
       "无法建立安全连接（TLS 证书校验失败）"},
      {"TlsCertificateForAnotherHost",
       [] { return tls(TestServer::https(wrongHostCertificate().certificateFile, wrongHostCertificate().keyFile)); },
       "无法建立安全连接（TLS 证书校验失败）"},
      {"HttpsToPlainServerNeverFallsBack", plainBehindHttps, "无法建立安全连接（TLS 握手失败）"},
  };
  return table;
}

struct Call {
  const char* name;
  const char* successKind;
  void (*run)(TkClientLocation&);
};

const Call kCalls[] = {
    {"reverse geocoding", "reverse", [](TkClientLocation& f) { f.getReverseCode(39.9, 116.4); }},
    {"place search", "poi", [](TkClientLocation& f) { f.poiKeySearch("天安门", "110100", "北京市", 1, 10); }},
};

class FaultTable : public ReliabilityTest, public testing::WithParamInterface<Fault> {};

TEST_P(FaultTable, EndsInExactlyOneCallbackWithTheExpectedOutcome) {
  const Fault& fault = GetParam();
  ServiceRequest::setTimeoutIntervalForTesting(fault.timeout);
  for (const Call& call : kCalls) {
    SCOPED_TRACE(call.name);
    const Peer peer = fault.start();
    auto recorder = std::make_shared<Recorder>();
    auto facade = makeFacade(recorder, peer.baseURL);

    TkClientLocation::setIsLogEnabled(true);
    std::optional<LogCapture> capture(std::in_place);
    call.run(*facade);
    const bool heard = runUntil([&] { return !recorder->heard.empty(); });
    MainQueue::shared().runFor(30ms);  // room for a stray second callback
    TkClientLocation::setIsLogEnabled(false);
    const std::string log = capture->take();
    capture.reset();

    ASSERT_TRUE(heard);
    ASSERT_EQ(recorder->heard.size(), 1u);
    const Heard& event = recorder->heard.front();
    EXPECT_TRUE(event.onMainThread);
    if (fault.outcome == kOk) {
      EXPECT_EQ(event.kind, call.successKind);
    } else {
      EXPECT_EQ(event.kind, "error");
      EXPECT_EQ(event.msg, fault.outcome);
    }
    EXPECT_EQ(event.msg.find(kAccessKey), std::string::npos);
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
      // The place search's request line shows the whole address, key included, by design.
      if (line.rfind("请求URL：", 0) != 0) {
        EXPECT_EQ(line.find(kAccessKey), std::string::npos) << line;
      }
    }
    EXPECT_EQ(peer.breach(), "");
  }
}

INSTANTIATE_TEST_SUITE_P(Reliability, FaultTable, testing::ValuesIn(faults()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tovik::test
