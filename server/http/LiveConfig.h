// LiveConfig holds what a reload may change while the server runs: the access tokens, the trusted
// proxies and the TLS context. A session takes the current values for each request (the tokens
// and proxies) or connection (the TLS context), as one snapshot; a reload replaces the snapshot
// whole, so a request sees the old values or the new ones, never a mix, and a connection keeps
// the TLS context it began with for as long as it lives.
//
// Thread-safe. Not copyable or movable.
#pragma once

#include <memory>
#include <mutex>
#include <utility>

#include "server/access/AccessTokens.h"
#include "server/http/TrustedProxies.h"

namespace boost::asio::ssl {
class context;
}

namespace server {

class LiveConfig {
 public:
  struct Values {
    std::shared_ptr<const AccessTokens> tokens;  // null lets anyone in
    std::shared_ptr<const TrustedProxies> proxies = std::make_shared<const TrustedProxies>();
    std::shared_ptr<boost::asio::ssl::context> tls;  // null: plain HTTP
  };

  explicit LiveConfig(Values values) : current_(std::make_shared<const Values>(std::move(values))) {}
  LiveConfig(const LiveConfig&) = delete;
  LiveConfig& operator=(const LiveConfig&) = delete;

  std::shared_ptr<const Values> Current() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return current_;
  }
  void Replace(Values values) {
    auto next = std::make_shared<const Values>(std::move(values));
    std::lock_guard<std::mutex> lock(mutex_);
    current_ = std::move(next);
  }

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<const Values> current_;
};

}  // namespace server
