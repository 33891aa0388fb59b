// SqliteBackup writes a consistent copy of an open SQLite database into a file with SQLite's
// online backup API: the copy is made in one step under one read transaction, so it holds
// exactly the commits made before that step began, while writers in WAL mode go on. It is written
// beside the target (TARGET.part), flushed to disk, and only then renamed over the target, so a
// failed or interrupted copy never leaves a half-written file under the target's name.
//
// Stateless. REQUIRES: the source connection is used by no other thread during Copy.
#pragma once

#include <sqlite3.h>

#include <string>

namespace server {

class SqliteBackup {
 public:
  SqliteBackup() = delete;

  // Copies the main database of source into the file at target (replacing it). Raises
  // EStoreError naming the target when the copy fails; the target is then left as it was.
  static void Copy(sqlite3* source, const std::string& target);

  // base when no file has that name, else the first of base.1, base.2, … that is free.
  static std::string FreeName(const std::string& base);

  // Flushes the file or directory at path to disk. Raises EStoreError.
  static void Sync(const std::string& path);
};

}  // namespace server
