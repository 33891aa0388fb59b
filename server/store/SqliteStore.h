// SqliteStore keeps the service's data in one SQLite file: the master tables PRODUTO,
// FORNECEDOR, CLIENTE and FILIAL with the local database's columns, and one table per related
// list whose primary key (product key, item key) is the unique constraint on pairs:
//   DESONERA_FORNECEDOR (CDPRODUTODES, CDFORNECED, CDFORNECEDDES)
//   DESONERA_CLIENTE    (CDPRODUTODES, CDCLIENTE, CDCLIENTEDES)
//   DESONERA_FILIAL     (CDPRODUTODES, CDFILIALDES)
// and the audit trail: AUDITORIA (one row per applied change packet: NRPACOTE, DTHRALTERACAO,
// NMMETODO, DSENDERECO, NMUSUARIO) and AUDITORIA_ITEM (its changes: NRPACOTE, NRITEM, IDOPERACAO,
// CDPRODUTO, CDITEM, CDITEMDES, QTLINHAS).
// The file is created with this schema when missing and kept in WAL mode, so readers never wait
// for a writer, and a writer waits (busy timeout) for another instead of failing.
//
// Sessions draw connections from a pool that grows to the number of sessions open at once and
// keeps them for reuse. OpenSession is thread-safe. Not copyable or movable.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/store/SqliteDatabase.h"
#include "server/store/Store.h"

namespace server {

class SqliteStore : public Store {
 public:
  // Opens (and creates when missing) the file at path. Raises EStoreError.
  explicit SqliteStore(std::string path);
  ~SqliteStore() override;

  std::unique_ptr<StoreSession> OpenSession() override;

  // A connection with the statements prepared on it so far.
  struct PooledConnection;

  // Takes back a connection when its session ends. Thread-safe.
  void Release(std::unique_ptr<PooledConnection> connection);

 private:
  std::unique_ptr<PooledConnection> Connect();

  std::string path_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<PooledConnection>> idle_;
};

}  // namespace server
