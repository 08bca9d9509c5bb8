#include "server/idempotency_store.h"

#include <functional>

namespace tovik::server {

IdempotencyStore::IdempotencyStore(Limits limits) : limits_(limits) {}

IdempotencyStore::Entry* IdempotencyStore::find(const std::string& accessKey, const std::string& key) {
  const auto bucket = buckets_.find(accessKey);
  if (bucket == buckets_.end()) {
    return nullptr;
  }
  const auto it = bucket->second.byKey.find(key);
  return it == bucket->second.byKey.end() ? nullptr : &*it->second;
}

void IdempotencyStore::erase(const std::string& accessKey, const std::string& key) {
  const auto bucket = buckets_.find(accessKey);
  if (bucket == buckets_.end()) {
    return;
  }
  const auto it = bucket->second.byKey.find(key);
  if (it != bucket->second.byKey.end()) {
    bucket->second.entries.erase(it->second);
    bucket->second.byKey.erase(it);
    --total_;
  }
  if (bucket->second.entries.empty()) {
    bucketOrder_.erase(bucket->second.order);
    buckets_.erase(bucket);
  }
}

void IdempotencyStore::evictOne(Bucket& bucket) {
  bucket.byKey.erase(bucket.entries.back().key);
  bucket.entries.pop_back();
  --total_;
}

IdempotencyStore::Claim IdempotencyStore::claim(const std::string& accessKey, const std::string& key,
                                                std::string_view body) {
  // A 64-bit hash and the length tell bodies apart; a collision needs a client to work
  // against its own keys.
  const std::size_t hash = std::hash<std::string_view>{}(body);
  const auto now = Clock::now();
  const std::lock_guard lock(mutex_);
  if (Entry* entry = find(accessKey, key); entry != nullptr) {
    if (now - entry->claimed <= limits_.lifetime) {
      auto& bucket = buckets_.at(accessKey);
      bucket.entries.splice(bucket.entries.begin(), bucket.entries, bucket.byKey.at(key));
      bucketOrder_.splice(bucketOrder_.begin(), bucketOrder_, bucket.order);
      if (entry->bodyHash != hash || entry->bodySize != body.size()) {
        return {Outcome::otherBody, {}};
      }
      if (!entry->done) {
        return {Outcome::inProgress, {}};
      }
      return {Outcome::replay, entry->answer};
    }
    erase(accessKey, key);
  }
  auto found = buckets_.find(accessKey);
  if (found == buckets_.end()) {
    bucketOrder_.push_front(accessKey);
    found = buckets_.emplace(accessKey, Bucket{}).first;
    found->second.order = bucketOrder_.begin();
  } else {
    bucketOrder_.splice(bucketOrder_.begin(), bucketOrder_, found->second.order);
  }
  auto& bucket = found->second;
  if (bucket.entries.size() >= limits_.perAccessKey) {
    evictOne(bucket);
  }
  bucket.entries.push_front(Entry{key, hash, body.size(), false, {}, now});
  bucket.byKey[key] = bucket.entries.begin();
  ++total_;
  // Past the bound in all, the least recently used access key gives up its oldest entry.
  while (total_ > limits_.total) {
    auto& oldest = buckets_.at(bucketOrder_.back());
    evictOne(oldest);
    if (oldest.entries.empty()) {
      const std::string emptied = bucketOrder_.back();
      bucketOrder_.pop_back();
      buckets_.erase(emptied);
    }
  }
  return {Outcome::first, {}};
}

void IdempotencyStore::complete(const std::string& accessKey, const std::string& key, Answer answer) {
  const std::lock_guard lock(mutex_);
  if (Entry* entry = find(accessKey, key); entry != nullptr && !entry->done) {
    entry->done = true;
    entry->answer = std::move(answer);
  }
}

void IdempotencyStore::abandon(const std::string& accessKey, const std::string& key) {
  const std::lock_guard lock(mutex_);
  if (Entry* entry = find(accessKey, key); entry != nullptr && !entry->done) {
    erase(accessKey, key);
  }
}

}  // namespace tovik::server
