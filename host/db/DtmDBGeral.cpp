#include "host/db/DtmDBGeral.h"

#include <sqlite3.h>

#include <filesystem>
#include <system_error>

#include "host/services/HostLib.h"

namespace host {

void TdtmDBGeral::Closer::operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }

namespace {

// Lets statements read and nothing else: no write, no ATTACH/DETACH, no PRAGMA, no transaction.
// A statement asking for anything more fails to prepare with SQLITE_AUTH.
int ReadOnlyAuthorizer(void*, int action, const char*, const char*, const char*, const char*) {
  switch (action) {
    case SQLITE_SELECT:
    case SQLITE_READ:
    case SQLITE_FUNCTION:
    case SQLITE_RECURSIVE:
      return SQLITE_OK;
    default:
      return SQLITE_DENY;
  }
}

}  // namespace

TdtmDBGeral::TdtmDBGeral(std::string name, TComponent* owner)
    : TComponent(std::move(name), owner) {}

TdtmDBGeral::~TdtmDBGeral() = default;

void TdtmDBGeral::SetDatabasePath(std::string path) {
  Close();
  path_ = std::move(path);
}

void TdtmDBGeral::Open() {
  const std::string path = path_.empty() ? Services().LocalDatabasePath() : path_;
  // The host's setting may change while the application runs (another local database chosen):
  // an open connection to a different file is closed first.
  if (db_ && path == openPath_) return;
  Close();
  if (path.empty()) {
    throw EDatabaseError("Banco de dados local não configurado (caminho vazio)");
  }
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    throw EDatabaseError("Banco de dados local não encontrado: " + path);
  }

  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
  std::unique_ptr<sqlite3, Closer> db(raw);  // closes even a handle whose open failed
  if (rc != SQLITE_OK) {
    throw EDatabaseError("Não foi possível abrir o banco de dados local " + path + ": " +
                         (raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc)));
  }
  sqlite3_busy_timeout(db.get(), 2000);
  // query_only also refuses writes through statements that the read-only flag would let reach
  // attached databases; reading the schema proves that the file is an SQLite database.
  char* error = nullptr;
  const int prc = sqlite3_exec(db.get(), "PRAGMA query_only=1; SELECT count(*) FROM sqlite_master;",
                               nullptr, nullptr, &error);
  if (prc != SQLITE_OK) {
    std::string message = error ? error : sqlite3_errstr(prc);
    sqlite3_free(error);
    throw EDatabaseError("O arquivo " + path + " não é um banco de dados local válido: " + message);
  }
  sqlite3_set_authorizer(db.get(), ReadOnlyAuthorizer, nullptr);
  db_ = std::move(db);
  openPath_ = path;
}

void TdtmDBGeral::Close() {
  db_.reset();
  openPath_.clear();
}

sqlite3* TdtmDBGeral::Handle() {
  Open();
  return db_.get();
}

TdtmDBGeral& dtmDBGeral() {
  static TdtmDBGeral* module = new TdtmDBGeral("dtmDBGeral");
  return *module;
}

}  // namespace host
