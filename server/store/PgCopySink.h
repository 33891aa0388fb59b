// PgCopySink is the bulk writer of the PostgreSQL store (StoreSession::PutMasters and
// InsertPairs): it writes rows with COPY … FROM STDIN, in pieces of a few hundred kilobytes.
// Either straight into the table (the COPY stores every row or none), or into a temporary staging
// table that one INSERT … SELECT then merges into the table, with the conflict rule of the
// row-by-row statements (replace the stored row, or skip a stored pair). A table that grew by
// many rows has its statistics renewed at once.
//
// Used on the thread of its session. Not copyable. REQUIRES: the connection outlives it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "server/store/PgConnection.h"
#include "server/store/Store.h"

namespace server {

class PgCopySink : public RowSink {
 public:
  // The writer of PutMasters(kind): rows replace stored ones with the same key, and of rows with
  // one key the last given wins. REQUIRES: a write transaction is open on connection. Raises
  // EStoreError.
  static std::unique_ptr<RowSink> ForMasters(PgConnection& connection, ListKind kind);
  // The writer of InsertPairs(kind): pairs already stored are skipped; into an empty list the rows
  // go straight in, and a pair given twice (or stored meanwhile by another server) fails the
  // whole write. REQUIRES: as above. Raises EStoreError.
  static std::unique_ptr<RowSink> ForPairs(PgConnection& connection, ListKind kind);

  // copySql: the COPY statement; mergeSql: the merging INSERT, or empty when the COPY writes the
  // table itself; table: the table written. REQUIRES: the COPY has not begun yet.
  PgCopySink(PgConnection& connection, size_t width, std::string copySql, std::string mergeSql, std::string table);
  ~PgCopySink() override;

  void Add(std::span<const std::string_view> row) override;
  int64_t Finish() override;

 private:
  static constexpr size_t kPiece = 256 * 1024;
  static constexpr int64_t kAnalyzeRows = 10'000;

  void Flush();

  PgConnection& connection_;
  size_t width_;
  std::string mergeSql_;
  std::string table_;
  std::string buffer_;
  bool copying_ = false;
};

}  // namespace server
