// TDataSource connects a record set to the controls that show it, and TDataLink is the
// connection point of one control (a grid, a data-bound label).
//
// Promises:
// - OnStateChange fires on every state change of the attached record set (inactive -> browse
//   on open, browse -> insert, insert -> browse on post or cancel, ...), after the record set's
//   state has changed; then every data link gets StateChanged().
// - Data links get DataChanged() when rows or values change (load, insert, a written value,
//   post, cancel, delete, filtering; the current row may have changed too, so a link re-reads
//   it), ActiveRowChanged() when navigation moves the current row, and FocusField() when a field
//   asks for the focus (TField::FocusControl).
// - Attachment is cleaned up from either side: destroying a record set detaches it from its data
//   sources, destroying a data source detaches its record set and its links, destroying a link
//   detaches it from its data source.
//
// Used on the user-interface thread only. Neither class is copyable or movable.
#pragma once

#include <vector>

#include "host/core/Component.h"
#include "host/core/Events.h"
#include "host/data/DataSet.h"

namespace host {

class TDataSource;

// The connection point of one control. Controls derive from it (or hold a derived member) and
// override the notifications they care about; the default bodies do nothing.
class TDataLink {
 public:
  TDataLink() = default;
  virtual ~TDataLink();
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;

  TDataSource* DataSource() const { return source_; }
  // Attaches this link to source (detaching it from the previous one); null detaches.
  void SetDataSource(TDataSource* source);
  // The record set of the data source, or null.
  TDataSet* DataSet() const;

  // Rows or values of the record set changed.
  virtual void DataChanged() {}
  // The current row moved.
  virtual void ActiveRowChanged() {}
  // The record set's state changed.
  virtual void StateChanged() {}
  // A field of the record set asks for the focus.
  virtual void FocusField(TField& field) { (void)field; }

 private:
  friend class TDataSource;
  TDataSource* source_ = nullptr;
};

class TDataSource : public TComponent {
 public:
  explicit TDataSource(std::string name = {}, TComponent* owner = nullptr);
  ~TDataSource() override;

  TDataSet* DataSet() const { return dataSet_; }
  // Attaches to dataSet (detaching from the previous one); null detaches. Fires OnStateChange
  // and tells the links when the state seen through this source changes.
  void SetDataSet(TDataSet* dataSet);
  // The attached record set's state; dsInactive when none is attached.
  TDataSetState State() const;

  // Fires on every state change of the attached record set; the sender is this data source.
  TNotifyEvent OnStateChange;

  // The links attached to this source, in attachment order.
  const std::vector<TDataLink*>& Links() const { return links_; }

 private:
  friend class TDataSet;
  friend class TDataLink;

  // Called by the record set.
  void StateChanged();
  void DataChanged();
  void ActiveRowChanged();
  void FocusField(TField& field);
  void DataSetDestroyed();

  TDataSet* dataSet_ = nullptr;
  std::vector<TDataLink*> links_;
};

}  // namespace host
