// TDBGrid is the headless model of a data grid: a control showing the rows of its data source's
// record set in columns, and a TDataLink that follows the record set's data, current row and
// state. The user's actions arrive as calls (TypeChar, KeyDown, ClickEllipsis, MoveToRow,
// Append, Escape, DeleteWithConfirm), each running the grid's events in the platform's order, so
// a screen's rules (a column exit that refuses, a key filter that drops characters) hold the same
// with or without a display.
//
// Columns: the declared ones (AddColumn, the description's Columns collection) or, when none is
// declared, one per field of the record set; in both cases a hidden field (TField::Visible false)
// never becomes a column. Default columns are kept per field, so settings made on them (a button
// style) survive reloads of the data.
//
// The selected column changes only through SetSelectedIndex: OnColExit runs first while the old
// column is still selected; an exception there keeps the old column and propagates. A column
// change requested from inside OnColExit takes effect at once without a second OnColExit, and
// the change that was under way is then dropped (the handler's choice wins).
//
// Observers receive "Columns", "SelectedIndex", "ReadOnly", "Options", "DataSource", "Data"
// (rows or values), "Row" (current row moved) and "State", besides TControl's properties.
// Used on the user-interface thread only. Not copyable.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/controls/Column.h"
#include "host/controls/Control.h"
#include "host/data/DataSource.h"

namespace host {

enum TDBGridOption {
  dgEditing,
  dgAlwaysShowEditor,
  dgTitles,
  dgIndicator,
  dgColumnResize,
  dgColLines,
  dgRowLines,
  dgTabs,
  dgRowSelect,
  dgAlwaysShowSelection,
  dgConfirmDelete,
  dgCancelOnExit,
  dgMultiSelect
};

// A set of grid options, written as the platform writes it: {dgEditing, dgTitles}.
// Intentionally copyable.
class TDBGridOptions {
 public:
  TDBGridOptions() = default;
  TDBGridOptions(std::initializer_list<TDBGridOption> options) {
    for (TDBGridOption o : options) Include(o);
  }
  bool Contains(TDBGridOption o) const { return (bits_ & Bit(o)) != 0; }
  void Include(TDBGridOption o) { bits_ |= Bit(o); }
  void Exclude(TDBGridOption o) { bits_ &= ~Bit(o); }
  bool operator==(const TDBGridOptions&) const = default;

 private:
  static std::uint32_t Bit(TDBGridOption o) { return std::uint32_t{1} << static_cast<unsigned>(o); }
  std::uint32_t bits_ = 0;
};

// The text of the delete confirmation the grid asks before deleting a row.
inline constexpr const char* kGridDeleteQuestion = "Excluir registro?";

class TDBGrid : public TControl, public TDataLink {
 public:
  explicit TDBGrid(std::string name = {}, TComponent* owner = nullptr);
  ~TDBGrid() override;

  // ---- Data -----------------------------------------------------------------------------------

  // Attaches the grid to source (null detaches); observers receive "DataSource".
  void SetDataSource(TDataSource* source);
  using TDataLink::DataSource;
  using TDataLink::DataSet;

  // ---- Columns --------------------------------------------------------------------------------

  // The columns shown, in order (see the class comment).
  std::vector<TColumn*> Columns() const;
  int ColumnCount() const { return static_cast<int>(Columns().size()); }
  // Declares a new column after the declared ones and returns it (owned by the grid).
  TColumn* AddColumn(std::string fieldName = {});
  // Removes every declared column (the grid then shows its default columns).
  void ClearColumns();
  bool HasDeclaredColumns() const { return !declared_.empty(); }

  // Index of the selected column among Columns(); 0 when there are none.
  int SelectedIndex() const;
  // Selects column `index` (see the class comment for OnColExit). Selecting the selected column
  // does nothing. Raises EPlatformError when index is outside Columns().
  void SetSelectedIndex(int index);
  // The selected column's field; null when there is none.
  TField* SelectedField() const;
  // Selects the column showing `field` through SetSelectedIndex. Raises EPlatformError when no
  // column shows it.
  void SetSelectedField(TField* field);

  // ---- Settings -------------------------------------------------------------------------------

  // A read-only grid accepts no typing, appending, inserting or deleting.
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool readOnly);
  TDBGridOptions Options() const { return options_; }
  void SetOptions(TDBGridOptions options);
  const std::string& TitleFontName() const { return titleFontName_; }
  void SetTitleFontName(std::string name);
  int TitleFontHeight() const { return titleFontHeight_; }
  void SetTitleFontHeight(int height);
  // Border style by platform name ("bsNone", "bsSingle"); empty means the default.
  const std::string& BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(std::string style);

  // ---- Events ---------------------------------------------------------------------------------

  TNotifyEvent OnColExit;
  TNotifyEvent OnEditButtonClick;
  TKeyEvent OnKeyDown;
  TKeyPressEvent OnKeyPress;

  // ---- User actions ---------------------------------------------------------------------------

