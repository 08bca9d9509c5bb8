#pragma once

#include <chrono>
#include <cstddef>
#include <list>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace tovik::server {

/// The answers to uploads sent with an `Idempotency-Key`, so that a client that retries an
/// upload (not knowing whether the first one arrived) gets the first answer again instead
/// of a second upload. Keys are kept per access key, so one client can neither see nor
/// push out another's; the store is bounded in entries per access key and in all, the
/// least recently used going first, and an entry lives `lifetime`. Safe from any thread.
class IdempotencyStore {
 public:
  struct Limits {
    std::size_t perAccessKey = 1024;
    std::size_t total = 16384;
    std::chrono::milliseconds lifetime = std::chrono::hours(24);
  };

  struct Answer {
    int status = 0;
    std::string body;
    std::string contentType;
  };

  enum class Outcome {
    first,      // not seen (or expired): answer it, then `complete` or `abandon`
    replay,     // the same body was answered: send `answer` again
    otherBody,  // the key was used with another body
    inProgress  // the first request with this key is still being answered
  };

  struct Claim {
    Outcome outcome = Outcome::first;
    Answer answer;
  };

  explicit IdempotencyStore(Limits limits);

  Claim claim(const std::string& accessKey, const std::string& key, std::string_view body);
  /// Keeps the answer to a claimed key.
  void complete(const std::string& accessKey, const std::string& key, Answer answer);
  /// Forgets a claimed key whose request failed, so that a retry is answered afresh.
  void abandon(const std::string& accessKey, const std::string& key);

 private:
  using Clock = std::chrono::steady_clock;
  struct Entry {
    std::string key;
    std::size_t bodyHash = 0;
    std::size_t bodySize = 0;
    bool done = false;
    Answer answer;
    Clock::time_point claimed;
  };
  struct Bucket {
    std::list<Entry> entries;  // most recently used first
    std::unordered_map<std::string, std::list<Entry>::iterator> byKey;
    std::list<std::string>::iterator order;
  };

  Entry* find(const std::string& accessKey, const std::string& key);
  void erase(const std::string& accessKey, const std::string& key);
  void evictOne(Bucket& bucket);

  Limits limits_;
  std::mutex mutex_;
  std::unordered_map<std::string, Bucket> buckets_;
  std::list<std::string> bucketOrder_;  // access keys, most recently used first
  std::size_t total_ = 0;
};

}  // namespace tovik::server
