#include "host/controls/DBText.h"

#include "host/data/DataSet.h"

namespace host {

TDBText::TDBText(std::string name, TComponent* owner) : TControl(std::move(name), owner) {}

TDBText::~TDBText() = default;

void TDBText::SetDataSource(TDataSource* source) {
  if (source == DataSource()) return;
  TDataLink::SetDataSource(source);
  Changed("DataSource");
  Changed("Text");
}

void TDBText::SetDataField(std::string fieldName) {
  if (dataField_ == fieldName) return;
  dataField_ = std::move(fieldName);
  Changed("DataField");
  Changed("Text");
}

TField* TDBText::Field() const {
  const TDataSet* ds = DataSet();
  if (ds == nullptr || dataField_.empty()) return nullptr;
  return ds->FindField(dataField_);
}

std::string TDBText::Text() const {
  const TField* field = Field();
  const TDataSet* ds = DataSet();
  if (field == nullptr || ds == nullptr || !ds->Active()) return {};
  return field->Text(true);
}

}  // namespace host
