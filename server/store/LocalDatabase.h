// LocalDatabase writes the store's master data into a file in the local database's format: the
// read-only SQLite database the desktops query, with the tables (all columns TEXT)
//   PRODUTO    (CDPRODUTO, CDARVPROD, NMPRODUTO)
//   FORNECEDOR (NRINSJURFORN, NMRAZSOCFORN, IDTPIJURFORN, CDFORNECED)
//   CLIENTE    (NRINSJURCLIE, NMRAZSOCCLIE, IDTPIJURCLIE, CDCLIENTE)
//   FILIAL     (CDFILIAL, NMFILIAL)
// Export writes the four tables from the store's master tables, replacing them when present, with
// indexes on the columns the desktop looks rows up and orders them by. (Such files are read back
// into a store by MasterImport.)
//
// Stateless; each call uses the session it is given, on the caller's thread.
#pragma once

#include <cstdint>
#include <string>

#include "server/store/Store.h"

namespace server {

// Rows per master table moved by an import or export.
struct MasterCounts {
  int64_t products = 0;
  int64_t suppliers = 0;
  int64_t clients = 0;
  int64_t branches = 0;
};

class LocalDatabase {
 public:
  LocalDatabase() = delete;

  // Writes the four tables into the file at localPath (created when missing), in one transaction.
  // Raises std::runtime_error or EStoreError; the file's old tables stay as they were then. A file
  // holding any table but those four (a server store, above all) is refused before it is written.
  static MasterCounts Export(StoreSession& session, const std::string& localPath);
};

}  // namespace server
