// SignInThrottle stands against guessing passwords. After kNameFailures failed sign-ins for one
// user name (from any address), or kAddressFailures from one address, within kWindow, further
// sign-ins for that name or from that address are refused for kLockout after the last failure,
// whatever the password. The failures are kept in the store, so every server on one store counts
// them together; a successful sign-in forgets its name's failures (not its address's: one good
// account must not clear the way for guessing others).
//
// Behind a balancer every request comes from the balancer's address: the per-address count then
// counts everyone's failures together.
//
// Thread-safe. Not copyable. REQUIRES: the store outlives the throttle.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string_view>

#include "server/store/Store.h"

namespace server {

class SignInThrottle {
 public:
  static constexpr int kNameFailures = 5;
  static constexpr int kAddressFailures = 20;
  static constexpr std::chrono::minutes kWindow{15};
  static constexpr std::chrono::minutes kLockout{5};

  using Clock = std::function<int64_t()>;  // milliseconds since the epoch

  SignInThrottle(Store& store, Clock clock);
  SignInThrottle(const SignInThrottle&) = delete;
  SignInThrottle& operator=(const SignInThrottle&) = delete;

  // Seconds until a sign-in for key (a user name's key) from address may be tried again; 0 when
  // it may be tried now. Raises EStoreError.
  int64_t RetryAfter(std::string_view key, std::string_view address);
  // Records a failed sign-in (and forgets failures older than the window). Raises EStoreError.
  void Failed(std::string_view key, std::string_view address);
  // Forgets the failures of key. Raises EStoreError.
  void Succeeded(std::string_view key);

 private:
  Store& store_;
  Clock clock_;
};

}  // namespace server
