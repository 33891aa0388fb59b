// SqliteBackup writes a consistent copy of an open SQLite database into a file with SQLite's
// online backup API: the copy is made in one step under one read transaction, so it holds
// exactly the commits made before that step began, while writers in WAL mode go on. It is written
// into a file of its own beside the target (TARGET.part-XXXXXX, made for it, so no other file is
// ever written or removed on the way), in rollback-journal mode (so the copy is one file: no
// -wal or -shm is left beside it, whoever opens it later), flushed to disk, and only then renamed
// to the target, so a failed or interrupted copy never leaves a half-written file under the
// target's name.
//
// Stateless. REQUIRES: the source connection is used by no other thread during Copy.
#pragma once

#include <sqlite3.h>

#include <string>

namespace server {

class SqliteBackup {
 public:
  SqliteBackup() = delete;

  // Copies the main database of source into a new file at target. Raises EStoreError naming the
  // target when the copy fails, or when a file appeared at target meanwhile; nothing is left
  // behind then.
  static void Copy(sqlite3* source, const std::string& target);

  // The steps of Copy, for a copy that is checked before it takes its name:
  // Reserve makes a new, empty file beside target and returns its name; CopyInto copies source
  // into such a file and flushes it; Publish renames it to target (replacing a file there only
  // when replace is true) and flushes the directory. Each raises EStoreError; the caller removes
  // the reserved file on failure.
  static std::string Reserve(const std::string& target);
  static void CopyInto(sqlite3* source, const std::string& file);
  static void Publish(const std::string& file, const std::string& target, bool replace);

  // Turns the SQLite file at path to rollback-journal mode, so that it is one file on its own.
  // Raises EStoreError.
  static void MakeSelfContained(const std::string& path);

  // base when no file has that name, else the first of base.1, base.2, … that is free.
  static std::string FreeName(const std::string& base);

  // Flushes the file or directory at path to disk. Raises EStoreError.
  static void Sync(const std::string& path);
};

}  // namespace server
