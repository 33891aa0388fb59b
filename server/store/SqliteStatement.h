// SqliteStatement is one prepared SQLite statement, finalized when it goes away. Parameters are
// always bound, never spliced into the SQL text. Column texts are handed out as views that stay
// valid until the next Step, Reset or destruction.
//
// Used by one thread at a time, like the connection it belongs to. Movable, not copyable.
// REQUIRES: the connection outlives the statement.
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>

namespace server {

class SqliteStatement {
 public:
  // Prepares sql on db. Raises ESqliteError (see SqliteDatabase.h) when it does not compile.
  SqliteStatement(sqlite3* db, std::string_view sql);
  ~SqliteStatement();
  SqliteStatement(SqliteStatement&& other) noexcept;
  SqliteStatement& operator=(SqliteStatement&& other) noexcept;
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  // Binds text to the 1-based parameter index; the text is copied by SQLite.
  SqliteStatement& Bind(int index, std::string_view text);

  // Runs one step. Returns true when a row is ready, false when done.
  // Raises ESqliteError on failure (a constraint violation included).
  bool Step();

  // Runs the statement to the end, ignoring rows.
  void Run();

  // Makes the statement ready to run again, keeping its bindings until rebound.
  void Reset();

  // The text of column i of the current row; empty for NULL.
  std::string_view Text(int column) const;
  int ColumnCount() const;

 private:
  sqlite3* db_ = nullptr;
  sqlite3_stmt* stmt_ = nullptr;
};

}  // namespace server
