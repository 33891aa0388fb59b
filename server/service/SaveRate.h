// SaveRate keeps each user's saves to a rate with a burst: a bucket per user that holds up to
// `burst` saves and refills at `perMinute` saves a minute. A save takes one from its user's
// bucket, or is refused when the bucket is empty. The burst is sized for the largest paste a clerk
// can make at the fastest the desktop can send it, so a legitimate user never meets the limit;
// a script that saves without end is slowed to the rate. Buckets that have refilled are forgotten,
// so the table stays the size of the users saving now.
//
// Users are named by whoever calls (RemoteService: the access token's user, or the client's
// address when the server takes no tokens).
//
// Thread-safe. Not copyable or movable.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>

namespace server {

class SaveRate {
 public:
  using Clock = std::chrono::steady_clock;

  // perMinute 0: no limit.
  SaveRate(size_t perMinute, size_t burst) : perMinute_(perMinute), burst_(burst == 0 ? 1 : burst) {}
  SaveRate(const SaveRate&) = delete;
  SaveRate& operator=(const SaveRate&) = delete;

  // Takes one save from user's bucket at now; false when it is empty.
  bool Take(const std::string& user, Clock::time_point now = Clock::now());

  size_t PerMinute() const { return perMinute_; }

 private:
  struct Bucket {
    double saves = 0;  // left
    Clock::time_point at{};
  };
  // Forgets buckets that are full again. REQUIRES: mutex_ held.
  void Prune(Clock::time_point now);

  const size_t perMinute_;
  const size_t burst_;
  std::mutex mutex_;
  std::unordered_map<std::string, Bucket> buckets_;
  size_t pruneAt_ = 1024;
};

}  // namespace server
