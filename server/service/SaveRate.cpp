#include "server/service/SaveRate.h"

#include <algorithm>

namespace server {

bool SaveRate::Take(const std::string& user, Clock::time_point now) {
  if (perMinute_ == 0) return true;
  std::lock_guard<std::mutex> lock(mutex_);
  if (buckets_.size() >= pruneAt_) Prune(now);
  auto [it, fresh] = buckets_.try_emplace(user);
  Bucket& bucket = it->second;
  if (fresh) {
    bucket.saves = static_cast<double>(burst_);
  } else {
    const double minutes = std::chrono::duration<double, std::ratio<60>>(now - bucket.at).count();
    bucket.saves = std::min(static_cast<double>(burst_), bucket.saves + std::max(0.0, minutes) * perMinute_);
  }
  bucket.at = now;
  if (bucket.saves < 1) return false;
  bucket.saves -= 1;
  return true;
}

void SaveRate::Prune(Clock::time_point now) {
  for (auto it = buckets_.begin(); it != buckets_.end();) {
    const double minutes = std::chrono::duration<double, std::ratio<60>>(now - it->second.at).count();
    if (it->second.saves + minutes * perMinute_ >= burst_) {
      it = buckets_.erase(it);
    } else {
      ++it;
    }
  }
  // Many users saving at once: prune again only when the table has doubled.
  pruneAt_ = std::max<size_t>(1024, 2 * buckets_.size());
}

}  // namespace server
