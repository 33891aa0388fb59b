#include "server/access/SignInThrottle.h"

#include <algorithm>

namespace server {
namespace {

constexpr int64_t kWindowMs = std::chrono::duration_cast<std::chrono::milliseconds>(SignInThrottle::kWindow).count();
constexpr int64_t kLockoutMs = std::chrono::duration_cast<std::chrono::milliseconds>(SignInThrottle::kLockout).count();

// Whole seconds (rounded up) until the lockout the failures make ends; 0 when they make none.
int64_t Wait(const FailureCount& failures, int limit, int64_t now) {
  if (failures.count < limit) return 0;
  const int64_t left = failures.latest + kLockoutMs - now;
  return left > 0 ? (left + 999) / 1000 : 0;
}

}  // namespace

SignInThrottle::SignInThrottle(Store& store, Clock clock) : store_(store), clock_(std::move(clock)) {}

int64_t SignInThrottle::RetryAfter(std::string_view key, std::string_view address) {
  const int64_t now = clock_();
  const auto session = store_.OpenSession();
  return std::max(Wait(session->FailuresOfName(key, now - kWindowMs), kNameFailures, now),
                  Wait(session->FailuresOfAddress(address, now - kWindowMs), kAddressFailures, now));
}

void SignInThrottle::Failed(std::string_view key, std::string_view address) {
  const int64_t now = clock_();
  const auto session = store_.OpenSession();
  session->DropFailuresBefore(now - kWindowMs);
  session->AddFailedSignIn(key, address, now);
}

void SignInThrottle::Succeeded(std::string_view key) { store_.OpenSession()->ClearFailures(key); }

}  // namespace server
