// What the application sees when the network or the service misbehaves: the table of
// faults in data/faults.txt, each played against a real loopback peer through two calls (the
// reverse geocoding POST, which holds the facade weakly, and the place search GET, which
// holds it strongly). Every case ends in exactly one callback on the main thread, and the
// access key appears in no error text and in no log line but the request line that shows it.
#include <gtest/gtest.h>

#include "reliability/reliability_env.h"
#include "support/escaped_text.h"
#include "support/raw_socket_server.h"
#include "support/test_server.h"
#include "support/tls_test_environment.h"

namespace tovik::test {
namespace {

using namespace std::chrono_literals;

// gtest owns the environment; the answer size limit keeps its default.
[[maybe_unused]] testing::Environment* const tls = testing::AddGlobalTestEnvironment(new TlsTestEnvironment);

/// The far end of one case: where the kit is pointed, and what it must never have seen.
struct Peer {
  std::string baseURL;
  std::function<std::string()> breach = [] { return std::string(); };  // empty, or what went wrong
  std::shared_ptr<void> server = nullptr, target = nullptr;
};

std::string replaced(std::string text, const std::string& token, const std::string& by) {
  const auto at = text.find(token);
  return at == std::string::npos ? text : text.replace(at, token.size(), by);
}

// The right body for either call: a list for the GET, one location for the POST.
std::string bodyFor(const std::string& request) { return request.starts_with("GET") ? kPlacesJson : kLocationJson; }

Peer start(const Strings& fault) {
  const std::string& kind = fault[1];
  if (kind == "refused") return {.baseURL = RawSocketServer(RawScript{}).baseURL()};  // nobody listens there now
  if (kind == "untrusted" || kind == "wrong-host") {
    static const auto wrongHost = TlsTestEnvironment::trusted().issue("wrong-host.example");
    std::shared_ptr<TestServer> server = kind == "untrusted"
                                             ? TestServer::https(TlsTestEnvironment::untrusted())
                                             : TestServer::https(wrongHost.certificateFile, wrongHost.keyFile);
    server->respondToAll(CannedResponse::json(200, kLocationJson));
    return {
        .baseURL = server->baseURL(),
        .breach = [server] { return server->requestCount() > 0 ? "a request went over a refused certificate" : ""; },
        .server = server};
  }
  auto target = std::make_shared<RawSocketServer>(
      RawScript{.reply = [](const std::string& r) { return RawSocketServer::httpAnswer(200, bodyFor(r)); }});
  auto server = std::make_shared<RawSocketServer>(RawScript{
      .read = named<RawScript::Read>({"request", "anything", "nothing"}, fault[4]),
      .reply = [reply = unescaped(fault[2]), to = target->baseURL()](
                   const std::string& r) { return replaced(replaced(reply, "{body}", bodyFor(r)), "{target}", to); },
      .fillerBytes = std::stoull(fault[3]),
      .ending = named<RawScript::Ending>({"close", "reset", "hang"}, fault[5])});
  const bool https = kind == "raw-https";
  const auto breach = [server, target, https]() -> std::string {
    const std::string got = server->received();
    if (target->connectionCount() > 0) return "the redirect was followed";
    if (!https) return "";
    if (got.find(kAccessKey) != std::string::npos || got.find("HTTP/1.1") != std::string::npos) {
      return "the request went out as plain text";
    }
    return got.empty() || got[0] != '\x16' ? "no TLS handshake was offered" : "";
  };
  const std::string url = (https ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(server->port());
  return {.baseURL = url, .breach = breach, .server = server, .target = target};
}

const struct Call {
  const char* name;
  const char* successKind;
  void (*run)(TkClientLocation&);
} kCalls[] = {
    {"reverse geocoding", "reverse", [](TkClientLocation& f) { f.getReverseCode(39.9, 116.4); }},
    {"place search", "poi", [](TkClientLocation& f) { f.poiKeySearch("天安门", "110100", "北京市", 1, 10); }},
};

class FaultTable : public ReliabilityTest, public testing::WithParamInterface<Named> {};

TEST_P(FaultTable, EndsInExactlyOneCallbackWithTheExpectedOutcome) {
  const Strings& fault = GetParam().lines;
  ServiceCall::setTimeoutIntervalForTesting(std::stod(fault[7]));
  for (const Call& call : kCalls) {
    SCOPED_TRACE(call.name);
    const Peer peer = start(fault);
    auto recorder = std::make_shared<Recorder>();
    auto facade = readyFacade(recorder, peer.baseURL, kAccessKey);

    const std::string log = logOf([&] {
      call.run(*facade);
      runUntil([&] { return !recorder->heard.empty(); }, 60s);
      MainQueue::shared().runFor(30ms);  // room for a stray second callback
    });
    ASSERT_EQ(recorder->heard.size(), 1u);
    const Heard& event = recorder->heard.front();
    EXPECT_TRUE(event.onMainThread);
    // The call's own kind of callback, or an error and its text.
    EXPECT_EQ(event.kind == "error" ? event.msg : event.kind, fault[6] == "OK" ? call.successKind : fault[6]);
    EXPECT_EQ(event.msg.find(kAccessKey), std::string::npos);
    // The place search's request line shows the whole address, key included, by design.
    for (const std::string& line : split(log, "\n")) {
      EXPECT_TRUE(line.starts_with("请求URL：") || line.find(kAccessKey) == std::string::npos) << line;
    }
    EXPECT_EQ(peer.breach(), "");
  }
}

INSTANTIATE_TEST_SUITE_P(Reliability, FaultTable, testing::ValuesIn(tableRows("reliability", "faults.txt")),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace tovik::test
