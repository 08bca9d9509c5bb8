// Strict decoding of a typical fused-location answer, next to nlohmann's bare parse of the
// same text. The strict decode is parse + decode, so the interesting figure is the ratio
// StrictDecode / BareParse (and the allocations each adds).
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "allocation_counter.h"
#include "tovik/model/location_res.h"

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
    auto res = tovik::LocationRes::decode(nlohmann::json::parse(text));
    benchmark::DoNotOptimize(res);
  }
}
BENCHMARK(BM_StrictDecode);

// The decode step alone, from an already parsed document.
void BM_DecodeParsed(benchmark::State& state) {
  const auto json = nlohmann::json::parse(answerText());
  const AllocationCounter counter(state);
  for (auto _ : state) {
    auto res = tovik::LocationRes::decode(json);
    benchmark::DoNotOptimize(res);
  }
}
BENCHMARK(BM_DecodeParsed);

}  // namespace

BENCHMARK_MAIN();
