#include "server/store/SqliteDatabase.h"

namespace server {

SqliteDatabase::SqliteDatabase(const std::string& path, Mode mode, int busyTimeoutMs) {
  sqlite3* raw = nullptr;
  const int access = mode == Mode::ReadOnly    ? SQLITE_OPEN_READONLY
                     : mode == Mode::ReadWrite ? SQLITE_OPEN_READWRITE
                                               : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  const int flags = access | SQLITE_OPEN_NOMUTEX;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  db_.reset(raw);
  if (rc != SQLITE_OK) {
    const std::string why = raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc);
    throw ESqliteError("cannot open database " + path + ": " + why, rc);
  }
  sqlite3_extended_result_codes(raw, 1);
  sqlite3_busy_timeout(raw, busyTimeoutMs);
  if (mode == Mode::ReadWriteCreate || mode == Mode::ReadWrite) Exec("PRAGMA journal_mode=WAL;");
}

void SqliteDatabase::Exec(std::string_view sql) {
  const std::string text(sql);
  char* error = nullptr;
  const int rc = sqlite3_exec(db_.get(), text.c_str(), nullptr, nullptr, &error);
  if (rc != SQLITE_OK) {
    const std::string message = error ? error : sqlite3_errstr(rc);
    sqlite3_free(error);
    throw ESqliteError("SQL execution failed: " + message, sqlite3_extended_errcode(db_.get()),
                       sqlite3_system_errno(db_.get()));
  }
}

SqliteStatement SqliteDatabase::Prepare(std::string_view sql) { return SqliteStatement(db_.get(), sql); }

bool SqliteDatabase::InTransaction() const { return sqlite3_get_autocommit(db_.get()) == 0; }

}  // namespace server
