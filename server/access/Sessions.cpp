#include "server/access/Sessions.h"

#include <sodium.h>

#include <algorithm>
#include <stdexcept>

namespace server {
namespace {

// Sessions remembered at most; past it the memory is emptied and filled again from the store.
constexpr size_t kMostRemembered = 100'000;

std::chrono::milliseconds QuarterOrLess(std::chrono::milliseconds idle, std::chrono::milliseconds most) {
  return std::max(std::chrono::milliseconds(1), std::min(most, idle / 4));
}

}  // namespace

int64_t Sessions::SystemClock() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

Sessions::Sessions(Store& store, SessionLimits limits, Clock clock)
    : store_(store),
      limits_(limits),
      clock_(std::move(clock)),
      recheck_(QuarterOrLess(limits.idle, std::chrono::seconds(10))),
      touch_(QuarterOrLess(limits.idle, std::chrono::seconds(60))) {
  if (sodium_init() < 0) throw std::runtime_error("libsodium could not be initialized");
}

std::string Sessions::HashOf(std::string_view token) {
  unsigned char digest[crypto_hash_sha256_BYTES];
  crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(token.data()), token.size());
  char hex[crypto_hash_sha256_BYTES * 2 + 1];
  sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
  return hex;
}

bool Sessions::LooksLikeToken(std::string_view text) {
  if (text.size() != kTokenLength) return false;
  return std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
  });
}

bool Sessions::Expired(int64_t started, int64_t lastUsed, int64_t now) const {
  return now - lastUsed >= limits_.idle.count() || now - started >= limits_.max.count();
}

void Sessions::Remember(const std::string& hash, Known known) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (known_.size() >= kMostRemembered && !known_.count(hash)) known_.clear();
  known_[hash] = std::move(known);
}

Sessions::Started Sessions::Start(const Identity& who) {
  unsigned char random[32];
  randombytes_buf(random, sizeof random);
  char text[sodium_base64_ENCODED_LEN(sizeof random, sodium_base64_VARIANT_URLSAFE_NO_PADDING)];
  sodium_bin2base64(text, sizeof text, random, sizeof random, sodium_base64_VARIANT_URLSAFE_NO_PADDING);
  Started started{text, 0};
  const int64_t now = clock_();
  started.expires = now + limits_.max.count();

  const std::string hash = HashOf(started.token);
  const SessionRecord record{hash, UserKey(who.user), who.user, std::string(RoleName(who.role)),
                             std::string(AccessName(who.access)), now, now};
  const auto session = store_.OpenSession();
  session->EndOldSessions(now - limits_.idle.count(), now - limits_.max.count());
  session->AddSession(record);
  Remember(hash, Known{who, now, now, now});
  return started;
}

std::optional<Identity> Sessions::Check(std::string_view token) {
  if (!LooksLikeToken(token)) return std::nullopt;
  const std::string hash = HashOf(token);
  const int64_t now = clock_();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = known_.find(hash);
    if (it != known_.end() && now - it->second.checkedAt < recheck_.count() &&
        !Expired(it->second.started, it->second.lastUsed, now)) {
      it->second.lastUsed = std::max(it->second.lastUsed, now);
      return it->second.identity;
    }
  }
  // Not seen here lately: the store says whether the session is still open.
  const auto session = store_.OpenSession();
  const std::optional<SessionRecord> stored = session->FindSession(hash);
  int64_t lastUsed = stored ? stored->lastUsed : 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = known_.find(hash);
    if (it != known_.end()) {
      if (stored) lastUsed = std::max(lastUsed, it->second.lastUsed);
      known_.erase(it);
    }
  }
  if (!stored) return std::nullopt;
  const auto role = ParseRole(stored->role);
  const auto access = ParseAccessName(stored->access);
  if (!role || !access || Expired(stored->started, lastUsed, now)) {
    session->EndSession(hash);
    return std::nullopt;
  }
  if (now - stored->lastUsed >= touch_.count()) session->TouchSession(hash, now);
  Identity identity{stored->user, *role, *access};
  Remember(hash, Known{identity, stored->started, now, now});
  return identity;
}

bool Sessions::End(std::string_view token) {
  if (!LooksLikeToken(token)) return false;
  const std::string hash = HashOf(token);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    known_.erase(hash);
  }
  return store_.OpenSession()->EndSession(hash);
}

}  // namespace server