  // A character typed into the selected cell. OnKeyPress runs first; a handler that sets the key
  // to 0 drops it. The character is then ignored when the grid, the column or the field is
  // read-only, dgEditing is off, or there is no open record set with a current row. Backspace
  // (8) removes the last character; any other character goes through the field's edit mask
  // (EditMask::Type) and must fit the field's size. The result is written with
  // TField::SetAsString: on a stored row that begins an edit, and a before-edit refusal (the
  // silent abort) is swallowed, leaving the row as it was. Returns true when the value changed.
  // Other exceptions (from OnKeyPress, the edit mask, the record set) propagate.
  // Only ASCII characters are taken here; a byte of 0x80 or above is refused (it would be half a
  // UTF-8 character), so a host types other characters with TypeText.
  bool TypeChar(char c);
  // A character typed as UTF-8 text (one character, such as "ç"). An ASCII character is typed with
  // TypeChar. For any other, OnKeyPress receives its first byte: 0 drops it, an ASCII
  // replacement is typed instead, anything else types the character itself, which then passes
  // the checks of TypeChar; a field with an edit mask refuses it (masks take ASCII only).
  // Raises EPlatformError when `character` is not exactly one valid UTF-8 character.
  bool TypeText(std::string_view character);
  // A key pressed while the grid has the focus. OnKeyDown runs first (the key by reference; 0
  // consumes it), then the grid's own keys:
  //   Tab / Shift+Tab (with dgTabs): next / previous column through SetSelectedIndex; past the
  //     last column to the first column of the next row (past the first, to the last column of
  //     the previous row);
  //   Esc: cancels an edit or insertion;
  //   Down: the next row; on the last row, appends a new row (unless that row is itself an
  //     untouched new row);
  //   Up: the previous row;
  //   Insert: inserts a new row at the current one;
  //   a new row (Insert, Down past the last row) starts in the first column, the code: a touched
  //   row is posted, then the first column is selected (its column exit runs while the list is
  //   browsing), then the row is started;
  //   Ctrl+Delete: DeleteWithConfirm.
  // Other keys do nothing. Exceptions propagate.
  void KeyDown(int key, TShiftState shift = {});
  // The ellipsis button of the selected cell was clicked: runs OnEditButtonClick only when the
  // selected column's button style is cbsEllipsis. Returns true when it ran.
  bool ClickEllipsis();
  // The user selects visible row n (1-based). Leaving a new row posts it when it was touched
  // (typed into, or holding any value) and cancels it otherwise; an edited row is posted. A
  // refusal (BeforePost) propagates and the grid stays on the row. Returns true when the current
  // row changed. Rows outside 1..RowCount() are ignored (false).
  bool MoveToRow(int n);
  // The grid's own append (Down on the last row): a touched new row is posted first; an
  // untouched new row stays as it is; the new row starts in the first column (see KeyDown).
  // Returns false when the grid does not allow editing.
  bool Append();
  // Cancels the edit or insertion in progress (Esc). Returns true when there was one.
  bool Escape();
  // Deletes the current row after asking kGridDeleteQuestion through the host's message dialog
  // (when dgConfirmDelete is on); the row is deleted on Yes only. An untouched new row is simply
  // cancelled. Returns true when a row was deleted. Nothing happens on a read-only grid or an
  // empty record set.
  bool DeleteWithConfirm();

  // ---- Drawing --------------------------------------------------------------------------------

  // Number of visible rows of the record set (0 without one).
  int RowCount() const;
  // The current row (1-based), 0 when none.
  int CurrentRow() const;
  // The shown text of the cell in visible row `row` (1-based) and column `column`: the field's
  // Text(true), through its OnGetText, read in that row without moving the current row and
  // without events (TClientDataSet::SetDisplayRow; other kinds of record set show their current
  // row only). Empty for a column without a field or a row outside 1..RowCount(). Raises
  // EPlatformError when column is out of range.
  std::string CellText(int row, int column) const;
  // True when a character typed now could change the selected cell (the checks of TypeChar).
  bool CanEditSelectedCell() const;
  // True when the last TypeChar or TypeText was dropped because the record set refused to begin
  // an edit of the row (a stored row that must not change), as opposed to a key filter or mask.
  bool LastTypingRefused() const { return editRefused_; }

  // ---- Data link and focus --------------------------------------------------------------------

  void DataChanged() override;
  void ActiveRowChanged() override;
  void StateChanged() override;
  // Selects the column of `field` (through SetSelectedIndex, so OnColExit runs) and takes the
  // focus when it can. A field without a column here is ignored.
  void FocusField(TField& field) override;

  // With dgCancelOnExit, an untouched new row is cancelled before OnExit runs.
  void DoExit() override;

 private:
  bool EditingAllowed() const;
  // Writes `next` into the selected field as typed text (see TypeChar).
  bool WriteTyped(TField* field, const std::string& current, const std::string& next);
  bool RowTouched() const;
  // Ends the edit or insertion in progress before leaving the row: posts a touched row, cancels
  // an untouched new row. Returns true when a new row was cancelled.
  bool LeaveRow();
  void Tab(bool forward);
  // Selects the first column (through SetSelectedIndex) when another one is selected.
  void SelectFirstColumn();
  TColumn* DefaultColumn(TField* field) const;

  std::vector<std::unique_ptr<TColumn>> declared_;
  mutable std::map<const TField*, std::unique_ptr<TColumn>> defaults_;
  int selected_ = 0;
  bool inColExit_ = false;
  bool rowTyped_ = false;
  bool editRefused_ = false;
  bool readOnly_ = false;
  TDBGridOptions options_{dgEditing,  dgTitles, dgIndicator,     dgColumnResize, dgColLines,
                          dgRowLines, dgTabs,   dgConfirmDelete, dgCancelOnExit};
  std::string titleFontName_;
  int titleFontHeight_ = 0;
  std::string borderStyle_;
};

}  // namespace host
