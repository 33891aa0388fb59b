#include "server/store/SqliteStatement.h"

#include <utility>

#include "server/store/SqliteDatabase.h"

namespace server {
namespace {

[[noreturn]] void Throw(sqlite3* db, int rc, const std::string& what) {
  throw ESqliteError(what + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)),
                     db ? sqlite3_extended_errcode(db) : rc, db ? sqlite3_system_errno(db) : 0);
}

}  // namespace

SqliteStatement::SqliteStatement(sqlite3* db, std::string_view sql) : db_(db) {
  const int rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    Throw(db, rc, "SQL preparation failed");
  }
}

SqliteStatement::~SqliteStatement() { sqlite3_finalize(stmt_); }

SqliteStatement::SqliteStatement(SqliteStatement&& other) noexcept
    : db_(other.db_), stmt_(std::exchange(other.stmt_, nullptr)) {}

SqliteStatement& SqliteStatement::operator=(SqliteStatement&& other) noexcept {
  if (this != &other) {
    sqlite3_finalize(stmt_);
    db_ = other.db_;
    stmt_ = std::exchange(other.stmt_, nullptr);
  }
  return *this;
}

SqliteStatement& SqliteStatement::Bind(int index, std::string_view text) {
  const int rc = sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  if (rc != SQLITE_OK) Throw(db_, rc, "SQL parameter binding failed");
  return *this;
}

bool SqliteStatement::Step() {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  const std::string message = std::string("SQL execution failed: ") + sqlite3_errmsg(db_);
  const int code = sqlite3_extended_errcode(db_);
  const int systemErrno = sqlite3_system_errno(db_);
  sqlite3_reset(stmt_);
  throw ESqliteError(message, code, systemErrno);
}

void SqliteStatement::Run() {
  while (Step()) {
  }
  Reset();
}

void SqliteStatement::Reset() { sqlite3_reset(stmt_); }

std::string_view SqliteStatement::Text(int column) const {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
  if (text == nullptr) return {};
  return {text, static_cast<size_t>(sqlite3_column_bytes(stmt_, column))};
}

int SqliteStatement::ColumnCount() const { return sqlite3_column_count(stmt_); }

}  // namespace server
