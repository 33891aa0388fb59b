// MasterImport fills or refreshes the store's master tables (PRODUTO, FORNECEDOR, CLIENTE,
// FILIAL) from the files a company exports them to: CSV files, one per table, named after it
// (PRODUTO.csv, FORNECEDOR.csv, CLIENTE.csv, FILIAL.csv, any letter case; a folder given stands
// for the ones it holds), or a file in the local database's format (SQLite, any of the four
// tables). Only the tables given change: their rows are added or replace the stored row with the
// same key; rows a file lacks are kept, since stored pairs may refer to them.
//
// A CSV file is UTF-8, with or without a byte-order mark, its cells separated by ';' or ',' (the
// one its header uses) and quoted with '"' where they hold a separator, a quote ("") or a line
// break. Its header row names the table's columns (those of the local database), in any order.
//
// Every row is checked before anything is stored, and the import is refused whole, changing
// nothing, when any row has an empty or repeated key (CDPRODUTO, CDFORNECED, CDCLIENTE,
// CDFILIAL), a key holding a control character, the wrong number of cells, bytes that are not
// UTF-8, or a person type (IDTPIJURFORN, IDTPIJURCLIE) other than F or J. Each fault is one line
// "FILE:LINE: reason" (for an SQLite file, "FILE:TABLE:ROW: reason"). A taxpayer number whose check
// digits fail for its person type is a warning in the same form, and is imported. The counts are
// the rows stored, split into new and replacing ones.
//
// Stateless; each call opens what it needs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "server/store/Store.h"

namespace server {

// What an import did, or would have done.
struct MasterImportReport {
  struct Table {
    std::string name;  // "FORNECEDOR"
    std::string source;  // the file it came from
    int64_t stored = 0;  // rows written
    int64_t added = 0;   // of them, keys the store did not hold
  };
  std::vector<Table> tables;          // the tables given, in the store's order
  std::vector<std::string> faults;    // "FILE:LINE: reason"; any refuses the import
  std::vector<std::string> warnings;  // "FILE:LINE: warning: reason"
  bool Refused() const { return !faults.empty(); }
};

class MasterImport {
 public:
  MasterImport() = delete;

  // Imports the files (paths of CSV files, folders holding them, or one SQLite file) into the
  // store of session, in one transaction, when no row is at fault; otherwise changes nothing.
  // Raises std::runtime_error for files that cannot be read or named tables (a CSV file named
  // after no table, the same table twice, an SQLite file with none of the tables, a missing
  // column), EStoreError when the store fails.
  static MasterImportReport Run(StoreSession& session, const std::vector<std::string>& files);
};

}  // namespace server
