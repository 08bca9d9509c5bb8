#include "tovik/client/answer_cache.h"

#include <algorithm>

#include "tovik/coord/orb_coor_transform.h"

namespace tovik {

AnswerCache& AnswerCache::shared() {
  static AnswerCache cache;
  return cache;
}

bool AnswerCache::same(const Question& a, const Question& b, double metres) {
  if (a.text != b.text || a.point.has_value() != b.point.has_value()) {
    return false;
  }
  return !a.point || OrbCoorTransform::distanceByPoint(*a.point, *b.point) <= metres;
}

std::optional<AnswerCache::Answer> AnswerCache::find(const Question& question, double metres, double maxAge,
                                                     double now) {
  std::erase_if(entries_, [&](const Entry& entry) { return now - entry.storedAt >= maxAge; });
  const auto found = std::find_if(entries_.begin(), entries_.end(),
                                  [&](const Entry& entry) { return same(entry.question, question, metres); });
  return found == entries_.end() ? std::nullopt : std::optional(found->answer);
}

void AnswerCache::store(const Question& question, Answer answer, double now) {
  entries_.push_front(Entry{question, std::move(answer), now});
  if (entries_.size() > kCapacity) {
    entries_.pop_back();
  }
}

bool LookupFlights::join(const AnswerCache::Question& question, double metres) {
  const auto flight = std::find_if(flights_.begin(), flights_.end(),
                                   [&](const Flight& out) { return AnswerCache::same(out.question, question, metres); });
  if (flight == flights_.end()) {
    return false;
  }
  ++flight->joined;
  return true;
}

void LookupFlights::open(const AnswerCache::Question& question) { flights_.push_back(Flight{question, 0}); }

int LookupFlights::close(const AnswerCache::Question& question) {
  const auto flight = std::find_if(flights_.begin(), flights_.end(),
                                   [&](const Flight& out) { return AnswerCache::same(out.question, question, 0.0); });
  if (flight == flights_.end()) {
    return 0;
  }
  const int joined = flight->joined;
  flights_.erase(flight);
  return joined;
}

}  // namespace tovik
