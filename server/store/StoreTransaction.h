// StoreTransaction holds one transaction of a StoreSession open for the life of a scope: it rolls
// back in its destructor unless Commit was called, so every early return and exception leaves
// nothing half-applied.
//
// Not copyable or movable. Used on the thread of its session. REQUIRES: the session outlives it.
#pragma once

#include "server/store/Store.h"

namespace server {

class StoreTransaction {
 public:
  enum class Kind { Read, Write };

  StoreTransaction(StoreSession& session, Kind kind) : session_(session) {
    if (kind == Kind::Read) {
      session_.BeginRead();
    } else {
      session_.BeginWrite();
    }
  }
  ~StoreTransaction() {
    if (!done_) session_.Rollback();
  }
  StoreTransaction(const StoreTransaction&) = delete;
  StoreTransaction& operator=(const StoreTransaction&) = delete;

  // Makes the changes permanent. Raises EStoreError; the destructor then rolls back.
  void Commit() {
    session_.Commit();
    done_ = true;
  }

 private:
  StoreSession& session_;
  bool done_ = false;
};

}  // namespace server
