#include "host/data/RowReader.h"

#include "host/data/ClientDataSet.h"
#include "host/data/DataSet.h"
#include "host/data/Field.h"

namespace host {

namespace {

// Points a record set's reads at `row` for its lifetime, then back at the current row.
class DisplayRowScope {
 public:
  DisplayRowScope(TClientDataSet& dataSet, int row) : dataSet_(dataSet) {
    dataSet_.SetDisplayRow(row);
  }
  ~DisplayRowScope() {
    try {
      dataSet_.SetDisplayRow(0);
    } catch (...) {
      // Row 0 is always valid; a destructor never throws.
    }
  }
  DisplayRowScope(const DisplayRowScope&) = delete;
  DisplayRowScope& operator=(const DisplayRowScope&) = delete;

 private:
  TClientDataSet& dataSet_;
};

bool Exists(const TDataSet& ds, int row) {
  return ds.Active() && row >= 1 && row <= ds.RecordCount();
}

}  // namespace

bool RowReader::CanReadAnyRow(const TDataSet& dataSet) {
  return dynamic_cast<const TClientDataSet*>(&dataSet) != nullptr;
}

std::string RowReader::Text(const TField& field, int row) {
  TDataSet* ds = field.DataSet();
  if (!ds || !Exists(*ds, row)) return {};
  if (row == ds->RecNo()) return field.Text(true);
  auto* client = dynamic_cast<TClientDataSet*>(ds);
  if (!client) return {};
  DisplayRowScope scope(*client, row);
  return field.Text(true);
}

std::vector<std::string> RowReader::Texts(const std::vector<TField*>& fields, int row) {
  std::vector<std::string> out(fields.size());
  if (fields.empty() || !fields.front()->DataSet()) return out;
  TDataSet& ds = *fields.front()->DataSet();
  if (!Exists(ds, row)) return out;
  if (row == ds.RecNo()) {
    for (std::size_t i = 0; i < fields.size(); ++i) out[i] = fields[i]->Text(true);
    return out;
  }
  auto* client = dynamic_cast<TClientDataSet*>(&ds);
  if (!client) return out;
  DisplayRowScope scope(*client, row);
  for (std::size_t i = 0; i < fields.size(); ++i) out[i] = fields[i]->Text(true);
  return out;
}

}  // namespace host
