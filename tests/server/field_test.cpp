// The service as an operator runs it for months with clients it does not control: a
// database file changed or damaged under it, a key file edited, and clients that send
// huge or slow requests or hold connections open.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/stat.h>

#include <atomic>
#include <fstream>
#include <latch>
#include <nlohmann/json.hpp>

#include "server/sqlite_database.h"
#include "server/worker_pool.h"
#include "server_test_env.h"

namespace tovik::server {
namespace {

using namespace testing;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Pair;
using ::testing::ThrowsMessage;
using nlohmann::json;
using namespace std::chrono_literals;

const std::string kReverse = "/location/hub/v1/track_points?access_key=k";
const std::string kReverseBody = R"({"asset": "DEV", "id": "R-1", "timestamp": 1, "location": {"position": {"point": )"
                                 R"({"longitude": 116.3975, "latitude": 39.9087}, "spatialReference": "gcj02"}}})";
const std::string kGeocode = "/location/scenario/v1/geocode?access_key=k&address=Beijing";

int postStatus(int port) {
  httplib::Client client("127.0.0.1", port);
  const auto answer = client.Post(kReverse, kReverseBody, "application/json");
  return answer ? answer->status : 0;
}

int getStatus(int port, const std::string& target) {
  httplib::Client client("127.0.0.1", port);
  const auto answer = client.Get(target);
  return answer ? answer->status : 0;
}

/// Applies a row of damaged_databases.txt to the database at `path`.
void damage(const std::filesystem::path& path, const test::OutcomeCase& c) {
  if (!c["sql"].empty()) {
    SqliteDatabase::create(path.string()).exec(c["sql"]);
    return;
  }
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  file.seekp(static_cast<std::streamoff>(std::stoi(c["page"]) - 1) * 4096);
  const std::string zeros(4096, '\0');
  file.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
}

TEST(DatabaseFileTest, AFileChangedInPlaceChangesNoAnswerAndIsLogged) {
  // The ways an operator's slip rewrites the served file: truncate, cp of a smaller
  // database over it, rsync --inplace (same size, other bytes).
  const auto lyonDb = scratchDir() / "in-place" / "lyon.sqlite";
  CityImporter([](std::string_view) {}).run(writeFile("in-place/lyon.json", kLyonOnly), lyonDb);
  const std::vector<std::pair<std::string, std::function<void(const std::filesystem::path&)>>> slips = {
      {"truncate", [](const auto& path) { std::filesystem::resize_file(path, std::filesystem::file_size(path) / 3); }},
      {"cp smaller", [&](const auto& path) { std::ofstream(path, std::ios::trunc | std::ios::binary) << test::fileText(lyonDb); }},
      {"rsync --inplace",
       [](const auto& path) {
         std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
         file.seekp(20 * 4096);
         file.write(std::string(8 * 4096, '\x5A').data(), 8 * 4096);
       }},
  };
  for (const auto& [name, slip] : slips) {
    SCOPED_TRACE(name);
    const auto path = fixtureCopy("in-place/places.sqlite");
    const auto logFile = scratchDir() / "in-place" / (name + ".log");
    const auto log = AccessLog::open(logFile.string());
    RunningService service({}, log,
                           {.store = PlaceStore::open(path.string(), [log](std::string_view line) { log->note(line); })});
    httplib::Client client("127.0.0.1", service.port);
    const auto before = client.Post(kReverse, kReverseBody, "application/json");
    ASSERT_TRUE(before && before->status == 200);
    std::this_thread::sleep_for(10ms);  // a modification time the file system can tell apart
    slip(path);
    // Answers come from the database as it was read and checked, the same as before.
    EXPECT_EQ(getStatus(service.port, "/healthz"), 200);
    const auto after = client.Post(kReverse, kReverseBody, "application/json");
    ASSERT_TRUE(after);
    EXPECT_EQ(after->status, 200);
    const auto withoutTime = [](const std::string& body) {
      auto answer = json::parse(body);
      answer["location"].erase("timestamp");
      return answer;
    };
    EXPECT_EQ(withoutTime(after->body), withoutTime(before->body));
    EXPECT_EQ(getStatus(service.port, kGeocode), 200);
    EXPECT_EQ(getStatus(service.port, "/location/scenario/v1/nearbysearch?access_key=k&location=116.4,39.9"), 200);
    // A sound database moved over the path and a reload take it up.
    std::filesystem::copy_file(lyonDb, path.string() + ".new");
    std::filesystem::rename(path.string() + ".new", path);
    EXPECT_TRUE(service.server.reload({path.string(), ""}));
    const auto lyon = client.Post(kReverse, kReverseBody, "application/json");
    ASSERT_TRUE(lyon && lyon->status == 200);
    EXPECT_THAT(lyon->body, HasSubstr("\"Lyon\""));
    service.server.stop();
    const auto text = test::fileText(logFile);
    EXPECT_THAT(text, HasSubstr("was changed in place"));
    EXPECT_EQ(text.find("changed in place"), text.rfind("changed in place")) << "said once\n" << text;
  }
}

TEST(DatabaseFileTest, ADamagedDatabaseIsNeitherOpenedNorTakenUpOnReload) {
  const auto served = fixtureCopy("damaged/places.sqlite");
  const auto logFile = scratchDir() / "damaged" / "service.log";
  RunningService service({}, AccessLog::open(logFile.string()), {.store = PlaceStore::open(served.string())});
  for (const auto& c : test::loadOutcomes("server/data/damaged_databases.txt")) {
    SCOPED_TRACE(c.name);
    const auto fresh = fixtureCopy("damaged/fresh.sqlite");
    damage(fresh, c);
    EXPECT_THAT([&] { PlaceStore::open(fresh.string()); },
                ThrowsMessage<std::runtime_error>(HasSubstr(c["reason"])));
    // An import moved over the served path, then SIGHUP: the old one keeps serving.
    std::filesystem::rename(fresh, served);
    EXPECT_FALSE(service.server.reload({served.string(), ""}));
    EXPECT_EQ(postStatus(service.port), 200);
    EXPECT_EQ(getStatus(service.port, kGeocode), 200);
    EXPECT_EQ(getStatus(service.port, "/location/scenario/v1/nearbysearch?access_key=k&location=116.4,39.9"), 200);
    EXPECT_EQ(getStatus(service.port, "/healthz"), 200);
  }
  service.server.stop();
  EXPECT_THAT(test::fileText(logFile), HasSubstr("reload failed, still serving the previous database"));
}

TEST(KeysFileTest, AMarkIsSkippedALooseModeIsWarnedAndAReloadTakesUpNewKeys) {
  const auto keys = writeFile("keys/keys.txt", "\xEF\xBB\xBF" "alpha\nbeta\n");
  ::chmod(keys.c_str(), 0644);
  const auto loose = AccessKeys::fromFile(keys.string());
  EXPECT_FALSE(loose.refusal("alpha").has_value()) << "the first key, behind the byte-order mark";
  ASSERT_EQ(loose.warnings().size(), 1U);
  EXPECT_THAT(loose.warnings()[0], HasSubstr("mode 0644"));
  ::chmod(keys.c_str(), 0600);
  EXPECT_TRUE(AccessKeys::fromFile(keys.string()).warnings().empty());

  const auto logFile = scratchDir() / "keys" / "service.log";
  RunningService service(AccessKeys::fromFile(keys.string()), AccessLog::open(logFile.string()));
  const auto db = fixtureDatabase().string();
  const auto statusWith = [&](const std::string& key) {
    return getStatus(service.port, "/location/scenario/v1/geocode?address=Beijing&access_key=" + key);
  };
  EXPECT_EQ(statusWith("alpha"), 200);
  // A leaked key is taken out by a reload alone.
  writeFile("keys/keys.txt", "gamma\n");
  EXPECT_TRUE(service.server.reload({db, keys.string()}));
  EXPECT_EQ(statusWith("alpha"), 401);
  EXPECT_EQ(statusWith("gamma"), 200);
  // All or nothing: a file that lists no key leaves the previous keys.
  writeFile("keys/keys.txt", "# none yet\n");
  EXPECT_FALSE(service.server.reload({db, keys.string()}));
  EXPECT_EQ(statusWith("gamma"), 200);
  service.server.stop();
  EXPECT_THAT(test::fileText(logFile), HasSubstr("lists no key"));
}

TEST(HostileClientTest, AHeadPastTheCapsIsAnswered431AndCostsNoMemory) {
  RunningService service;
  const auto statusFor = [&](const std::string& head) {
    RawConnection connection(service.port);
    connection.send(head);
    return statusOf(connection.receive());
  };
  std::string many = "GET /healthz HTTP/1.1\r\nHost: t\r\n";
  for (int k = 0; k < 98; ++k) many += "X-" + std::to_string(k) + ": v\r\n";
  EXPECT_EQ(statusFor(many + "\r\n"), 200) << "100 lines";
  EXPECT_EQ(statusFor(many + "X-One-More: v\r\n\r\n"), 431);
  EXPECT_EQ(statusFor("GET /healthz HTTP/1.1\r\nX-Big: " + std::string(20000, 'b') + "\r\n\r\n"), 431);
  EXPECT_EQ(statusFor("GET /healthz?" + std::string(20000, 'q') + " HTTP/1.1\r\n\r\n"), 431);

  // Four connections sending 50 MB of headers each: each is cut off at the cap.
  const auto residentKiB = [] {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.starts_with("VmRSS:")) return std::stol(line.substr(6));
    }
    return 0L;
  };
  const long before = residentKiB();
  std::vector<std::jthread> floods;
  std::atomic<int> refused{0};
  for (int c = 0; c < 4; ++c) {
    floods.emplace_back([&] {
      RawConnection connection(service.port);
      connection.send("GET /healthz HTTP/1.1\r\n");
      const std::string chunk(64 * 1024, 'h');
      std::string lines;
      for (int k = 0; k < 4096; ++k) lines += "X-H: v\r\n";
      for (int k = 0; k < 800 && connection.send(k % 2 == 0 ? lines : "X-Long: " + chunk + "\r\n"); ++k) {
      }
      refused += statusOf(connection.receive()) == 431 || connection.closed() ? 1 : 0;
    });
  }
  floods.clear();
  EXPECT_EQ(refused, 4);
  EXPECT_LT(residentKiB() - before, 20 * 1024);
}

