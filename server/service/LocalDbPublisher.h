// LocalDbPublisher hands out the local read-only database of the desktops (the master tables in
// the local format, as export-local writes them) as bytes with an ETag, built from one consistent
// snapshot of the store and kept until the master data change: each request reads the store's
// master-data version (one small query) and rebuilds only when it moved, so every server sharing
// a store notices a change made through any of them or by import-master.
//
// Answer is the whole HTTP route: given the request's If-None-Match, it says 200 with the bytes,
// 304 when the client already holds the current copy, or 503 when the store fails. A client that
// accepts a content coding gets the copy compressed in it, made once per copy and coding and kept
// beside the copy; its ETag is the copy's with "-zstd" or "-gzip" added inside the quotes, and
// any of a copy's tags names the same copy for If-None-Match (the client keeps it decoded).
//
// Thread-safe: Current and Answer may run on many threads; one rebuild runs at a time and the
// others wait for it. Not copyable. REQUIRES: the store outlives the publisher.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "server/service/AnswerCompression.h"
#include "server/store/Store.h"

namespace server {

// One built copy: its ETag (quoted, as HTTP sends it) and its bytes.
struct LocalDbCopy {
  std::string etag;
  std::shared_ptr<const std::string> bytes;
};

// What the route answers: status 200 (body set), 304 (no body) or 503 (body is a message).
// coding: what a 200's body is coded in.
struct LocalDbAnswer {
  int status = 200;
  std::string etag;
  std::shared_ptr<const std::string> body;
  ContentCoding coding = ContentCoding::Identity;
};

class LocalDbPublisher {
 public:
  explicit LocalDbPublisher(Store& store);
  LocalDbPublisher(const LocalDbPublisher&) = delete;
  LocalDbPublisher& operator=(const LocalDbPublisher&) = delete;

  // The current copy, rebuilt first when the master data changed. Raises EStoreError or
  // std::runtime_error when it cannot be built (the cached copy stays).
  LocalDbCopy Current();

  // The route of GET …/local.db, the body in coding (made from the copy on first use). Never raises.
  LocalDbAnswer Answer(const std::string& ifNoneMatch, ContentCoding coding = ContentCoding::Identity);

  // True when an If-None-Match value names etag or one of its coded tags (or is "*"); weak tags
  // count.
  static bool Matches(const std::string& ifNoneMatch, const std::string& etag);
  // The ETag of a copy of tag etag sent in coding.
  static std::string CodedTag(const std::string& etag, ContentCoding coding);

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
  // The current copy compressed, by coding (null until asked for); dropped with the copy.
  std::shared_ptr<const std::string> coded_[3];
  std::atomic<int64_t> builds_{0};
  std::atomic<int64_t> buildFailures_{0};
};

}  // namespace server
