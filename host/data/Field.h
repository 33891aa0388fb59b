// TField is one named text column of a record set. It reads and writes the value of its column
// in the record set's current row, and carries the column's presentation: label, width,
// visibility, read-only flag, edit mask and the text event that shapes the shown text.
//
// Promises:
// - AsString() reads the current row's value; it is empty when the record set has no current row
//   (closed, or no visible row).
// - SetAsString() keeps at most Size() characters (UTF-8 characters, never a split one). On a
//   stored row in browse state it first calls the record set's Edit(), so the before-edit event
//   runs and may refuse: then the row is left as it was and the exception propagates.
//
// A field is a component owned by its record set (created by TDataSet::AddField) and lives as
// long as the record set. Used on the user-interface thread only. Not copyable or movable.
#pragma once

#include <string>
#include <string_view>

#include "host/core/Component.h"
#include "host/core/Events.h"

namespace host {

class TDataSet;

// Size of a field whose size is not given.
inline constexpr int kDefaultFieldSize = 20;

class TField : public TComponent {
 public:
  // Created by TDataSet::AddField; not meant to be constructed directly.
  // REQUIRES: size >= 1; dataSet outlives the field.
  TField(TDataSet& dataSet, std::string fieldName, int size, int index);

  const std::string& FieldName() const { return fieldName_; }
  // Maximum number of characters of a value.
  int Size() const { return size_; }
  // Position of the field among its record set's fields (0-based).
  int Index() const { return index_; }
  TDataSet* DataSet() const { return dataSet_; }

  // Title of the field's grid column; when empty, DisplayName() shows the field name.
  std::string DisplayLabel;
  // Width in characters of the field's grid column; starts at Size().
  int DisplayWidth = 0;
  // A hidden field is not shown as a grid column.
  bool Visible = true;
  // A read-only field is shown but not edited by grids.
  bool ReadOnly = false;
  // Edit mask text used by grids while editing (see host/text/EditMask.h); empty for none.
  std::string EditMask;

  // DisplayLabel, or the field name when the label is empty.
  const std::string& DisplayName() const;

  // The value in the current row; empty when there is no current row.
  std::string AsString() const;
  // Writes value into the current row, keeping its first Size() characters.
  // Raises EDataSetError when the record set is closed, has no current row, or (after Edit())
  // is not in edit or insert state; any exception of the before-edit event propagates.
  void SetAsString(std::string_view value);

  // The text shown for the field (display true) or offered for editing (display false): the
  // value, passed through OnGetText when it is set.
  std::string Text(bool display = true) const;
  TFieldGetTextEvent OnGetText;

  // Asks every data link of every data source of the record set to focus this field (a grid
  // selects the field's column and takes the focus).
  void FocusControl();

 private:
  TDataSet* dataSet_;
  std::string fieldName_;
  int size_;
  int index_;
};

}  // namespace host
