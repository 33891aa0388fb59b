// PgResult owns one libpq result (PGresult) and frees it when it goes away. Values are read as
// text; a NULL reads as empty. Views handed out stay valid while the result lives.
//
// Used by one thread at a time. Movable, not copyable.
#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <memory>
#include <string_view>

namespace server {

class PgResult {
 public:
  PgResult() = default;
  // Takes ownership of result (may be null).
  explicit PgResult(PGresult* result) : result_(result) {}

  PGresult* Handle() const { return result_.get(); }
  // Gives up ownership of the result to the caller.
  PGresult* Release() { return result_.release(); }
  explicit operator bool() const { return result_ != nullptr; }

  int Rows() const { return result_ ? PQntuples(result_.get()) : 0; }
  int Columns() const { return result_ ? PQnfields(result_.get()) : 0; }
  // The text of a value. REQUIRES: row < Rows(), column < Columns().
  std::string_view Text(int row, int column) const {
    return {PQgetvalue(result_.get(), row, column),
            static_cast<size_t>(PQgetlength(result_.get(), row, column))};
  }
  // Rows touched by an INSERT, UPDATE or DELETE (0 for other statements).
  int64_t Affected() const;

 private:
  struct Clear {
    void operator()(PGresult* r) const { PQclear(r); }
  };
  std::unique_ptr<PGresult, Clear> result_;
};

}  // namespace server
