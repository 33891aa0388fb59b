// TColumn is one column of a data grid: the field it shows (by name, resolved through the grid's
// record set), its width, read-only flag, cell button style and title. A grid owns its columns;
// a column changes nothing but itself and tells its grid's observers ("Columns") when it changes.
//
// Used on the user-interface thread only. Not copyable.
#pragma once

#include <string>

namespace host {

class TDBGrid;
class TField;

// The button a cell of the column shows while edited: none, or an ellipsis button that opens a
// pick list (OnEditButtonClick). cbsAuto behaves as cbsNone here.
enum class TColumnButtonStyle { cbsAuto, cbsEllipsis, cbsNone };

// The column's title as declared; an empty caption means the field's display label.
struct TColumnTitle {
  std::string Caption;
};

class TColumn {
 public:
  // REQUIRES: grid outlives the column (the grid owns it).
  explicit TColumn(TDBGrid& grid, std::string fieldName = {});
  TColumn(const TColumn&) = delete;
  TColumn& operator=(const TColumn&) = delete;

  TDBGrid& Grid() const { return *grid_; }

  const std::string& FieldName() const { return fieldName_; }
  void SetFieldName(std::string fieldName);
  // The field of the grid's record set with this column's field name (any letter case); null
  // when the grid has no record set or the record set has no such field.
  TField* Field() const;

  // Width in pixels; 0 means the field's display width decides.
  int Width() const { return width_; }
  void SetWidth(int width);
  // A read-only column accepts no typing.
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool readOnly);
  TColumnButtonStyle ButtonStyle() const { return buttonStyle_; }
  void SetButtonStyle(TColumnButtonStyle style);

  TColumnTitle Title;
  // Title.Caption, or else the field's display name, or else the field name.
  std::string TitleText() const;

 private:
  void Changed();

  TDBGrid* grid_;
  std::string fieldName_;
  int width_ = 0;
  bool readOnly_ = false;
  TColumnButtonStyle buttonStyle_ = TColumnButtonStyle::cbsAuto;
};

}  // namespace host
