// TADOIBQuery is a read-only query over the local database (TdtmDBGeral): its SQL is run when the
// query opens and its rows become the rows of a record set, so screens read its fields as text,
// navigate it, and hand it to a pick list through a TDataSource.
//
// Promises:
// - Read-only: the record set refuses Insert, Edit and Delete, and a statement that would write
//   (or attach, detach, or change a setting) fails at Open with an EDatabaseError saying so. The
//   SQL must be one statement.
// - Parameters: every ":NAME" in the SQL (outside quotes and comments) is a parameter, reached
//   with ParamByName (any letter case). Values are bound by name when the query opens, never
//   concatenated into the SQL. A parameter never given a value is bound as NULL.
// - Fields: the declared fields (AddField, from the screen description) receive the result
//   columns of the same name (any letter case); extra columns are ignored, and a declared field
//   the result lacks is an error naming it. With no declared field, the first Open creates one
//   field per result column, sized to hold its longest value and at least 255 characters; they
//   stay the query's fields for later opens. NULL reads as "". Values longer than a field keep
//   their first Size() characters.
// - SQL_ORACLE is kept for descriptions that carry it; SQLite always runs SQL.
//
// Used on the user-interface thread only. Not copyable or movable (a component).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/data/ClientDataSet.h"
#include "host/db/DtmDBGeral.h"
#include "host/db/Param.h"

namespace host {

class TADOIBQuery : public TClientDataSet {
 public:
  explicit TADOIBQuery(std::string name = {}, TComponent* owner = nullptr);
  ~TADOIBQuery() override;

  // The data module whose database the query reads; dtmDBGeral() unless set.
  TdtmDBGeral* Database() const;
  // REQUIRES: database outlives this query, or is null (back to dtmDBGeral()).
  void SetDatabase(TdtmDBGeral* database) { database_ = database; }

  // The SQL, line by line.
  const std::vector<std::string>& SQL() const { return sql_; }
  // Replaces the SQL and closes the query. The parameters are parsed again; a parameter whose
  // name stays keeps its value.
  void SetSQL(std::vector<std::string> lines);
  // The SQL lines joined with line breaks.
  std::string SQLText() const;
  const std::vector<std::string>& SQL_ORACLE() const { return sqlOracle_; }
  void SetSQL_ORACLE(std::vector<std::string> lines) { sqlOracle_ = std::move(lines); }

  // The parameters in order of first appearance. References stay valid until SetSQL.
  const std::vector<TParam>& Params() const { return params_; }
  // The parameter of that name (any letter case, without ':'). Raises EDatabaseError naming the
  // parameter and the query when the SQL has none of that name.
  TParam& ParamByName(std::string_view name);
  // The parameter of that name, or null.
  TParam* FindParam(std::string_view name);

  // Runs the query and opens the record set on its rows (a no-op when open): AfterOpen, then
  // AfterScroll when there is a row. Raises EDatabaseError, naming the query, when the database
  // cannot be opened, the SQL is empty, not one statement, would write, fails in SQLite, or does
  // not yield a declared field; the query then stays closed.
  void Open() override;

 private:
  void ParseParams();

  TdtmDBGeral* database_ = nullptr;
  std::vector<std::string> sql_;
  std::vector<std::string> sqlOracle_;
  std::vector<TParam> params_;
};

}  // namespace host