TEST(HostileClientTest, SlowAndIdleClientsLeaveTheWorkersToOthers) {
  // Eight workers, a short request deadline, and room for 300 waiting connections.
  RunningService service({}, nullptr,
                         {.store = nullptr,
                          .threads = 8,
                          .operations = {.keepAlive = 1s, .requestTimeout = 1500ms, .maxWaiting = 300}});
  std::vector<std::unique_ptr<RawConnection>> idle;
  for (int k = 0; k < 400; ++k) {
    idle.push_back(std::make_unique<RawConnection>(service.port));
  }
  std::atomic<bool> trickling{true};
  std::atomic<int> cutOff{0};
  std::vector<std::jthread> tricklers;
  for (int t = 0; t < 8; ++t) {
    tricklers.emplace_back([&] {
      RawConnection connection(service.port);
      const std::string head = "GET /healthz HTTP/1.1\r\nX-Slow: " + std::string(1000, 's');
      for (std::size_t k = 0; trickling && k < head.size(); ++k) {
        if (!connection.send(head.substr(k, 1))) {
          break;
        }
        std::this_thread::sleep_for(100ms);
      }
      connection.receive(100ms);
      cutOff += connection.closed() ? 1 : 0;
    });
  }
  std::this_thread::sleep_for(300ms);  // every slow head under way
  for (int k = 0; k < 5; ++k) {
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(postStatus(service.port), 200);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 100ms);
  }
  // Past the deadline each slow head is cut off, although bytes keep coming.
  std::this_thread::sleep_for(2s);
  trickling = false;
  tricklers.clear();
  EXPECT_EQ(cutOff, 8);
  httplib::Client probe("127.0.0.1", service.port);
  const auto metrics = probe.Get("/metrics");
  ASSERT_TRUE(metrics);
  const auto count = [&](const std::string& reason) {
    const std::string series = "tovik_connections_dropped_total{reason=\"" + reason + "\"} ";
    const auto at = metrics->body.find(series);
    return at == std::string::npos ? -1 : std::stoi(metrics->body.substr(at + series.size()));
  };
  // 408 connections met room for 300: at least 108 closed early, the rest at their deadline.
  EXPECT_GE(count("evicted"), 108);
  EXPECT_EQ(count("evicted") + count("timeout"), 408);
}

