// Sessions are what a sign-in gives: a token of 32 random bytes (43 characters of base64url) that
// the client sends with each call. The store keeps only the token's hash (SHA-256), with whose
// session it is and its times, so every server on one store knows every session, and sessions
// outlive a restart. A session ends after `idle` without a call, `max` after its sign-in, or at
// sign-out.
//
// Checking a session must cost a call no more than checking a token of the tokens file, so a
// server remembers the sessions it has seen: one checked against the store less than Recheck()
// ago is taken from memory. Past that the store is asked again, which is how a sign-out or a
// disabled user on another server (or by the user command) reaches this one: within Recheck()
// (10 s, or a quarter of `idle` when that is shorter). The last use is written to the store at
// most once per Touch() (a minute, or a quarter of `idle`), so idle expiry is exact to that.
//
// Thread-safe: Start, Check and End may run on many threads at once. Not copyable.
// REQUIRES: the store outlives the sessions.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "server/access/Identity.h"
#include "server/store/Store.h"

namespace server {

struct SessionLimits {
  std::chrono::milliseconds idle{std::chrono::hours(8)};
  std::chrono::milliseconds max{std::chrono::hours(12)};
};

class Sessions {
 public:
  // Milliseconds since the epoch; tests give a clock of their own.
  using Clock = std::function<int64_t()>;
  static int64_t SystemClock();

  // Characters of a session token.
  static constexpr size_t kTokenLength = 43;

  Sessions(Store& store, SessionLimits limits, Clock clock = SystemClock);
  Sessions(const Sessions&) = delete;
  Sessions& operator=(const Sessions&) = delete;

  struct Started {
    std::string token;
    int64_t expires = 0;  // the latest the session may last (sign-in + max), ms since the epoch
  };
  // Opens a session for who (a local or directory user) and ends the store's expired ones.
  // Raises EStoreError.
  Started Start(const Identity& who);

  // The identity of the session whose token is given; nothing when the text is no token, or names
  // no open session (ended, expired, never opened). Raises EStoreError when the store must be
  // asked and fails.
  std::optional<Identity> Check(std::string_view token);

  // Ends the session of the token; false when none was open. Raises EStoreError.
  bool End(std::string_view token);

  // The hash the store keeps of a token (64 hex digits).
  static std::string HashOf(std::string_view token);
  // True when text has the form of a session token.
  static bool LooksLikeToken(std::string_view text);

  std::chrono::milliseconds Recheck() const { return recheck_; }
  std::chrono::milliseconds Touch() const { return touch_; }
  const SessionLimits& Limits() const { return limits_; }

 private:
  struct Known {
    Identity identity;
    int64_t started = 0;
    int64_t lastUsed = 0;   // the latest use known here
    int64_t checkedAt = 0;  // when the store was last asked
  };
  bool Expired(int64_t started, int64_t lastUsed, int64_t now) const;
  void Remember(const std::string& hash, Known known);

  Store& store_;
  SessionLimits limits_;
  Clock clock_;
  std::chrono::milliseconds recheck_;
  std::chrono::milliseconds touch_;
  std::mutex mutex_;
  std::unordered_map<std::string, Known> known_;
};

}  // namespace server
