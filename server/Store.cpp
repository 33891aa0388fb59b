#include "server/Store.h"

#include "server/SqliteStore.h"

namespace server {

std::unique_ptr<Store> Store::Open(const std::string& location) {
  if (location.rfind("postgresql://", 0) == 0 || location.rfind("postgres://", 0) == 0) {
    throw EStoreError("PostgreSQL storage is not available in this build of the server; use an SQLite file");
  }
  if (location.empty()) throw EStoreError("no database given");
  return std::make_unique<SqliteStore>(location);
}

}  // namespace server
