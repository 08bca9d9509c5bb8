// The network client against plain libcurl, both talking to the same loopback cpp-httplib
// server in the same run: 2,000 sequential fused-location calls (per-request latency, and
// the TCP connections the server accepted for them), and 2,000 calls with 16 in flight
// (throughput). The kit's path is the whole road of a call: RequestBuilder with a
// TrackRequest-sized JSON body, makeURLRequest, NetworkClient::send, the worker thread, the
// main-queue hop and the strict LocationRes decode. Plain libcurl posts the same bytes
// over one reused easy handle (sequential) or a multi handle (in flight).
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/test_server.h"
#include "tovik/model/json_codec.h"
#include "tovik/network/network_client.h"
#include "tovik/services/module_keys.h"
#include "tovik/services/service_answer.h"
#include "tovik/services/service_call.h"
#include "support/raw_socket_server.h"
#include "tovik/network/request_builder.h"
#include "tovik/runloop/main_queue.h"

namespace {

using namespace std::chrono_literals;
using tovik::test::CannedResponse;
using tovik::test::TestServer;
using Answer = std::shared_ptr<tovik::LocationRes>;
using Clock = std::chrono::steady_clock;

constexpr int kRequests = 2000;
constexpr int kInFlight = 16;
constexpr const char* kPath = "/location/hub/v1/track_points";

// A typical fused-location answer (about 900 bytes).
const std::string& answerText() {
  static const std::string text = R"({"id":"7D3C1E0A-5B7F-4C59-9E56-0B0D5E0C9A11","asset":"A1B2C3D4-E5F6-4789-9ABC-DEF012345678",)"
                                  R"("location":{"timestamp":1700000000123,"address":{"name":"中国北京市朝阳区望京街道望京SOHO塔3",)"
                                  R"("context":[{"type":"country","name":"中国","code":"CN"},)"
                                  R"({"type":"province","name":"北京市","code":"110000"},)"
                                  R"({"type":"city","name":"北京市市辖区","code":"110100"},)"
                                  R"({"type":"district","name":"朝阳区","code":"110105"},)"
                                  R"({"type":"street","name":"望京街道办事处","code":"110105026"}]},)"
                                  R"("place":{"type":"commercial_building","name":"望京SOHO塔3B座","distance":{"line":35.72}},)"
                                  R"("position":{"point":{"longitude":116.48068237304688,"latitude":39.99678421020508}}}})";
  return text;
}

// A fused-location request body of the usual shape and size: one fix, the device, the
// operating system, the identifiers.
const nlohmann::json& trackBody() {
  static const nlohmann::json body = {
      {"timestamp", 1700000000123},
      {"id", "0F8E2B7C-3D41-4A6E-9C2B-5E7D1A0B9C38"},
      {"asset",
       {{"id", "A1B2C3D4-E5F6-4789-9ABC-DEF012345678"},
        {"manufacturer", "LENOVO"},
        {"model", "ThinkPad X1 Carbon Gen 9"},
        {"os", {{"name", "Debian GNU/Linux"}, {"version", "12"}}}}},
      {"location",
       {{"gnss",
         {{"points", {{116.47454833984375, 39.99552917480469}}},
          {"timestamp", 1700000000000},
          {"accuracy", 4.7},
          {"altitude", 43.2},
          {"verticalAccuracy", 3.1},
          {"speed", 1.25},
          {"course", 271.5},
          {"provider", "gnss"}}}}}};
  return body;
}

std::unique_ptr<TestServer> makeServer() {
  tovik::test::TestServerOptions options;
  options.recordRequests = false;
  auto server = std::make_unique<TestServer>(options);
  server->respond("POST", kPath, CannedResponse::json(200, answerText()));
  return server;
}

tovik::RequestBuilder builderFor(const TestServer& server) {
  tovik::RequestBuilder builder;
  builder.urlString = server.url(kPath);
  builder.method = tovik::HTTPMethod::post;
  builder.queryParameters = {{"access_key", "bench-access-key"}, {"response_sprf", "gcj02"}, {"needAddress", "true"}};
  builder.bodyParameters = trackBody();
  builder.timeoutInterval = 30;
  return builder;
}

// The request exactly as the kit sends it, for plain libcurl to send the same bytes.
tovik::URLRequest sampleRequest(const TestServer& server) {
  return std::get<tovik::URLRequest>(builderFor(server).makeURLRequest());
}

std::size_t collect(char* data, std::size_t size, std::size_t count, void* sink) {
  static_cast<std::string*>(sink)->append(data, size * count);
  return size * count;
}

struct PlainHeaders {
  curl_slist* list = nullptr;
  explicit PlainHeaders(const tovik::URLRequest& request) {
    for (const auto& [name, value] : request.headers) {
      list = curl_slist_append(list, (name + ": " + value).c_str());
    }
    list = curl_slist_append(list, "Expect:");
  }
  ~PlainHeaders() { curl_slist_free_all(list); }
};

void configurePlain(CURL* easy, const tovik::URLRequest& request, const PlainHeaders& headers, std::string& sink) {
  curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers.list);
  curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.httpBody->size()));
  curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.httpBody->data());
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, collect);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &sink);
}

