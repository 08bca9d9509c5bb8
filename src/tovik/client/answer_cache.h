#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "tovik/system/location.h"

namespace tovik {

class LocationRes;
class GeocodeRes;

/// The answers of lookups (reverse geocoding, geocoding, the place searches), kept for a while
/// so that the same question near the same point is not sent again. One for the process, shared
/// by every facade: a question names its service and key. Main thread only.
class AnswerCache {
 public:
  using Answer = std::variant<std::shared_ptr<LocationRes>, std::vector<std::shared_ptr<GeocodeRes>>>;

  /// What makes two lookups the same: the call and its text (service, arguments and key), and
  /// the point it asks about, if any (GCJ-02), which may differ by up to the policy's metres.
  struct Question {
    std::string text;
    std::optional<Coordinate> point;
  };

  static AnswerCache& shared();
  /// Whether `a` and `b` ask the same, their points no more than `metres` apart.
  static bool same(const Question& a, const Question& b, double metres);

  /// Entries kept at most; the oldest goes first.
  static constexpr std::size_t kCapacity = 256;

  /// An answer to `question` stored less than `maxAge` seconds before `now`, for a point within
  /// `metres`.
  std::optional<Answer> find(const Question& question, double metres, double maxAge, double now);
  void store(const Question& question, Answer answer, double now);
  /// Forgets every answer.
  void clear() { entries_.clear(); }

 private:
  struct Entry {
    Question question;
    Answer answer;
    double storedAt = 0.0;
  };
  std::list<Entry> entries_;  // newest first
};

/// A facade's lookups in flight, so that an identical one joins instead of sending its own
/// request and is answered with it. Main thread only.
class LookupFlights {
 public:
  /// Whether the same lookup is in flight; if so this one joins it.
  bool join(const AnswerCache::Question& question, double metres);
  /// A lookup goes out for `question`.
  void open(const AnswerCache::Question& question);
  /// The lookup for `question` came back: how many joined it (each is answered too).
  int close(const AnswerCache::Question& question);

 private:
  struct Flight {
    AnswerCache::Question question;
    int joined = 0;
  };
  std::vector<Flight> flights_;
};

}  // namespace tovik
