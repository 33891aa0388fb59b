// PgCheckQueue runs the store's point checks (one short prepared SELECT each, outside any
// transaction) on a few connections of its own in pipeline mode, whatever the number of threads
// asking. A thread with a check queues it; when a connection is free, that thread takes every
// check queued (up to kBatch), sends them together on it, reads the answers back and hands each
// to the thread that asked, which was waiting meanwhile. Checks arriving together from many
// threads thus cost the database one wake-up and one round trip, and only a few backends compete
// with the server for the processor.
//
// Every wait has a deadline: a check still queued after PgConnection::kWaitLimit fails as busy;
// the answers of checks sent are awaited at most that long too. A connection found lost (the
// database restarted) is replaced and the checks sent on it sent again once on the new one, so
// they do not fail; statements are prepared again there.
//
// Thread-safe. Not copyable or movable.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string_view>
#include <vector>

#include "server/store/PgConnection.h"

namespace server {

class PgCheckQueue {
 public:
  // Checks sent together at most.
  static constexpr size_t kBatch = 64;

  // connect makes a new connection (raising EStoreError); at most connections are open at once.
  PgCheckQueue(std::function<std::unique_ptr<PgConnection>()> connect, int connections);
  ~PgCheckQueue();
  PgCheckQueue(const PgCheckQueue&) = delete;
  PgCheckQueue& operator=(const PgCheckQueue&) = delete;

  // Runs the prepared statement name (sql) with params and returns its result. REQUIRES: a name
  // always goes with the same sql. Raises EStoreError (busy when the deadline passed).
  PgResult Run(const char* name, const char* sql, std::span<const std::string_view> params);

  // Connections open now (for tests).
  int OpenConnections() const;

 private:
  struct Waiter;

  // Sends batch on connection (replacing it once when found lost) and fills every call's result
  // or error. Runs without the lock.
  void Send(std::unique_ptr<PgConnection>& connection, std::span<const std::shared_ptr<Waiter>> batch);
  // The queued caller to give the turn to send, when a connection is free (else null); it is
  // woken after the lock is let go, so that it does not wake only to wait for the lock.
  // REQUIRES: mutex_ held.
  std::shared_ptr<Waiter> NextSender() const;

  std::function<std::unique_ptr<PgConnection>()> connect_;
  const int connections_;
  mutable std::mutex mutex_;
  std::deque<std::shared_ptr<Waiter>> queue_;
  std::vector<std::unique_ptr<PgConnection>> idle_;
  int open_ = 0;  // connections idle or sending
};

}  // namespace server
