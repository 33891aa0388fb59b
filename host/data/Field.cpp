#include "host/data/Field.h"

#include "host/data/DataSet.h"
#include "host/data/TextLimit.h"

namespace host {

TField::TField(TDataSet& dataSet, std::string fieldName, int size, int index)
    : dataSet_(&dataSet), fieldName_(std::move(fieldName)), size_(size), index_(index) {
  DisplayWidth = size;
}

const std::string& TField::DisplayName() const {
  return DisplayLabel.empty() ? fieldName_ : DisplayLabel;
}

std::string TField::AsString() const {
  if (!dataSet_->Active()) return {};
  return std::string(dataSet_->CurrentValue(index_));
}

void TField::SetAsString(std::string_view value) {
  TDataSet& ds = *dataSet_;
  auto fail = [&](const char* why) {
    throw EDataSetError("Cannot write field '" + fieldName_ + "' of record set '" + ds.Name() +
                        "': " + why);
  };
  if (!ds.Active()) fail("the record set is closed");
  if (ds.State() == TDataSetState::dsBrowse) {
    if (!ds.HasCurrentRow()) fail("there is no current row");
    ds.Edit();
  }
  if (ds.State() != TDataSetState::dsEdit && ds.State() != TDataSetState::dsInsert)
    fail("the record set is not in edit or insert state");
  ds.WriteCurrentValue(index_, TruncateToChars(value, size_));
}

std::string TField::Text(bool display) const {
  std::string text = AsString();
  if (OnGetText) OnGetText(const_cast<TField*>(this), text, display);
  return text;
}

void TField::FocusControl() {
  dataSet_->NotifyFocusField(*this);
}

}  // namespace host
