// SqliteDatabase is one open SQLite connection, closed when it goes away, plus the error type of
// the SQLite layer (a store failure, see StoreError.h). It opens files in WAL mode with a busy
// timeout, so several connections (one per worker thread) can read while one writes, and a
// writer waits for another instead of failing at once.
//
// A connection is used by one thread at a time (it is opened without SQLite's own mutex); it may
// move between threads between uses. Movable, not copyable.
#pragma once

#include <sqlite3.h>

#include <cerrno>
#include <memory>
#include <string>
#include <string_view>

#include "server/store/SqliteStatement.h"
#include "server/store/StoreError.h"

namespace server {

// A failure reported by SQLite; the message names the operation and SQLite's own explanation. It
// is a store failure like any other, busy when SQLite found the file locked past its busy
// timeout (SQLITE_BUSY, SQLITE_LOCKED), so trying again later may succeed, and a full disk when
// SQLite says so (SQLITE_FULL) or a write failed for lack of space (systemErrno, as
// sqlite3_system_errno gives it: ENOSPC, EDQUOT, or EFBIG past the process's file size limit).
// A failed write whose cause SQLite did not report (SQLITE_IOERR_WRITE with errno 0, as when a
// commit's write to the write-ahead log fails) is taken for a full disk too: on a server that is
// nearly always what it is, and the log keeps SQLite's own words.
class ESqliteError : public EStoreError {
 public:
  ESqliteError(const std::string& message, int code, int systemErrno = 0)
      : EStoreError(message, (code & 0xFF) == SQLITE_BUSY || (code & 0xFF) == SQLITE_LOCKED, false,
                    (code & 0xFF) == SQLITE_FULL ||
                        ((code & 0xFF) == SQLITE_IOERR &&
                         (systemErrno == ENOSPC || systemErrno == EDQUOT || systemErrno == EFBIG)) ||
                        (code == SQLITE_IOERR_WRITE && systemErrno == 0)),
        code_(code) {}
  // SQLite's extended result code.
  int Code() const { return code_; }
  bool IsConstraint() const { return (code_ & 0xFF) == SQLITE_CONSTRAINT; }

 private:
  int code_;
};

class SqliteDatabase {
 public:
  // ReadWriteCreate: read-write, created when missing, in WAL mode (the server's own file).
  // ReadWrite: the same for an existing file only (a missing one is an error, not created).
  // CreatePlain: read-write, created when missing, with SQLite's default journal (a file handed
  // to desktops).
  // ReadOnly: an existing file, read only.
  // The WAL modes leave synchronous at SQLite's default (FULL); the store chooses.
  enum class Mode { ReadWriteCreate, ReadWrite, CreatePlain, ReadOnly };

  // Opens path in the given mode.
  // Raises ESqliteError when the file cannot be opened.
  SqliteDatabase(const std::string& path, Mode mode, int busyTimeoutMs = 30000);
  SqliteDatabase(SqliteDatabase&&) noexcept = default;
  SqliteDatabase& operator=(SqliteDatabase&&) noexcept = default;

  // Runs one or more statements without parameters (schema, pragmas, BEGIN/COMMIT).
  void Exec(std::string_view sql);

  SqliteStatement Prepare(std::string_view sql);

  // True while a transaction is open on this connection.
  bool InTransaction() const;

  sqlite3* Handle() const { return db_.get(); }

 private:
  struct Closer {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
  };
  std::unique_ptr<sqlite3, Closer> db_;
};

}  // namespace server
