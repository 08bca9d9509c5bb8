// The five service calls against a real loopback server, through a facade with consent and
// key "AK" in a controlled world (scripted location provider, known device, clean keys, the
// log off unless a test captures it). Every outcome, one data file per call family: what the
// service answers and receives, what the delegate hears and what the log says; then who
// hears an answer and who holds the facade while a call is out, and the bodies' stamps.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "services/outcome_table.h"
#include "support/kit_world.h"
#include "support/log_capture.h"
#include "support/ready_facade.h"
#include "support/recording_delegate.h"
#include "support/test_server.h"
#include "tovik/client/tk_client_location.h"
#include "tovik/coord/datum.h"
#include "tovik/network/curl_session.h"
#include "tovik/network/network_checker.h"
#include "tovik/system/clock.h"
#include "tovik/runloop/main_queue.h"
#include "tovik/requests/reverse_geo_request.h"
#include "tovik/requests/track_request.h"
#include "tovik/system/device.h"

namespace tovik::test {
namespace {

using nlohmann::json;

/// The recorders of these tests mark each callback in the log.
template <class T = Recorder>
std::shared_ptr<T> marking() {
  auto made = std::make_shared<T>();
  made->markInLog = true;
  return made;
}

using Strings = std::vector<std::string>;

Device testDevice(const std::string& manufacturer = "Framework") {
  return {.manufacturer = manufacturer,
          .model = "Laptop 13",
          .systemName = "Debian GNU/Linux",
          .systemVersion = "12",
          .identifierForVendor = "0A1B2C3D-4E5F-4061-8283-949596979899"};
}

Location testFix(double altitude = 43.5, double horizontal = 8, double vertical = 3, double speed = 1.25) {
  return {.coordinate = {.latitude = 39.9042, .longitude = 116.4074},
          .altitude = altitude,
          .horizontalAccuracy = horizontal,
          .verticalAccuracy = vertical,
          .speed = speed};
}

bool isUpperUuid(const std::string& text) {
  return std::regex_match(text, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}"));
}

class ServiceCallTest : public testing::Test {
 protected:
  void SetUp() override { Device::setCurrent(testDevice()); }

  /// A facade with consent and key "AK", pointed at `server`.
  std::shared_ptr<TkClientLocation> makeFacade(std::shared_ptr<LocationDelegate> with) {
    return readyFacade(std::move(with), server.baseURL(), "AK");
  }

  /// Turns the log on and collects it from here on.
  void startLog() {
    TkClientLocation::setIsLogEnabled(true);
    capture_.emplace();
    logged_.clear();
  }
  /// The lines logged since `startLog()`.
  Strings logLines() {
    Strings lines;
    std::istringstream stream(logged_ += capture_->take());
    for (std::string line; std::getline(stream, line);) {
      lines.push_back(line);
    }
    return lines;
  }

  /// Drives the main queue until the captured log holds `line` `count` times: the delivery
  /// that wrote it has finished, callback included.
  bool waitForLogLine(const std::string& line, long count = 1) {
    return MainQueue::shared().runUntil([&] { return std::ranges::count(logLines(), line) >= count; },
                                        std::chrono::seconds(20));
  }

  KitWorld world;
  TestServer server;