TEST(WorkerPoolTest, AFullQueueAndAStaleConnectionAreRefused) {
  std::map<std::string, int> dropped;
  std::mutex droppedMutex;
  WorkerPool::Observer observer;
  observer.dropped = [&](std::string_view reason) {
    const std::lock_guard lock(droppedMutex);
    ++dropped[std::string(reason)];
  };
  std::vector<std::string> ran;
  std::mutex ranMutex;
  const auto task = [&](std::string name) {
    return [&, name] {
      const std::lock_guard lock(ranMutex);
      ran.push_back(name + (WorkerPool::refusing() ? " refused" : " served"));
    };
  };
  std::latch release(1);
  {
    WorkerPool pool({.threads = 1, .maxQueued = 2, .requestTimeout = 200ms}, observer, nullptr);
    pool.enqueue([&] { release.wait(); });  // holds the one worker
    std::this_thread::sleep_for(50ms);
    pool.enqueue(task("early"));
    std::this_thread::sleep_for(250ms);
    pool.enqueue(task("late"));
    pool.enqueue(task("over"));  // the queue holds two
    release.count_down();
  }
  EXPECT_THAT(ran, ElementsAre("over refused", "early refused", "late served"));
  EXPECT_THAT(dropped, ElementsAre(Pair("queue_full", 1), Pair("stale", 1)));
}

