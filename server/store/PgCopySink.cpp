#include "server/store/PgCopySink.h"

#include "server/store/PgCopyText.h"
#include "server/store/PgStore.h"
#include "server/store/StoreSchema.h"

namespace server {

std::unique_ptr<RowSink> PgCopySink::ForMasters(PgConnection& connection, ListKind kind) {
  const StoreTable& t = TablesOf(kind).master;
  const std::string columns = t.ColumnList();
  std::string key;
  for (const char* k : t.key) key += (key.empty() ? "" : ", ") + std::string(k);
  const std::string stage = connection.NextName("pdi_stage_");
  // The staging table numbers its rows, so that of rows with one key the last one wins.
  connection.Exec("CREATE TEMPORARY TABLE " + stage + " (LIKE " + t.name +
                  " INCLUDING DEFAULTS, PDI_ORDEM BIGINT GENERATED ALWAYS AS IDENTITY) ON COMMIT DROP");
  return std::make_unique<PgCopySink>(connection, t.columns.size(), "COPY " + stage + " (" + columns + ") FROM STDIN",
                                      "INSERT INTO " + std::string(t.name) + " (" + columns + ") SELECT DISTINCT ON (" +
                                          key + ") " + columns + " FROM " + stage + " ORDER BY " + key +
                                          ", PDI_ORDEM DESC" + PgStore::ReplaceOnConflict(t),
                                      t.name);
}

std::unique_ptr<RowSink> PgCopySink::ForPairs(PgConnection& connection, ListKind kind) {
  const StoreTable& t = RelationOf(kind);
  const std::string columns = t.ColumnList();
  const PgResult empty = connection.Query(std::string("SELECT NOT EXISTS (SELECT 1 FROM ") + t.name + ")");
  if (empty.Rows() == 1 && empty.Text(0, 0) == "t") {
    return std::make_unique<PgCopySink>(connection, t.columns.size(),
                                        "COPY " + std::string(t.name) + " (" + columns + ") FROM STDIN", "", t.name);
  }
  const std::string stage = connection.NextName("pdi_stage_");
  connection.Exec("CREATE TEMPORARY TABLE " + stage + " (LIKE " + t.name + " INCLUDING DEFAULTS) ON COMMIT DROP");
  return std::make_unique<PgCopySink>(connection, t.columns.size(), "COPY " + stage + " (" + columns + ") FROM STDIN",
                                      "INSERT INTO " + std::string(t.name) + " (" + columns + ") SELECT " + columns +
                                          " FROM " + stage + " ON CONFLICT DO NOTHING",
                                      t.name);
}

PgCopySink::PgCopySink(PgConnection& connection, size_t width, std::string copySql, std::string mergeSql,
                       std::string table)
    : connection_(connection), width_(width), mergeSql_(std::move(mergeSql)), table_(std::move(table)) {
  connection_.BeginCopyIn(copySql);
  copying_ = true;
}

PgCopySink::~PgCopySink() {
  if (copying_) connection_.AbortCopyIn();
}

void PgCopySink::Add(std::span<const std::string_view> row) {
  if (!copying_) throw EStoreError("internal error: rows given after the bulk write ended");
  if (row.size() != width_) throw EStoreError("bulk row of the wrong width");
  PgCopyText::AppendRow(buffer_, row);
  if (buffer_.size() >= kPiece) Flush();
}

int64_t PgCopySink::Finish() {
  if (!copying_) throw EStoreError("internal error: a bulk write ended twice");
  Flush();
  copying_ = false;
  const int64_t copied = connection_.EndCopyIn();
  const int64_t stored = mergeSql_.empty() ? copied : connection_.Query(mergeSql_).Affected();
  // The planner's view of a table that just grew a lot is stale until the next automatic
  // analysis; a list read right after (the first load) would be planned for the old size.
  if (stored >= kAnalyzeRows) connection_.Exec("ANALYZE " + table_);
  return stored;
}

void PgCopySink::Flush() {
  if (buffer_.empty()) return;
  connection_.PutCopyData(buffer_);
  buffer_.clear();
}

}  // namespace server
