// TdtmDBGeral is the host's general data module: the connection to the local database, an SQLite
// file that the screens only read (product, supplier, client and branch lookups and pick lists).
//
// Promises:
// - The database is opened read-only twice over: with SQLITE_OPEN_READONLY and with
//   PRAGMA query_only, so no statement run through this module can change the file.
// - A missing file is an error naming the path; a new empty database is never created. A file
//   that is not an SQLite database is an error naming the path too.
// - The path is the one set with SetDatabasePath, or, when none was set, the host services'
//   LocalDatabasePath(), asked at the moment of opening.
// - The handle is closed by the destructor and by Close (RAII; nothing leaks on any path).
//
// dtmDBGeral() is the process-wide module the local queries use unless given another one.
//
// Used on the user-interface thread only. Not copyable or movable (a component).
#pragma once

#include <memory>
#include <string>

#include "host/core/Component.h"

struct sqlite3;

namespace host {

// A failure of the local database: it cannot be opened, or a query cannot run. The message names
// the database path or the query and what SQLite said.
class EDatabaseError : public EPlatformError {
 public:
  using EPlatformError::EPlatformError;
};

class TdtmDBGeral : public TComponent {
 public:
  explicit TdtmDBGeral(std::string name = "dtmDBGeral", TComponent* owner = nullptr);
  ~TdtmDBGeral() override;

  // The path set explicitly; "" means "ask the host services when opening".
  const std::string& DatabasePath() const { return path_; }
  // Sets the path of the database file; an open connection is closed first.
  void SetDatabasePath(std::string path);

  // Opens the database (a no-op when open). Raises EDatabaseError naming the path when no path
  // is known, the file is missing, or it cannot be read as an SQLite database; EPlatformError
  // when no path was set and no host services are installed.
  void Open();
  // Closes the database (a no-op when closed).
  void Close();
  bool Connected() const { return db_ != nullptr; }
  // The path of the open database ("" when closed).
  const std::string& OpenPath() const { return openPath_; }

  // The open handle, opening the database first when needed. Owned by this module; valid until
  // Close or destruction.
  sqlite3* Handle();

 private:
  struct Closer {
    void operator()(sqlite3* db) const noexcept;
  };
  std::string path_;
  std::string openPath_;
  std::unique_ptr<sqlite3, Closer> db_;
};

// The process-wide data module. Created on first use, never destroyed.
TdtmDBGeral& dtmDBGeral();

}  // namespace host
