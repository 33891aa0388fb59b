// LocalDbPublisher hands out the local read-only database of the desktops (the master tables in
// the local format, as export-local writes them) as bytes with an ETag, built from one consistent
// snapshot of the store and kept until the master data change: each request reads the store's
// master-data version (one small query) and rebuilds only when it moved, so every server sharing
// a store notices a change made through any of them or by import-master.
//
// Answer is the whole HTTP route: given the request's If-None-Match, it says 200 with the bytes,
// 304 when the client already holds the current copy, or 503 when the store fails.
//
// Thread-safe: Current and Answer may run on many threads; one rebuild runs at a time and the
// others wait for it. Not copyable. REQUIRES: the store outlives the publisher.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "server/store/Store.h"

namespace server {

// One built copy: its ETag (quoted, as HTTP sends it) and its bytes.
struct LocalDbCopy {
  std::string etag;
  std::shared_ptr<const std::string> bytes;
};

// What the route answers: status 200 (body set), 304 (no body) or 503 (body is a message).
struct LocalDbAnswer {
  int status = 200;
  std::string etag;
  std::shared_ptr<const std::string> body;
};

class LocalDbPublisher {
 public:
  explicit LocalDbPublisher(Store& store);
  LocalDbPublisher(const LocalDbPublisher&) = delete;
  LocalDbPublisher& operator=(const LocalDbPublisher&) = delete;

  // The current copy, rebuilt first when the master data changed. Raises EStoreError or
  // std::runtime_error when it cannot be built (the cached copy stays).
  LocalDbCopy Current();

  // The route of GET …/local.db. Never raises.
  LocalDbAnswer Answer(const std::string& ifNoneMatch);

  // True when an If-None-Match value names etag (or is "*"); weak tags count.
  static bool Matches(const std::string& ifNoneMatch, const std::string& etag);

  // Copies built, and builds that failed, since the publisher was made. Thread-safe.
  int64_t Builds() const { return builds_.load(std::memory_order_relaxed); }
  int64_t BuildFailures() const { return buildFailures_.load(std::memory_order_relaxed); }

 private:
  LocalDbCopy Build(int64_t version);

  Store& store_;
  std::mutex mutex_;
  bool built_ = false;
  int64_t version_ = 0;
  LocalDbCopy copy_;
  std::atomic<int64_t> builds_{0};
  std::atomic<int64_t> buildFailures_{0};
};

}  // namespace server