void reportLatency(benchmark::State& state, std::vector<double>& micros, const TestServer& server) {
  std::sort(micros.begin(), micros.end());
  if (micros.empty()) {
    return;
  }
  state.counters["median_us"] = micros[micros.size() / 2];
  state.counters["p90_us"] = micros[micros.size() * 9 / 10];
  state.counters["p99_us"] = micros[micros.size() * 99 / 100];
  state.counters["max_us"] = micros.back();
  state.counters["connections"] = static_cast<double>(server.connectionCount());
}

// Sends through the shared client and decodes on the main thread, as the service calls do.
void sendDecoded(tovik::URLRequest request, std::function<void(tovik::RequestResult<Answer>)> completion) {
  tovik::NetworkClient::shared().send(
      std::move(request), [completion = std::move(completion)](std::optional<std::string> data,
                                                                std::optional<tovik::HTTPURLResponse> response,
                                                                std::optional<tovik::Error> error) {
        completion(tovik::handleResponse<Answer>(std::move(data), std::move(response), std::move(error)));
      });
}

double microsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// CPU time of the whole process (every thread: the kit's, libcurl's, the server's) per request.
class CpuPerRequest {
 public:
  explicit CpuPerRequest(benchmark::State& state) : state_(state), start_(now()) {}
  ~CpuPerRequest() {
    if (state_.iterations() > 0) {
      state_.counters["cpu_us_per_req"] = (now() - start_) / static_cast<double>(state_.iterations());
    }
  }

 private:
  static double now() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) / 1e3;
  }
  benchmark::State& state_;
  double start_;
};

// Times the calls one at a time: `startCall(done, ok)` starts one, which sets both when it ends.
template <class StartCall>
void timeSequentialCalls(benchmark::State& state, const TestServer& server, StartCall startCall) {
  std::vector<double> micros;
  micros.reserve(kRequests);
  bool done = false;
  bool ok = false;
  const CpuPerRequest cpu(state);
  for (auto _ : state) {
    const auto start = Clock::now();
    done = ok = false;
    startCall(done, ok);
    tovik::MainQueue::shared().runUntil([&] { return done; }, 10s);
    micros.push_back(microsSince(start));
    if (!ok) {
      state.SkipWithError("a request failed");
      break;
    }
  }
  reportLatency(state, micros, server);
}

// The whole road of a fused-location call as the facade starts it: the endpoint's row, the
// request, the worker, the decode and the two main-queue turns to the recipient.
void BM_KitSequential(benchmark::State& state) {
  auto server = makeServer();
  tovik::setModuleAccessKey("bench-access-key");
  const auto holder = std::make_shared<int>(0);
  const tovik::ServiceCaller caller{server->baseURL(), holder};
  timeSequentialCalls(state, *server, [&](bool& done, bool& ok) {
    tovik::Recipient<Answer> recipient{.onResult = [&](const Answer&) { done = ok = true; },
                                       .onError = [&](const tovik::TkError&) { done = true; }};
    tovik::ServiceCall::start<Answer>(tovik::kTrackLocationEndpoint, caller, {}, trackBody(), std::move(recipient));
  });
}