 private:
  std::optional<LogCapture> capture_;  // after the facades, whose making ends a capture; the kit's world ends it too
  std::string logged_;
};

// A case's "call": the call's name, then its arguments, separated by '|'.
void call(TkClientLocation& f, const std::string& text) {
  Strings a(1);
  for (const char c : text) {
    c == '|' ? a.emplace_back() : a.back() += c;
  }
  if (a[0] == "track") {
    a.resize(5);
    const auto value = [&](std::size_t i, double fallback) { return a[i].empty() ? fallback : std::stod(a[i]); };
    f.getTrackLocation(testFix(value(1, 43.5), value(2, 8), value(3, 3), value(4, 1.25)));
  } else if (a[0] == "reverse") {
    a.size() > 1 ? f.getReverseCode(39.9, 116.4, datumNamed(a[1]).value()) : f.getReverseCode(39.9, 116.4);
  } else if (a[0] == "geocode") {
    f.getGeocCode(a.at(1), a.at(2));
  } else if (a[0] == "keyword") {
    f.poiKeySearch(a.at(1), a.at(2), a.at(3), std::stoi(a.at(4)), std::stoi(a.at(5)));
  } else {
    ASSERT_EQ(a[0], "nearby");
    f.poiNearbySearch(a.at(1), a.at(2), std::stoi(a.at(3)), a.at(4), a.at(5), std::stoi(a.at(6)), std::stoi(a.at(7)));
  }
}

class ServiceOutcomesTest : public ServiceCallTest, public testing::WithParamInterface<const char*> {
 protected:
  // The case's call on a fresh facade that `listener` hears, with the log captured.
  Strings play(const OutcomeCase& c, const std::shared_ptr<RequiredOnlyRecorder>& listener, const Strings& expected) {
    server.respondToAll(replyOf(c));
    auto client = makeFacade(listener);
    if (const auto key = c.get("poi-key")) {
      client->setPoiKey(*key);
    }
    Device::setCurrent(testDevice(c.get("manufacturer").value_or("Framework")));  // read at the call
    if (c["consent"] == "no") {
      client->isAgree = false;
      client->accesskey.reset();  // consent is checked first
    }
    const std::string service = c.get("service").value_or(client->serviceURL);
    client->serviceURL =
        service == "closed" ? closedURL_ : std::regex_replace(service, std::regex("\\{base\\}"), server.baseURL());
    const auto timeout = c.get("timeout");
    ServiceCall::setTimeoutIntervalForTesting(timeout ? std::optional(std::stod(*timeout)) : std::nullopt);
    startLog();
    call(*client, c["call"]);
    EXPECT_EQ(listener->heard.size(), c["consent"] == "no" ? 1u : 0u) << "what may arrive inside the call";
    EXPECT_TRUE(waitForLogLine(expected.back()));
    MainQueue::shared().poll();
    TkClientLocation::setIsLogEnabled(false);
    return logLines();
  }

