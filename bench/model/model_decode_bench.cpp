// Strict decoding of a typical fused-location answer, next to nlohmann's bare parse of the
// same text. The strict decode is parse + decode, so the interesting figure is the ratio
// StrictDecode / BareParse (and the allocations each adds).
// Then hostile answers of 8 MiB: how long the kit's parser takes to give up on them, and the
// most memory it holds meanwhile, next to nlohmann's bare parse of the same text.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "allocation_counter.h"
#include "tovik/model/json_codec.h"
#include "tovik/model/json_document.h"
#include "tovik/model/location_res.h"
#include "tovik/services/service_answer.h"
#include "tovik/system/console.h"

namespace {

// About 1 KB: an address with five levels, a place and a position, as the service answers.
const std::string& answerText() {
  static const std::string text = R"({
  "id": "7D3C1E0A-5B7F-4C59-9E56-0B0D5E0C9A11",
  "asset": "A1B2C3D4-E5F6-4789-9ABC-DEF012345678",
  "location": {
    "timestamp": 1700000000123,
    "address": {
      "name": "中国北京市朝阳区望京街道望京SOHO塔3",
      "context": [
        {"type": "country", "name": "中国", "code": "CN"},
        {"type": "province", "name": "北京市", "code": "110000"},
        {"type": "city", "name": "北京市市辖区", "code": "110100"},
        {"type": "district", "name": "朝阳区", "code": "110105"},
        {"type": "street", "name": "望京街道办事处", "code": "110105026"}
      ]
    },
    "place": {
      "type": "commercial_building",
      "name": "望京SOHO塔3B座",
      "distance": {"line": 35.72}
    },
    "position": {
      "point": {"longitude": 116.48068237304688, "latitude": 39.99678421020508}
    }
  }
})";
  return text;
}

class AllocationCounter {
 public:
  explicit AllocationCounter(benchmark::State& state) : state_(state), start_(tovik::bench::allocationCount()) {}
  ~AllocationCounter() {
    const auto count = tovik::bench::allocationCount() - start_;
    state_.counters["allocs"] = benchmark::Counter(static_cast<double>(count), benchmark::Counter::kAvgIterations);
    state_.SetBytesProcessed(static_cast<std::int64_t>(state_.iterations() * answerText().size()));
  }

 private:
  benchmark::State& state_;
  std::size_t start_;
};

void BM_BareParse(benchmark::State& state) {
  const std::string& text = answerText();
  const AllocationCounter counter(state);
  for (auto _ : state) {
    auto json = nlohmann::json::parse(text);
    benchmark::DoNotOptimize(json);
  }
}
BENCHMARK(BM_BareParse);

void BM_StrictDecode(benchmark::State& state) {
  const std::string& text = answerText();
  const AllocationCounter counter(state);
  for (auto _ : state) {
    auto res = tovik::JsonCodec<tovik::LocationRes>::decode(tovik::parseJsonDocument(text));
    benchmark::DoNotOptimize(res);
  }
}
BENCHMARK(BM_StrictDecode);

// The decode step alone, from an already parsed document.
void BM_DecodeParsed(benchmark::State& state) {
  const auto json = nlohmann::json::parse(answerText());
  const AllocationCounter counter(state);
  for (auto _ : state) {
    auto res = tovik::JsonCodec<tovik::LocationRes>::decode(json);
    benchmark::DoNotOptimize(res);
  }
}
BENCHMARK(BM_DecodeParsed);

constexpr std::size_t kHostileBytes = std::size_t{8} << 20;

// Well-formed, so only a nesting bound stops it: 4 Mi opening brackets, then their closing ones.
const std::string& nestedArrays() {
  static const std::string text = std::string(kHostileBytes / 2, '[') + std::string(kHostileBytes / 2, ']');
  return text;
}

// Shallow but wide: `[{},{},...]` of `bytes`.
std::string emptyObjectsOf(std::size_t bytes) {
  std::string wide = "[{}";
  while (wide.size() + 4 < bytes) wide += ",{}";
  return wide + "]";
}

// 2.8 million empty objects.
const std::string& emptyObjects() {
  static const std::string text = emptyObjectsOf(kHostileBytes);
  return text;
}

// Reports, in MiB, the most memory an iteration held at once beyond what was held when it
// started, and how many iterations decoded (none should).
class PeakMemory {
 public:
  explicit PeakMemory(benchmark::State& state) : state_(state) {}
  void reset() {
    start_ = tovik::bench::allocatedBytes();
    tovik::bench::resetPeakAllocatedBytes();
  }
  void sample() { highest_ = std::max(highest_, tovik::bench::peakAllocatedBytes() - start_); }
  ~PeakMemory() {
    state_.counters["peak_MiB"] = static_cast<double>(highest_) / (1 << 20);
    state_.counters["decoded"] = static_cast<double>(decoded);
  }
  int decoded = 0;

