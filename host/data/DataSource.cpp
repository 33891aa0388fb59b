#include "host/data/DataSource.h"

#include <algorithm>

namespace host {

TDataLink::~TDataLink() {
  SetDataSource(nullptr);
}

void TDataLink::SetDataSource(TDataSource* source) {
  if (source == source_) return;
  if (source_) {
    auto& links = source_->links_;
    links.erase(std::remove(links.begin(), links.end(), this), links.end());
  }
  source_ = source;
  if (source_) source_->links_.push_back(this);
}

TDataSet* TDataLink::DataSet() const {
  return source_ ? source_->DataSet() : nullptr;
}

TDataSource::TDataSource(std::string name, TComponent* owner)
    : TComponent(std::move(name), owner) {}

TDataSource::~TDataSource() {
  // Detach silently: no handler runs while its owner is being destroyed.
  if (dataSet_) dataSet_->DetachSource(this);
  const auto links = links_;
  for (TDataLink* l : links) l->source_ = nullptr;
}

void TDataSource::SetDataSet(TDataSet* dataSet) {
  if (dataSet == dataSet_) return;
  const TDataSetState before = State();
  if (dataSet_) dataSet_->DetachSource(this);
  dataSet_ = dataSet;
  if (dataSet_) dataSet_->AttachSource(this);
  if (State() != before) StateChanged();
  DataChanged();
}

TDataSetState TDataSource::State() const {
  return dataSet_ ? dataSet_->State() : TDataSetState::dsInactive;
}

void TDataSource::StateChanged() {
  if (OnStateChange) OnStateChange(this);
  const auto links = links_;
  for (TDataLink* l : links) l->StateChanged();
}

void TDataSource::DataChanged() {
  const auto links = links_;
  for (TDataLink* l : links) l->DataChanged();
}

void TDataSource::ActiveRowChanged() {
  const auto links = links_;
  for (TDataLink* l : links) l->ActiveRowChanged();
}

void TDataSource::FocusField(TField& field) {
  const auto links = links_;
  for (TDataLink* l : links) l->FocusField(field);
}

void TDataSource::DataSetDestroyed() {
  // No events here: the owner of both is usually being torn down, and handlers must not run
  // against half-destroyed screens.
  dataSet_ = nullptr;
}

}  // namespace host