TEST(HostileClientTest, ALengthTheServiceWillNotReadIsAnsweredAtOnce) {
  RunningService service({}, nullptr, {.store = nullptr, .operations = {.keepAlive = 1s, .requestTimeout = 5000ms}});
  for (const auto& [length, status] : std::vector<std::pair<std::string, int>>{
           {"Content-Length: 5\r\nContent-Length: 7", 400},
           {"Content-Length: -1", 400},
           {"Content-Length: 99999999999999999999999", 413},
           {"Content-Length: 70000", 413}}) {
    SCOPED_TRACE(length);
    RawConnection connection(service.port);
    const auto started = std::chrono::steady_clock::now();
    connection.send("POST " + kReverse + " HTTP/1.1\r\nHost: t\r\n" + length + "\r\n\r\n{}");
    const auto answer = connection.receive(3000ms);
    EXPECT_EQ(statusOf(answer), status) << answer;
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
    EXPECT_TRUE(connection.closed()) << "the unread body ends the connection";
  }
  // A client that waits for "100 Continue" before its body is not kept waiting for it.
  RawConnection expecting(service.port);
  expecting.send("POST " + kReverse + " HTTP/1.1\r\nHost: t\r\nExpect: 100-continue\r\nContent-Length: " +
                 std::to_string(kReverseBody.size()) + "\r\n\r\n");
  EXPECT_EQ(statusOf(expecting.receive(500ms)), 100);
  expecting.send(kReverseBody);
  EXPECT_THAT(expecting.receive(500ms), HasSubstr("HTTP/1.1 200 OK"));

  httplib::Client client("127.0.0.1", service.port);
  const auto answer = client.Get("/location/scenario/v1/placesearch?access_key=k&name=%FF%FE");
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 400);
  EXPECT_EQ(json::parse(answer->body).value("message", ""), "\"name\" is not valid UTF-8");
}