 private:
  benchmark::State& state_;
  std::size_t start_ = 0;
  std::size_t highest_ = 0;
};

template <class Parse>
void hostile(benchmark::State& state, const std::string& text, const Parse& parse) {
  PeakMemory memory(state);
  for (auto _ : state) {
    memory.reset();
    try {
      auto res = tovik::JsonCodec<tovik::LocationRes>::decode(parse(text));
      benchmark::DoNotOptimize(res);
      ++memory.decoded;
    } catch (const std::exception&) {
    }
    memory.sample();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

const auto bareParse = [](const std::string& text) { return nlohmann::json::parse(text); };
const auto kitParse = [](const std::string& text) { return tovik::parseJsonDocument(text); };

void BM_NestedArrays_BareParse(benchmark::State& state) { hostile(state, nestedArrays(), bareParse); }
void BM_NestedArrays_KitParse(benchmark::State& state) { hostile(state, nestedArrays(), kitParse); }
void BM_EmptyObjects_BareParse(benchmark::State& state) { hostile(state, emptyObjects(), bareParse); }
void BM_EmptyObjects_KitParse(benchmark::State& state) { hostile(state, emptyObjects(), kitParse); }
BENCHMARK(BM_NestedArrays_BareParse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NestedArrays_KitParse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EmptyObjects_BareParse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EmptyObjects_KitParse)->Unit(benchmark::kMillisecond);

// The whole main-thread handling of a 200 answer with the nested body, as the network client
// runs it (the body it is handed is not counted).
void BM_NestedArrays_HandleResponse(benchmark::State& state) {
  using Answer = std::shared_ptr<tovik::LocationRes>;
  tovik::HTTPURLResponse response;
  response.statusCode = 200;
  bool failed = false;
  PeakMemory memory(state);
  for (auto _ : state) {
    state.PauseTiming();
    std::optional<std::string> body = nestedArrays();
    memory.reset();
    state.ResumeTiming();
    failed = tovik::handleResponse<Answer>(std::move(body), response, std::nullopt).isFailure();
    memory.sample();
    memory.decoded += failed ? 0 : 1;
  }
}
BENCHMARK(BM_NestedArrays_HandleResponse)->Unit(benchmark::kMillisecond);

// 16 MiB, the largest body the session accepts: `[{},{},...]` (5.6 million values), and a
// list of real places of the same size. Handled as a place search's answer is, on the main
// thread, with the log on (its line goes nowhere).
constexpr std::size_t kLargestBody = std::size_t{16} << 20;

const std::string& wideBody() {
  static const std::string text = emptyObjectsOf(kLargestBody);
  return text;
}

const std::string& placesBody() {
  static const std::string text = [] {
    const std::string place = R"({"id":"B000A7BD6C","geoPoint":"116.4806,39.9968","type":"poi","name":"望京SOHO",)"
                              R"("code":"110105","categories":[{"id":"050000","name":"餐饮服务"}],)"
                              R"("address":{"name":"北京市朝阳区望京街道","context":[{"type":"city","name":"北京市",)"
                              R"("code":"110000"},{"type":"district","name":"朝阳区","code":"110105"}]},)"
                              R"("relevance":0.92,"distance":350.5})";
    std::string list = "[" + place;
    while (list.size() + place.size() + 2 < kLargestBody) list += "," + place;
    return list + "]";
  }();
  return text;
}

void placeAnswer(benchmark::State& state, const std::string& text) {
  using Places = std::vector<std::shared_ptr<tovik::GeocodeRes>>;
  tovik::HTTPURLResponse response;
  response.statusCode = 200;
  tovik::setLogHandler([](std::string_view) {});
  tovik::setLogEnabled(true);
  PeakMemory memory(state);
  for (auto _ : state) {
    state.PauseTiming();
    std::optional<std::string> body = text;
    memory.reset();
    state.ResumeTiming();
    const auto result = tovik::handleResponse<Places>(std::move(body), response, std::nullopt);
    memory.sample();
    memory.decoded += result.isSuccess() ? 1 : 0;
  }
  tovik::setLogEnabled(false);
  tovik::setLogHandler(nullptr);
}

void BM_WideBody16MiB_HandleResponse(benchmark::State& state) { placeAnswer(state, wideBody()); }
void BM_Places16MiB_HandleResponse(benchmark::State& state) { placeAnswer(state, placesBody()); }
BENCHMARK(BM_WideBody16MiB_HandleResponse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Places16MiB_HandleResponse)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