  const std::string closedURL_ = [] { return TestServer().baseURL(); }();  // a port right after its server stopped
};

// Each outcome once in the log and once to the delegate, after the call has returned; a
// delegate without the optional members hears the rest.
TEST_P(ServiceOutcomesTest, EveryOutcomeReachesTheDelegateOnceAndIsLoggedOnce) {
  for (const auto& c : loadOutcomes(std::string("services/data/") + GetParam() + ".outcomes")) {
    Strings requiredOnly = c.all("log");
    std::erase_if(requiredOnly,
                  [](const auto& line) { return std::regex_search(line, std::regex("^<(reverse|geocode|poi)")); });
    for (const auto& [listener, expected] :
         {std::pair<std::shared_ptr<RequiredOnlyRecorder>, Strings>{marking(), c.all("log")},
          {marking<RequiredOnlyRecorder>(), requiredOnly}}) {
      SCOPED_TRACE(c.name + (expected.size() < c.all("log").size() ? ", required members only" : ""));
      const std::size_t before = server.requestCount();
      const Strings log = play(c, listener, expected);
      const bool received = server.requestCount() > before;
      ASSERT_EQ(received, c["sends"] != "nothing");
      const auto request = received ? server.lastRequest() : RecordedRequest{};
      EXPECT_EQ(log.size(), expected.size()) << testing::PrintToString(log);
      for (std::size_t i = 0; i < std::min(log.size(), expected.size()); ++i) {
        const auto line = log[i].substr(0, log[i].find("，原始数据："));  // a decoding failure then quotes the body
        // The log shows the address the server received with the key's value masked.
        const std::string shownQuery = std::regex_replace(request.rawQuery, std::regex("access_key=[^&]*"), "access_key=***");
        auto want = std::regex_replace(expected[i], std::regex("\\{url\\}"), server.url(request.path) + "?" + shownQuery);
        if (want == "{body}") {  // printed before the request goes out
          EXPECT_TRUE(!received || json::parse(line) == json::parse(request.body)) << line;
        } else if (want.ends_with("...")) {  // the parser's own words
          EXPECT_TRUE(line.starts_with(want.substr(0, want.size() - 3))) << line;
        } else {
          EXPECT_EQ(line, want);
        }
      }
      if (const auto recorder = std::dynamic_pointer_cast<Recorder>(listener)) {
        // The typed error comes with its text, once, and carries the same words.
        const auto texts = std::ranges::count(recorder->heard, std::string("error"), &Heard::kind);
        ASSERT_EQ(recorder->typed.size(), static_cast<std::size_t>(texts));
        EXPECT_EQ(recorder->typed.empty() ? "" : typedSummary(recorder->typed[0]), c["typed"]);
        if (texts > 0) {
          EXPECT_EQ(recorder->typed[0].message,
                    std::ranges::find(recorder->heard, std::string("error"), &Heard::kind)->msg);
          EXPECT_FALSE(recorder->typed[0].detail.empty());
        }
      }
      if (!received) {
        continue;
      }
      EXPECT_EQ(request.header("Content-Type"), "application/json");
      // Everything outside the unreserved set travels percent-encoded; a bare '+' would
      // reach most servers as a space.
      EXPECT_TRUE(std::ranges::all_of(request.rawQuery, [](char ch) {
        return static_cast<unsigned char>(ch) < 0x80 && ch != '+' && ch != ' ';
      })) << request.rawQuery;
      EXPECT_EQ(request.method, c.get("method").value_or(request.method));
      EXPECT_EQ(request.path, c.get("path").value_or(request.path));
      EXPECT_TRUE(request.method == "POST" || request.body.empty());
      EXPECT_EQ(request.query, c.get("query") ? c.pairs("query", "=") : request.query);
      auto body = request.method == "POST" ? json::parse(request.body) : json();
      if (const auto gnss = c.get("sent-gnss")) {
        EXPECT_EQ(body["location"]["gnss"], json::parse(*gnss));
      }
      if (const auto sent = c.get("sent")) {  // the body, but for its stamp
        EXPECT_TRUE(body["timestamp"].is_number_integer());
        EXPECT_TRUE(isUpperUuid(body["id"].get<std::string>())) << body["id"];
        body.erase("timestamp");
        body.erase("id");
        EXPECT_EQ(body, json::parse(*sent));
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Families, ServiceOutcomesTest, testing::Values("location", "reverse", "geocode", "search"));

// The delegate is read when the outcome arrives; a facade released meanwhile hears nothing.
TEST_F(ServiceCallTest, AnOutcomeReachesWhoeverListensWhenItArrives) {
  server.respondToAll(CannedResponse::json(200, kLocationJson));
  auto delegate = marking();
  auto facade = makeFacade(delegate);
  auto witness = marking();
  auto live = makeFacade(witness);
  auto predecessor = marking();
  auto successor = marking();
  auto replacing = makeFacade(predecessor);
  auto mute = makeFacade(nullptr);
  std::weak_ptr<TkClientLocation> gone = facade;
  startLog();
  facade->getTrackLocation(testFix());
  facade.reset();
  EXPECT_TRUE(gone.expired()) << "a request in flight must not keep the facade";
  replacing->getTrackLocation(testFix());
  replacing->setLocationDelegate(successor);
  mute->getTrackLocation(testFix());

  // Answers come back in any order: once the three that are logged have been, a stray
  // fourth has its chance.
  live->getTrackLocation(testFix());
  ASSERT_TRUE(waitForLogLine("融合定位成功，状态码: 200", 3));
  ASSERT_TRUE(MainQueue::shared().runUntil([&] { return !witness->heard.empty() && !successor->heard.empty(); },
                                           std::chrono::seconds(20)));
  ASSERT_TRUE(server.waitForRequests(4));
  MainQueue::shared().runFor(std::chrono::milliseconds(50));
  const auto log = logLines();

  EXPECT_TRUE(delegate->heard.empty());
  EXPECT_TRUE(predecessor->heard.empty());
  EXPECT_EQ(successor->summaries(), Strings{"location:R1/0"});
  // Logged for the replaced, the mute and the live facade, not for the released one.
  EXPECT_EQ(std::ranges::count(log, "融合定位成功，状态码: 200"), 3) << testing::PrintToString(log);
}

TEST_F(ServiceCallTest, EveryBodyIsStampedWithAFreshIdentity) {
  Clock::pin(12.0625);  // 12062.5 ms, exact in binary: halves round away from zero
  const auto first = TrackRequest::assemble(testFix(), testDevice());
  const auto reverse = ReverseGeoRequest::assemble(39.9, 116.4, testDevice());
  EXPECT_EQ(first.timestamp, 12063);
  EXPECT_EQ(reverse.timestamp, 12063);
  EXPECT_NE(*reverse.id, first.id);

  // Without a vendor identifier every body names the device anew.
  Device anonymous = testDevice();
  anonymous.identifierForVendor.reset();
  const auto a = TrackRequest::assemble(testFix(), anonymous);
  const auto b = ReverseGeoRequest::assemble(1, 2, anonymous);
  EXPECT_TRUE(isUpperUuid(a.asset.id) && isUpperUuid(b.asset));
  EXPECT_NE(a.asset.id, b.asset);
}

// Where the application's delegate is destroyed, and whether it heard its answer.
struct Release {
  std::atomic<int> answers{0};
  std::atomic<bool> done{false};
  bool onMain = false;
};

class ReleaseWitness : public Recorder {
 public:
  explicit ReleaseWitness(std::shared_ptr<Release> release) : release_(std::move(release)) {}
  ~ReleaseWitness() override {
    release_->onMain = MainQueue::shared().isMainThread();
    release_->done.store(true);
    MainQueue::shared().async([] {});  // wakes the test's wait wherever this ran
  }
  void onReceivedPoiSearchWithResult(const std::vector<std::shared_ptr<GeocodeRes>>&) override { ++release_->answers; }

 private:
  std::shared_ptr<Release> release_;
};

TEST_F(ServiceCallTest, APlaceSearchLetsGoOfItsFacadeOnTheMainThread) {
  server.respondToAll(CannedResponse::json(200, kPlacesJson));
  // The network worker is held right after it has posted the answer until the main thread
  // has delivered it: anything the worker still owned would then die on the worker.
  std::promise<void> resume;  // when the test ends early, its end lets the worker go
  CurlSession::setTestingHooks(
      {.afterDispatch = [held = resume.get_future().share()] { held.wait_for(std::chrono::seconds(20)); },
       .beforeWorkerStart = nullptr});

  auto release = std::make_shared<Release>();
  auto searching = makeFacade(std::make_shared<ReleaseWitness>(release));
  searching->poiKeySearch("咖啡", "110100", "北京", 1, 10);
  searching.reset();  // only the request holds the facade, and so the delegate, now
  ASSERT_TRUE(MainQueue::shared().runUntil([&] { return release->answers > 0; }, std::chrono::seconds(20)));
  MainQueue::shared().poll();

  resume.set_value();
  ASSERT_TRUE(MainQueue::shared().runUntil([&] { return release->done.load(); }, std::chrono::seconds(20)));
  EXPECT_TRUE(release->onMain);
  EXPECT_EQ(release->answers, 1);
}

// The service policy, each member on and off, against a loopback server that answers each
// request with the next of its replies (the last repeats).
class ServicePolicyTest : public ServiceCallTest {
 protected:
  void SetUp() override {
    ServiceCallTest::SetUp();
    NetworkChecker::setFlagsSource([] { return NetworkChecker::kReachable; });
  }

  struct Reply {
    int status;
    std::string retryAfter{};  // none when empty
    double delaySeconds = 0;
  };
  void answerInTurn(const std::string& method, const std::string& path, std::vector<Reply> replies) {
    turn_ = 0;
    const std::string body = method == "GET" ? kPlacesJson : kLocationJson;
    server.on(method, path, [this, replies, body](const httplib::Request&, httplib::Response& response) {
      const Reply& reply = replies[std::min(turn_++, replies.size() - 1)];
      std::this_thread::sleep_for(std::chrono::duration<double>(reply.delaySeconds));
      response.status = reply.status;
      if (!reply.retryAfter.empty()) response.set_header("Retry-After", reply.retryAfter);
      response.set_content(reply.status == 200 ? body : "{}", "application/json");
    });
  }
  std::shared_ptr<TkClientLocation> facadeWith(ServicePolicy policy, std::shared_ptr<LocationDelegate> delegate) {
    auto facade = makeFacade(std::move(delegate));
    facade->servicePolicy = policy;
    return facade;
  }
  /// The requests received since `from`.
  std::vector<RecordedRequest> requestsSince(std::size_t from) const {
    auto all = server.requests();
    return {all.begin() + static_cast<std::ptrdiff_t>(std::min(from, all.size())), all.end()};
  }
  static constexpr const char* kTrackPath = "/location/hub/v1/track_points";
  static std::string closedURL() { return TestServer().baseURL(); }  // a port right after its server stopped

 private:
  std::atomic<std::size_t> turn_{0};
};

// Only what a retry may mend is retried, within the policy's count; a POST carries its
// body's id as Idempotency-Key on every attempt, and nothing is sent twice without it.
TEST_F(ServicePolicyTest, ARetryResendsOnlyWhatIsSafeAndTheDelegateHearsOnce) {
  struct Row {
    const char* name;
    const char* call;
    int retries;
    std::vector<Reply> replies;
    std::size_t requests;
    const char* outcome;  // "result" or the typed error
  };
  const Row rows[] = {
      {"off", "track", 0, {{503, "0"}}, 1, "http/503/location/1/0"},
      {"two 503 then a result", "track", 3, {{503, "0"}, {503, "0"}, {200}}, 3, "result"},
      {"a 500 is final", "track", 3, {{500}}, 1, "http/500/location/1"},
      {"a long Retry-After is not waited out", "reverse", 3, {{429, "120"}}, 1, "http/429/reverse geocode/1/120"},
      {"the count runs out", "track", 2, {{502, "0"}}, 3, "http/502/location/3/0"},
      {"a GET goes again as it was", "geocode|a|b", 1, {{504, "0"}, {200}}, 2, "result"},
      {"back-off without Retry-After", "reverse", 1, {{503}, {200}}, 2, "result"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const bool get = std::string_view(row.call).starts_with("geocode");
    answerInTurn(get ? "GET" : "POST", get ? "/location/scenario/v1/geocode" : kTrackPath, row.replies);
    auto listener = std::make_shared<Recorder>();
    auto facade = facadeWith({.retries = row.retries}, listener);
    const std::size_t before = server.requestCount();
    call(*facade, row.call);
    ASSERT_TRUE(MainQueue::shared().runUntil([&] { return !listener->heard.empty(); }, std::chrono::seconds(20)));
    MainQueue::shared().runFor(std::chrono::milliseconds(100));  // nothing more may come

    ASSERT_EQ(listener->heard.size(), 1u) << testing::PrintToString(listener->summaries());
    const bool failed = listener->heard[0].kind == "error";
    EXPECT_EQ(failed ? typedSummary(listener->typed.at(0)) : "result", row.outcome);
    const auto sent = requestsSince(before);
    ASSERT_EQ(sent.size(), row.requests);
    for (const auto& request : sent) {
      const auto key = request.header("Idempotency-Key");
      if (get || row.retries == 0) {
        EXPECT_EQ(key, std::nullopt);
      } else {
        EXPECT_EQ(key, json::parse(request.body)["id"].get<std::string>());
      }
      EXPECT_EQ(request.body, sent[0].body) << "every attempt sends the same request";
    }
  }
}

// Against a service failing every call, retries stop once the budget is spent: 40 calls with
// three retries each allowed send at most four retries in all.
TEST_F(ServicePolicyTest, RetriesStayWithinTheirBudgetWhenEverythingFails) {
  answerInTurn("POST", kTrackPath, {{503, "0"}});
  auto listener = std::make_shared<Recorder>();
  auto facade = facadeWith({.retries = 3}, listener);
  for (int i = 0; i < 40; ++i) {
    facade->getTrackLocation(testFix());
  }
  ASSERT_TRUE(MainQueue::shared().runUntil([&] { return listener->heard.size() >= 40; }, std::chrono::seconds(30)));
  EXPECT_LE(server.requestCount(), 44u);
  EXPECT_GE(server.requestCount(), 41u) << "a fresh budget allows a few retries";
}

// Identical lookups in flight share one request; a later one near the same point within the
// cache's lifetime is answered from it, never inside the call; farther away, later, or with
// the cache off, the service is asked again.
TEST_F(ServicePolicyTest, TheCacheAnswersNearbyLookupsAndSharesOneRequestInFlight) {
  answerInTurn("POST", kTrackPath, {{200}});
  Clock::pin(1'000'000.0);
  auto listener = std::make_shared<Recorder>();
  auto facade = facadeWith({.cacheMetres = 50, .cacheSeconds = 300}, listener);
  for (int i = 0; i < 100; ++i) {
    facade->getReverseCode(39.9, 116.4);
  }
  ASSERT_TRUE(MainQueue::shared().runUntil([&] { return listener->heard.size() >= 100; }, std::chrono::seconds(20)));
  EXPECT_EQ(server.requestCount(), 1u);

  const auto heardAfter = [&](double latitude, double longitude) {
    const std::size_t before = listener->heard.size();
    facade->getReverseCode(latitude, longitude);
    EXPECT_EQ(listener->heard.size(), before) << "nothing is heard inside the call";
    EXPECT_TRUE(MainQueue::shared().runUntil([&] { return listener->heard.size() > before; }, std::chrono::seconds(20)));
    EXPECT_TRUE(listener->heard.back().onMainThread);
    return server.requestCount();
  };
  EXPECT_EQ(heardAfter(39.9003, 116.4), 1u) << "33 m away: from the cache";
  EXPECT_EQ(heardAfter(39.901, 116.4), 2u) << "111 m away: asked";
  Clock::pin(1'000'299.0);
  EXPECT_EQ(heardAfter(39.9, 116.4), 2u) << "299 s later: from the cache";
  Clock::pin(1'000'301.0);
  EXPECT_EQ(heardAfter(39.9, 116.4), 3u) << "301 s later: asked";
  facade->servicePolicy = {};
  EXPECT_EQ(heardAfter(39.9, 116.4), 4u) << "the cache off";
}

// With back-off, a continuous session sends nothing while its upload is out or the service
// asked it to wait; without, it sends every tick.
TEST_F(ServicePolicyTest, BackOffHoldsASessionWhileTheServiceStruggles) {
  struct Row {
    const char* name;
    bool backoff;
    Reply reply;
    std::size_t atMost;
    std::size_t atLeast;
  };
  const Row rows[] = {
      {"429 asking for 120 s", true, {429, "120"}, 1, 1},
      {"503 with a date far ahead", true, {503, "Wed, 01 Jan 2100 00:00:00 GMT"}, 1, 1},
      {"answers taking 0.5 s", true, {200, "", 0.5}, 3, 1},
      {"off", false, {429, "120"}, 100, 8},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    answerInTurn("POST", kTrackPath, {row.reply});
    auto facade = facadeWith({.backoff = row.backoff}, std::make_shared<Recorder>());
    facade->isLocateOnce = false;
    facade->interval = 0.1;
    const std::size_t before = server.requestCount();
    facade->startLocation();
    world.provider->pushLocation(testFix());
    MainQueue::shared().runFor(std::chrono::milliseconds(1200));
    facade->stopLocation();
    const std::size_t sent = server.requestCount() - before;
    EXPECT_LE(sent, row.atMost);
    EXPECT_GE(sent, row.atLeast);
    MainQueue::shared().runFor(std::chrono::milliseconds(600));  // answers still out drain
  }
}

// When the service cannot be reached, the fused-location call answers with the local result;
// any other failure is still heard.
TEST_F(ServicePolicyTest, AnUnreachableServiceGivesTheLocalResultWhenAsked) {
  answerInTurn("POST", kTrackPath, {{500}});
  for (const bool fallback : {false, true}) {
    for (const bool reachable : {false, true}) {
      SCOPED_TRACE(std::string(fallback ? "fallback" : "no fallback") + (reachable ? ", a 500" : ", refused"));
      auto listener = std::make_shared<Recorder>();
      auto facade = facadeWith({.offlineWhenUnreachable = fallback}, listener);
      if (!reachable) facade->serviceURL = closedURL();
      facade->getTrackLocation(testFix());
      ASSERT_TRUE(MainQueue::shared().runUntil([&] { return !listener->heard.empty(); }, std::chrono::seconds(20)));
      const bool local = fallback && !reachable;
      EXPECT_EQ(listener->heard[0].kind, local ? "location" : "error");
      if (local) {
        const auto& point = *listener->heard[0].location->location->position->point;
        EXPECT_NEAR(point.latitude, 39.9056, 1e-3);  // the fix in GCJ-02
        EXPECT_TRUE(listener->typed.empty());
      }
    }
  }
}

}  // namespace
}  // namespace tovik::test