// The network client's part of that road alone: the request built, sent, decoded on the main
// thread, without the endpoint's row and the delivery turn.
void BM_KitSequentialSend(benchmark::State& state) {
  auto server = makeServer();
  timeSequentialCalls(state, *server, [&](bool& done, bool& ok) {
    sendDecoded(sampleRequest(*server), [&](tovik::RequestResult<Answer> result) {
      done = true;
      ok = result.isSuccess();
    });
  });
}

void BM_PlainCurlSequential(benchmark::State& state) {
  auto server = makeServer();
  const auto request = sampleRequest(*server);
  const PlainHeaders headers(request);
  std::string sink;
  CURL* easy = curl_easy_init();
  configurePlain(easy, request, headers, sink);
  std::vector<double> micros;
  micros.reserve(kRequests);
  for (auto _ : state) {
    const auto start = Clock::now();
    sink.clear();
    const CURLcode result = curl_easy_perform(easy);
    micros.push_back(microsSince(start));
    if (result != CURLE_OK) {
      state.SkipWithError("a request failed");
      break;
    }
  }
  curl_easy_cleanup(easy);
  reportLatency(state, micros, *server);
}

// Plain libcurl doing the kit's own work too (build the request, decode the answer), in
// line on one thread: what is left between this and BM_KitSequential is the two thread
// hand-offs (to the session's worker and back to the main queue).
void BM_PlainCurlSequentialWithKitWork(benchmark::State& state) {
  auto server = makeServer();
  std::string sink;
  CURL* easy = curl_easy_init();
  std::vector<double> micros;
  micros.reserve(kRequests);
  const CpuPerRequest cpu(state);
  for (auto _ : state) {
    const auto start = Clock::now();
    const auto request = std::get<tovik::URLRequest>(builderFor(*server).makeURLRequest());
    const PlainHeaders headers(request);
    sink.clear();
    configurePlain(easy, request, headers, sink);
    const CURLcode result = curl_easy_perform(easy);
    const Answer answer = tovik::JsonCodec<tovik::LocationRes>::decode(nlohmann::json::parse(sink));
    benchmark::DoNotOptimize(answer);
    micros.push_back(microsSince(start));
    if (result != CURLE_OK) {
      state.SkipWithError("a request failed");
      break;
    }
  }
  curl_easy_cleanup(easy);
  reportLatency(state, micros, *server);
}

void BM_KitInFlight(benchmark::State& state) {
  const auto inFlight = static_cast<int>(state.range(0));
  auto server = makeServer();
  for (auto _ : state) {
    int started = 0;
    int completed = 0;
    int failed = 0;
    std::function<void()> startOne = [&] {
      ++started;
      sendDecoded(std::get<tovik::URLRequest>(builderFor(*server).makeURLRequest()),
                  [&](tovik::RequestResult<Answer> result) {
                                                    ++completed;
                                                    failed += result.isFailure() ? 1 : 0;
                                                    if (started < kRequests) {
                                                      startOne();
                                                    }
                                                  });
    };
    const auto start = Clock::now();
    for (int i = 0; i < inFlight; ++i) {
      startOne();
    }
    tovik::MainQueue::shared().runUntil([&] { return completed == kRequests; }, 60s);
    const double seconds = microsSince(start) / 1e6;
    state.counters["req_per_s"] = kRequests / seconds;
    state.counters["connections"] = static_cast<double>(server->connectionCount());
    if (failed > 0 || completed != kRequests) {
      state.SkipWithError("requests failed");
    }
  }
}

void BM_PlainCurlInFlight(benchmark::State& state) {
  const auto inFlight = static_cast<int>(state.range(0));
  auto server = makeServer();
  const auto request = sampleRequest(*server);
  const PlainHeaders headers(request);
  CURLM* multi = curl_multi_init();
  std::vector<CURL*> easies(inFlight);
  std::vector<std::string> sinks(inFlight);
  for (int i = 0; i < inFlight; ++i) {
    easies[i] = curl_easy_init();
    configurePlain(easies[i], request, headers, sinks[i]);
  }
  for (auto _ : state) {
    int started = 0;
    int completed = 0;
    int failed = 0;
    const auto start = Clock::now();
    for (int i = 0; i < inFlight; ++i, ++started) {
      curl_multi_add_handle(multi, easies[i]);
    }
    while (completed < kRequests) {
      int running = 0;
      curl_multi_perform(multi, &running);
      int queued = 0;
      while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
        if (message->msg != CURLMSG_DONE) {
          continue;
        }
        ++completed;
        failed += message->data.result == CURLE_OK ? 0 : 1;
        CURL* easy = message->easy_handle;
        curl_multi_remove_handle(multi, easy);
        if (started < kRequests) {
          ++started;
          curl_multi_add_handle(multi, easy);
        }
      }
      if (completed < kRequests) {
        curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
      }
    }
    const double seconds = microsSince(start) / 1e6;
    state.counters["req_per_s"] = kRequests / seconds;
    state.counters["connections"] = static_cast<double>(server->connectionCount());
    if (failed > 0) {
      state.SkipWithError("requests failed");
    }
  }
  for (CURL* easy : easies) {
    curl_easy_cleanup(easy);
  }
  curl_multi_cleanup(multi);
}

