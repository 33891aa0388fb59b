// TDataSet is the abstract record set of the platform: a table of named text fields with a state
// (inactive, browse, edit, insert), a current row among its visible rows, navigation, and the
// before/after events that screens hook. TClientDataSet (in-memory rows, change log, filter,
// packets) and TADOIBQuery (rows of a local query) are its implementations.
//
// Promises common to every record set:
// - Fields are owned by the record set (TField components created by AddField) and keep their
//   order; FindField/FieldByName match names without regard to ASCII letter case.
// - Every state change is reported to every attached TDataSource, which fires its OnStateChange
//   and tells its data links; changes of rows or values and moves of the current row are reported
//   to the data links too.
// - Counting, emptiness and navigation follow the visible rows (the filter of a filtered set).
// - An exception raised by a before-event refuses the operation: the row and the state stay as
//   they were and the exception propagates unchanged (the silent abort included).
//
// Used on the user-interface thread only. Not copyable or movable.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/core/Component.h"
#include "host/core/Events.h"
#include "host/data/DataErrors.h"
#include "host/data/Field.h"

namespace host {

class TDataSource;

enum class TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert };

// The name of a state ("dsBrowse", ...), for messages and test output.
const char* DataSetStateName(TDataSetState state);

class TDataSet : public TComponent {
 public:
  explicit TDataSet(std::string name = {}, TComponent* owner = nullptr);
  ~TDataSet() override;

  // ---- Fields -------------------------------------------------------------------------------

  // Adds a text field of `size` characters after the existing ones and returns it (owned by this
  // record set). Raises EDataSetError when size < 1, when the record set is open, or when a field
  // of that name (any letter case) exists.
  TField* AddField(std::string name, int size = kDefaultFieldSize);
  // The fields in order.
  const std::vector<TField*>& Fields() const { return fields_; }
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  // The field of that name, or null.
  TField* FindField(std::string_view name) const;
  // The field of that name. Raises EDataSetError naming the field and the record set when absent.
  TField* FieldByName(std::string_view name) const;

  // ---- State ----------------------------------------------------------------------------------

  TDataSetState State() const { return state_; }
  bool Active() const { return state_ != TDataSetState::dsInactive; }
  // Opens the record set (a no-op when open). Raises AfterOpen, then AfterScroll when it has a
  // visible row.
  virtual void Open() = 0;
  // Closes the record set, discarding a pending edit or insertion. A no-op when closed.
  virtual void Close() = 0;

  // ---- Editing --------------------------------------------------------------------------------

  // Begins a new, empty row before the current row (at the end when there is none).
  // Order: BeforeInsert, row created and current, state dsInsert, AfterInsert, AfterScroll.
  virtual void Insert() = 0;
  // As Insert, with the new row after the last row.
  virtual void Append() = 0;
  // Begins editing the current row: BeforeEdit (may refuse), state dsEdit. A no-op in edit or
  // insert state; on a set with no visible row it begins an insertion instead.
  virtual void Edit() = 0;
  // Stores the row being edited or inserted: BeforePost (may refuse: row and state unchanged),
  // row stored, state dsBrowse, AfterPost. No AfterScroll. A no-op outside edit or insert state.
  virtual void Post() = 0;
  // Abandons the edit or insertion: row restored (an inserted row disappears), state dsBrowse,
  // AfterCancel, then AfterScroll when an insertion was cancelled. A no-op outside edit or
  // insert state.
  virtual void Cancel() = 0;
  // Deletes the current row: BeforeDelete (may refuse), row removed, the next row (or the
  // previous one when it was the last) becomes current, AfterDelete, AfterScroll. In insert state
  // it cancels the insertion instead. Raises EDataSetError when there is no current row.
  virtual void Delete() = 0;

  // ---- Navigation -----------------------------------------------------------------------------
  // Each navigation call first ends a pending edit or insertion as the platform does (posts a
  // modified row, cancels an untouched one), then moves, then raises AfterScroll once when the
  // call moved the current row to a different row (First on the first row, Next on the last row
  // raise none). Raises EDataSetError when closed.

  virtual void First() = 0;
  virtual void Next() = 0;
  virtual void Prior() = 0;
  virtual void Last() = 0;
  // Moves by n visible rows (negative moves back), stopping at the first or last row; returns the
  // number of rows actually moved.
  virtual int MoveBy(int n) = 0;
  // 1-based position of the current row among the visible rows; 0 when there is none.
  virtual int RecNo() const = 0;
  // Moves to visible row n (1-based), clamped to the first and last rows.
  virtual void SetRecNo(int n) = 0;
  // True after a Next/MoveBy that hit the end, and whenever there is no visible row.
  virtual bool Eof() const = 0;
  // True after First/open or a Prior/MoveBy that hit the start, and whenever there is no visible
  // row.
  virtual bool Bof() const = 0;

  // ---- Content --------------------------------------------------------------------------------

  // True when there is no visible row. A row being inserted counts: a set whose only row is
  // being inserted is not empty. A closed set is empty.
  virtual bool IsEmpty() const = 0;
  // Number of visible rows, a row being inserted included; 0 when closed.
  virtual int RecordCount() const = 0;
  // The current row's values in field order; empty when there is no current row.
  std::vector<std::string> RowValues() const;

  // ---- Events ---------------------------------------------------------------------------------

  TDataSetNotifyEvent BeforeEdit;
  TDataSetNotifyEvent BeforePost;
  TDataSetNotifyEvent BeforeInsert;
  TDataSetNotifyEvent BeforeDelete;
  TDataSetNotifyEvent AfterPost;
  TDataSetNotifyEvent AfterCancel;
  TDataSetNotifyEvent AfterDelete;
  TDataSetNotifyEvent AfterInsert;
  TDataSetNotifyEvent AfterScroll;
  TDataSetNotifyEvent AfterOpen;

  // The data sources attached to this record set, in attachment order.
  const std::vector<TDataSource*>& DataSources() const { return sources_; }

 protected:
  friend class TField;
  friend class TDataSource;

  // Value of field `index` in the current row; empty when there is none. The view is valid until
  // the next change of the record set.
  virtual std::string_view CurrentValue(int index) const = 0;
  // Writes value (already truncated to the field's size) into field `index` of the current row.
  // REQUIRES: state is dsEdit or dsInsert.
  virtual void WriteCurrentValue(int index, std::string_view value) = 0;
  // True when there is a current row.
  virtual bool HasCurrentRow() const = 0;

  // Changes the state and reports it to every data source (only when it differs).
  void SetState(TDataSetState state);
  // Runs an event handler when set.
  void Fire(const TDataSetNotifyEvent& event) {
    if (event) event(this);
  }
  // Tell every data link of every data source.
  void NotifyDataChanged();
  void NotifyActiveRowChanged();
  void NotifyFocusField(TField& field);

 private:
  void AttachSource(TDataSource* source);
  void DetachSource(TDataSource* source);

  TDataSetState state_ = TDataSetState::dsInactive;
  std::vector<TField*> fields_;
  std::vector<TDataSource*> sources_;
};

}  // namespace host
