#include "host/data/DataSet.h"

#include <algorithm>

#include "host/data/DataSource.h"
#include "host/data/SameName.h"

namespace host {

const char* DataSetStateName(TDataSetState state) {
  switch (state) {
    case TDataSetState::dsInactive:
      return "dsInactive";
    case TDataSetState::dsBrowse:
      return "dsBrowse";
    case TDataSetState::dsEdit:
      return "dsEdit";
    case TDataSetState::dsInsert:
      return "dsInsert";
  }
  return "?";
}

TDataSet::TDataSet(std::string name, TComponent* owner) : TComponent(std::move(name), owner) {}

TDataSet::~TDataSet() {
  const auto sources = sources_;
  for (TDataSource* s : sources) s->DataSetDestroyed();
}

TField* TDataSet::AddField(std::string name, int size) {
  if (size < 1)
    throw EDataSetError("Field '" + name + "' of record set '" + Name() +
                        "' needs a size of at "
                        "least 1, not " +
                        std::to_string(size));
  if (name.empty()) throw EDataSetError("A field of record set '" + Name() + "' needs a name");
  if (Active())
    throw EDataSetError("Cannot add field '" + name + "' to the open record set '" + Name() + "'");
  if (FindField(name))
    throw EDataSetError("Record set '" + Name() + "' already has a field '" + name + "'");
  const int index = FieldCount();
  TField* field = Create<TField>(*this, std::move(name), size, index);
  fields_.push_back(field);
  return field;
}

TField* TDataSet::FindField(std::string_view name) const {
  for (TField* f : fields_)
    if (SameName(f->FieldName(), name)) return f;
  return nullptr;
}

TField* TDataSet::FieldByName(std::string_view name) const {
  if (TField* f = FindField(name)) return f;
  throw EDataSetError("Record set '" + Name() + "' has no field '" + std::string(name) + "'");
}

std::vector<std::string> TDataSet::RowValues() const {
  std::vector<std::string> values;
  if (!Active() || !HasCurrentRow()) return values;
  values.reserve(fields_.size());
  for (int i = 0; i < FieldCount(); ++i) values.emplace_back(CurrentValue(i));
  return values;
}

void TDataSet::SetState(TDataSetState state) {
  if (state == state_) return;
  state_ = state;
  const auto sources = sources_;
  for (TDataSource* s : sources) s->StateChanged();
}

void TDataSet::NotifyDataChanged() {
  const auto sources = sources_;
  for (TDataSource* s : sources) s->DataChanged();
}

void TDataSet::NotifyActiveRowChanged() {
  const auto sources = sources_;
  for (TDataSource* s : sources) s->ActiveRowChanged();
}

void TDataSet::NotifyFocusField(TField& field) {
  const auto sources = sources_;
  for (TDataSource* s : sources) s->FocusField(field);
}

void TDataSet::AttachSource(TDataSource* source) {
  if (std::find(sources_.begin(), sources_.end(), source) == sources_.end())
    sources_.push_back(source);
}

void TDataSet::DetachSource(TDataSource* source) {
  sources_.erase(std::remove(sources_.begin(), sources_.end(), source), sources_.end());
}

}  // namespace host