// The kit's own work per call, without the exchange: building the request (URL with query,
// header fields, JSON body) and handling a 200 answer (parse and strict decode).
void BM_MakeURLRequest(benchmark::State& state) {
  auto server = makeServer();
  for (auto _ : state) {
    auto built = builderFor(*server).makeURLRequest();
    benchmark::DoNotOptimize(built);
  }
  state.counters["body_bytes"] = static_cast<double>(sampleRequest(*server).httpBody->size());
}

void BM_HandleResponse(benchmark::State& state) {
  tovik::HTTPURLResponse response;
  response.statusCode = 200;
  for (auto _ : state) {
    auto result = tovik::handleResponse<Answer>(answerText(), response, std::nullopt);
    benchmark::DoNotOptimize(result);
  }
  state.counters["answer_bytes"] = static_cast<double>(answerText().size());
}

// An answer carrying 50,000 short header fields, and a call to a healthy service sent while
// it is on its way: `crowded_ms` is how long the crowded exchange took, `healthy_us` how long
// the healthy one did (compare with BM_KitSequential's median, the same call alone).
void BM_KitManyHeaderFields(benchmark::State& state) {
  std::string fields;
  for (int i = 0; i < 50000; ++i) {
    fields += "a:b\r\n";
  }
  tovik::test::RawSocketServer crowded(tovik::test::RawScript{
      .reply = [&fields](const std::string&) { return tovik::test::RawSocketServer::httpAnswer(200, answerText(), fields); }});
  auto healthy = makeServer();
  tovik::RequestBuilder toCrowded = builderFor(*healthy);
  toCrowded.urlString = crowded.baseURL() + kPath;
  std::vector<double> crowdedMicros;
  std::vector<double> healthyMicros;
  for (auto _ : state) {
    const auto start = Clock::now();
    int done = 0;
    sendDecoded(std::get<tovik::URLRequest>(toCrowded.makeURLRequest()), [&](tovik::RequestResult<Answer>) {
      crowdedMicros.push_back(microsSince(start));
      ++done;
    });
    const auto healthyStart = Clock::now();
    sendDecoded(sampleRequest(*healthy), [&](tovik::RequestResult<Answer>) {
      healthyMicros.push_back(microsSince(healthyStart));
      ++done;
    });
    tovik::MainQueue::shared().runUntil([&] { return done == 2; }, 30s);
  }
  std::sort(crowdedMicros.begin(), crowdedMicros.end());
  std::sort(healthyMicros.begin(), healthyMicros.end());
  if (!crowdedMicros.empty() && !healthyMicros.empty()) {
    state.counters["crowded_ms"] = crowdedMicros[crowdedMicros.size() / 2] / 1000.0;
    state.counters["healthy_us"] = healthyMicros[healthyMicros.size() / 2];
  }
}

BENCHMARK(BM_MakeURLRequest)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_HandleResponse)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainCurlSequential)->Iterations(kRequests)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainCurlSequentialWithKitWork)->Iterations(kRequests)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KitSequentialSend)->Iterations(kRequests)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KitSequential)->Iterations(kRequests)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainCurlInFlight)->Arg(kInFlight)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KitManyHeaderFields)->Iterations(20)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KitInFlight)->Arg(kInFlight)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  // The thread that runs the benchmarks is the kit's main thread.
  (void)tovik::MainQueue::shared();
  curl_global_init(CURL_GLOBAL_DEFAULT);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  curl_global_cleanup();
  return 0;
}
