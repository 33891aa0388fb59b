// StoreBackup takes a consistent copy of a running store and puts one back.
//
// Write copies the store at a location into an SQLite file that `serve` can run on: from an
// SQLite store with SQLite's online backup API (one snapshot; the servers go on saving), from a
// PostgreSQL store by reading the master tables, the three related lists, the audit trail and the
// master-data version in one REPEATABLE READ snapshot. Either way every save committed before the
// copy began is in it, and none committed after; the file appears under its name only once it is
// complete, flushed, and has passed SQLite's integrity check, and it is one file (no -wal or -shm
// beside it). The target is never the store itself or one of its side files (-wal, -shm,
// -journal), whatever the options say, and an existing file is replaced only when the options
// say so (BackupOptions::overwrite).
//
// Restore makes a new store at a location from such a file: a new SQLite file (a copy of the
// backup; an older schema is migrated when a server opens it), or an empty PostgreSQL schema
// (rows copied in one transaction; audit packets keep their order and are numbered anew).
//
// Stateless; each call opens what it needs.
#pragma once

#include <string>

namespace server {

struct BackupOptions {
  // Replace a file already at the target (never the store or its side files).
  bool overwrite = false;
};

class StoreBackup {
 public:
  StoreBackup() = delete;

  // Writes the copy of the store at location into target. Raises EStoreError, before anything is
  // written, when target is the store or one of its side files, or when a file is there and
  // options do not allow replacing it; and when the copy fails (nothing is left behind then).
  static void Write(const std::string& location, const std::string& target, const BackupOptions& options = {});

  // Makes the store at location from the backup file. REQUIRES (checked, EStoreError): an SQLite
  // location names no file yet; a PostgreSQL one holds no rows. Raises EStoreError.
  static void Restore(const std::string& backup, const std::string& location);

  // The result of SQLite's PRAGMA integrity_check on the file ("ok" when sound). Raises
  // EStoreError when the file cannot be opened.
  static std::string IntegrityCheck(const std::string& path);
};

}  // namespace server
