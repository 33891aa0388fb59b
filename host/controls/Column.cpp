#include "host/controls/Column.h"

#include "host/controls/DBGrid.h"
#include "host/data/DataSet.h"

namespace host {

TColumn::TColumn(TDBGrid& grid, std::string fieldName) : grid_(&grid), fieldName_(std::move(fieldName)) {}

void TColumn::Changed() { grid_->Changed("Columns"); }

void TColumn::SetFieldName(std::string fieldName) {
  if (fieldName_ == fieldName) return;
  fieldName_ = std::move(fieldName);
  Changed();
}

TField* TColumn::Field() const {
  TDataSet* dataSet = grid_->DataSet();
  if (dataSet == nullptr || fieldName_.empty()) return nullptr;
  return dataSet->FindField(fieldName_);
}

void TColumn::SetWidth(int width) {
  if (width_ == width) return;
  width_ = width;
  Changed();
}

void TColumn::SetReadOnly(bool readOnly) {
  if (readOnly_ == readOnly) return;
  readOnly_ = readOnly;
  Changed();
}

void TColumn::SetButtonStyle(TColumnButtonStyle style) {
  if (buttonStyle_ == style) return;
  buttonStyle_ = style;
  Changed();
}

std::string TColumn::TitleText() const {
  if (!Title.Caption.empty()) return Title.Caption;
  if (const TField* field = Field()) return field->DisplayName();
  return fieldName_;
}

}  // namespace host
