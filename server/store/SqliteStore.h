// SqliteStore keeps the service's data in one SQLite file, with the tables of StoreSchema.h
// (the primary key of each related list is the unique constraint on pairs; CONTROLE holds the
// master-data version), spelled in SQLite's dialect. The schema version is SQLite's
// user_version (0 with every table of the first release: version 1). A file is first examined
// read-only: one that is not a store (the desktops' local database, any other SQLite file) is
// refused naming what it is, and a store that fails SQLite's quick_check is refused as damaged,
// before anything writes to the file. The file is created with this schema only when asked; an
// older store is copied beside itself (PATH.vN.backup) and then migrated in one transaction; a
// store opened read-only (StoreOptions::readOnly) is read as it is, on read-only connections. It is kept in WAL mode, so readers never wait for a writer, and a
// writer waits (busy timeout) for another instead of failing; commits are synchronous=FULL
// unless the options say otherwise.
//
// The store remembers which file it opened (device and inode): once the path names another file
// or none (deleted, replaced by a restore or a copy), every write transaction is refused with an
// EStoreError saying so, since its commit would go to a file nobody will read again.
//
// Opened readOnly, the file is opened read-only and taken as it is: an older schema is neither
// copied nor migrated.
//
// Sessions draw connections from a pool that grows to the number of sessions open at once and
// keeps them for reuse. OpenSession is thread-safe. Not copyable or movable.
#pragma once

#include <sys/types.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/store/SqliteDatabase.h"
#include "server/store/Store.h"

namespace server {

class SqlDialect;

class SqliteStore : public Store {
 public:
  // Opens the file at path as options say (see Store::Open). Raises EStoreError.
  SqliteStore(std::string path, const StoreOptions& options);
  ~SqliteStore() override;

  std::unique_ptr<StoreSession> OpenSession() override;

  // A connection with the statements prepared on it so far.
  struct PooledConnection;

  // Takes back a connection when its session ends. Thread-safe.
  void Release(std::unique_ptr<PooledConnection> connection);

  // Raises EStoreError when the path no longer names the file the store opened. Thread-safe.
  void CheckFile() const;

  // The schema version of an open file: user_version, or 1 for a first-release store, 0 when it
  // holds no table at all. Raises EStoreError naming path and what the file is when it holds
  // tables but is not a store (see NotAStore).
  static int SchemaVersion(SqliteDatabase& db, const std::string& path);

  // Opens the file at path read-only and tells its schema version as SchemaVersion does, after
  // SQLite's quick_check when it is a store. Raises EStoreError when the file is not an SQLite
  // database, not a store, or damaged.
  static int Examine(const std::string& path);

  // How SQLite spells the statements of the schema (see StoreSchema.h).
  static const SqlDialect& Dialect();

  // When opening migrated the store: the version it had and where its copy was written.
  std::string Notes() const override;

  // Checks that the path still names the file opened and reads it.
  void Probe(std::chrono::milliseconds limit) override;
  StoreStats Stats() const override;

 private:
  std::unique_ptr<PooledConnection> Connect(bool create);
  // Notes which file the path names now (see CheckFile).
  void RememberFile();

  std::string path_;
  StoreOptions options_;
  int inUse_ = 0;  // under mutex_
  dev_t device_ = 0;
  ino_t inode_ = 0;
  int migratedFrom_ = 0;
  std::string backupBeforeMigration_;
  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<PooledConnection>> idle_;
};

}  // namespace server
