// PgStore keeps the service's data in a PostgreSQL database, with the tables of StoreSchema.h
// (the same as SqliteStore's) in PostgreSQL's dialect, created only when asked (under an advisory
// lock, so servers starting together do not race). CONTROLE holds the schema version
// (VERSAO_ESQUEMA; a store with tables but no CONTROLE is the first release's, version 1) and the
// master-data version. An older store is migrated only when the options ask (the migrate
// command), never by serve: several servers share one database, and an operator upgrades them
// together after a pg_dump, so the schema never changes under a running older server by surprise.
// Texts use the "C" collation, so lists come out in the same byte order as from SQLite. Several
// server processes may share one database: the primary key of each related list is the unique
// constraint on pairs, and an insert that meets a stored pair (or one stored by a concurrent save
// that commits first) stores nothing, which the service refuses as "já cadastrado".
//
// Transactions: BeginRead opens a read-only REPEATABLE READ transaction (one snapshot for a whole
// load); BeginWrite a READ COMMITTED one. The service's lists are read with COPY (…) TO STDOUT, a
// row at a time as they arrive; master rows, the audit trail and histories through a
// server-side cursor fetched in batches; so a load of a million rows never sits in one result in
// memory. ReadAhead starts the later lists of a read on idle connections of the pool (never
// waiting for one), each with a thread of its own, in the read's snapshot (see PgCursors.h). Bulk
// writes (PutMasters, InsertPairs) use COPY … FROM STDIN (see PgCopySink.h).
//
// The connections the store opens are budgeted as a whole: given the options' number N (the
// server's --db-connections), the point checks get two of them (one when N is below 6), the
// health probe one, and the pool the rest; so a server never opens more than N. Without a number
// the pool has maxConnections and the others come on top.
//
// Sessions draw connections from the pool, which grows up to its size and keeps idle ones, with
// the statements prepared on them, for reuse; a session takes its connection when it first needs
// one, and one asked for while all are in use waits for one (up to the options' connectionWait,
// then fails with NoConnection). Point checks made outside a transaction (PairStored,
// ProductListed, MasterCode) take none: they go through a PgCheckQueue of its own, a few
// pipelined connections shared by all sessions (at most kCheckConnections). A connection found
// lost (the database restarted, or closed it) when a transaction or a single read begins on it
// is replaced at once and the step run again, so the call does not fail; one lost inside a
// transaction fails that call (nothing of it is stored) and is dropped.
// OpenSession is thread-safe. Not copyable or movable.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/store/PgCheckQueue.h"
#include "server/store/PgConnection.h"
#include "server/store/Store.h"

namespace server {

class SqlDialect;
struct StoreTable;

class PgStore : public Store {
 public:
  // Connections the point checks use, besides the pool's (fewer backends competing for the
  // processor; the checks sent together on each).
  static constexpr int kCheckConnections = 2;

  // Connects to the database uri names and checks, makes or migrates its schema as options say
  // (see Store::Open). Raises EStoreError.
  PgStore(std::string uri, const StoreOptions& options, int maxConnections = 32);
  ~PgStore() override;

  // The least number of connections a budget may give (the pool, the checks and the probe one
  // each).
  static constexpr int kLeastConnections = 3;

  // SELECT 1 on a connection of the probe's own, made again when lost, within limit.
  void Probe(std::chrono::milliseconds limit) override;
  StoreStats Stats() const override;

  std::unique_ptr<StoreSession> OpenSession() override;

  // A connection of the pool: an idle one, a new one while the pool has room, else the first
  // given back within 60 s (then fails as busy). Give it back with Release. Thread-safe.
  std::unique_ptr<PgConnection> Acquire();

  // The queue of point checks (see PgCheckQueue). Thread-safe.
  PgCheckQueue& Checks() { return checks_; }

  // Takes back a connection when its session ends (drops it when it is not reusable).
  // Thread-safe.
  void Release(std::unique_ptr<PgConnection> connection);

  // A connection for reading ahead: an idle one, or a new one while the pool has room; null
  // (at once, never waiting) when neither. Give it back with Release. Thread-safe.
  std::unique_ptr<PgConnection> TryAcquire();

  // A new connection in place of a lost one (same slot of the pool). Raises EStoreError.
  std::unique_ptr<PgConnection> Reconnect() const { return std::make_unique<PgConnection>(uri_); }

  std::string Notes() const override { return notes_; }

  // How PostgreSQL spells the statements of the schema (see StoreSchema.h).
  static const SqlDialect& Dialect();
  // " ON CONFLICT (key) DO UPDATE SET …": what makes an INSERT into table replace the stored row
  // with the same key (every column but the key's). REQUIRES: table's key is one column.
  static std::string ReplaceOnConflict(const StoreTable& table);

 private:
  std::string uri_;
  int maxConnections_;
  std::chrono::milliseconds connectionWait_;
  mutable std::mutex mutex_;
  std::condition_variable released_;
  int open_ = 0;     // connections in use or idle
  int waiting_ = 0;  // sessions waiting for one
  int64_t waitsTimedOut_ = 0;
  std::vector<std::unique_ptr<PgConnection>> idle_;
  std::string notes_;
  PgCheckQueue checks_;
  std::timed_mutex probeMutex_;
  std::unique_ptr<PgConnection> probe_;  // under probeMutex_
};

}  // namespace server