TEST(IdempotentUploadTest, ARetriedUploadGetsTheFirstAnswerAndAReusedKeyIsRefused) {
  RunningService service;
  httplib::Client client("127.0.0.1", service.port);
  const auto post = [&](const std::string& accessKey, const std::string& key, const std::string& body) {
    httplib::Headers headers;
    if (!key.empty()) headers.emplace("Idempotency-Key", key);
    return client.Post("/location/hub/v1/track_points?access_key=" + accessKey, headers, body, "application/json");
  };
  const std::string other = R"({"asset": "DEV", "id": "R-2", "timestamp": 1, "location": {"position": {"point": )"
                            R"({"longitude": 4.85, "latitude": 45.75}, "spatialReference": "wgs84"}}})";
  const auto first = post("k", "R-1", kReverseBody);
  ASSERT_TRUE(first && first->status == 200);
  EXPECT_FALSE(first->has_header("Idempotent-Replayed"));
  const auto again = post("k", "R-1", kReverseBody);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->status, 200);
  EXPECT_EQ(again->body, first->body);
  EXPECT_EQ(again->get_header_value("Content-Type"), "application/json; charset=utf-8");
  EXPECT_EQ(again->get_header_value("Idempotent-Replayed"), "true");
  const auto reused = post("k", "R-1", other);
  ASSERT_TRUE(reused);
  EXPECT_EQ(reused->status, 422);
  EXPECT_EQ(json::parse(reused->body).value("field", ""), "Idempotency-Key");
  // Another client's keys are its own.
  const auto elsewhere = post("k2", "R-1", other);
  ASSERT_TRUE(elsewhere && elsewhere->status == 200);
  EXPECT_FALSE(elsewhere->has_header("Idempotent-Replayed"));
  // A refused body is answered the same again; without the header nothing is kept.
  EXPECT_EQ(post("k", "BAD", "{}")->status, 400);
  EXPECT_EQ(post("k", "BAD", "{}")->get_header_value("Idempotent-Replayed"), "true");
  EXPECT_FALSE(post("k", "", kReverseBody)->has_header("Idempotent-Replayed"));
  EXPECT_EQ(post("k", std::string(201, 'x'), kReverseBody)->status, 400);
}

TEST(IdempotentUploadTest, TheStoreIsBoundedPerAccessKeyAndInAllAndForgetsFailuresAndOldKeys) {
  using Outcome = IdempotencyStore::Outcome;
  IdempotencyStore store({.perAccessKey = 2, .total = 3, .lifetime = 300ms});
  const auto outcome = [&](const std::string& accessKey, const std::string& key, const std::string& body) {
    return store.claim(accessKey, key, body).outcome;
  };
  EXPECT_EQ(outcome("x", "1", "a"), Outcome::first);
  EXPECT_EQ(outcome("x", "1", "a"), Outcome::inProgress) << "the first is still being answered";
  store.abandon("x", "1");  // it failed
  EXPECT_EQ(outcome("x", "1", "a"), Outcome::first);
  store.complete("x", "1", {200, "one", "text/plain"});
  EXPECT_EQ(store.claim("x", "1", "a").answer.body, "one");
  // Two keys per access key: the least recently used goes.
  EXPECT_EQ(outcome("x", "2", "b"), Outcome::first);
  EXPECT_EQ(outcome("x", "3", "c"), Outcome::first);
  EXPECT_EQ(outcome("x", "1", "other"), Outcome::first) << "pushed out by 3";
  EXPECT_EQ(outcome("x", "3", "other"), Outcome::otherBody);
  // Three in all: the least recently used access key gives up its oldest.
  IdempotencyStore shared({.perAccessKey = 2, .total = 3, .lifetime = 300ms});
  for (const auto* claim : {"x1", "x2", "y1", "y2"}) {
    EXPECT_EQ(shared.claim(std::string(1, claim[0]), claim, "a").outcome, Outcome::first);
  }
  EXPECT_EQ(shared.claim("x", "x2", "other").outcome, Outcome::otherBody);
  EXPECT_EQ(shared.claim("y", "y1", "other").outcome, Outcome::otherBody);
  EXPECT_EQ(shared.claim("x", "x1", "other").outcome, Outcome::first) << "pushed out by y2";
  // A key outlives its lifetime no longer.
  std::this_thread::sleep_for(350ms);
  EXPECT_EQ(shared.claim("x", "x2", "other").outcome, Outcome::first);
}

}  // namespace
}  // namespace tovik::server
