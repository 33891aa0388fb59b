// The failures of a store. Every failure of either store is an EStoreError (the SQLite and
// PostgreSQL layers raise subclasses that carry their own codes), so the method code catches one
// family and tells a busy store, a conflict and a lost file apart by asking, not by type.
//
// Intentionally copyable, as exceptions are.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace server {

// A failure of the storage itself (not a refusal of the request). Busy() is true when the store
// stayed locked by other writers past the wait limit, so trying again later may succeed.
// Conflict() is true when the transaction was rolled back because it collided with a concurrent
// one (a deadlock between two savers): the whole transaction may be run again at once.
// DiskFull() is true when the store could not write for lack of disk space.
// Unreachable() is true when the database could not be reached at all (it refused or dropped the
// connection, or is starting, stopping or being promoted): nothing was done, and trying again in
// a moment may succeed. NoConnection() is true when every connection the server may open to the
// database stayed in use past the wait for one (the server's own budget, not the database's).
class EStoreError : public std::runtime_error {
 public:
  // Why a store failed, when it is one of the failures callers tell apart.
  enum class Cause { kOther, kBusy, kConflict, kUnreachable, kNoConnection };

  explicit EStoreError(const std::string& message, bool busy = false, bool conflict = false, bool diskFull = false)
      : EStoreError(message, conflict ? Cause::kConflict : busy ? Cause::kBusy : Cause::kOther, diskFull) {}
  EStoreError(const std::string& message, Cause cause, bool diskFull = false)
      : std::runtime_error(message), cause_(cause), diskFull_(diskFull) {}
  bool Busy() const { return cause_ == Cause::kBusy || cause_ == Cause::kConflict || cause_ == Cause::kNoConnection; }
  bool Conflict() const { return cause_ == Cause::kConflict; }
  bool Unreachable() const { return cause_ == Cause::kUnreachable; }
  bool NoConnection() const { return cause_ == Cause::kNoConnection; }
  bool DiskFull() const { return diskFull_; }
  Cause Why() const { return cause_; }

 private:
  Cause cause_;
  bool diskFull_;
};

// The store's file was deleted or replaced under a running server: every save is refused until
// the server is restarted on the right file.
class EStoreLost : public EStoreError {
 public:
  using EStoreError::EStoreError;
};

// A number a store handed over as text (a count, a version, a stored integer column), read whole:
// an optional minus sign and decimal digits that fit in 64 bits. Raises EStoreError naming column
// (such as "CONTROLE.NRVALOR") and quoting the text when it is anything else, so that a damaged
// store is reported as one, never read as 0.
int64_t StoredNumber(std::string_view text, std::string_view column);

}  // namespace server
