#include "host/controls/DBGrid.h"

#include <algorithm>

#include "host/controls/Form.h"
#include "host/data/ClientDataSet.h"
#include "host/text/EditMask.h"
#include "host/services/HostLib.h"
#include "host/text/MessageDialog.h"

namespace host {

namespace {

bool Editing(const TDataSet* ds) {
  return ds != nullptr && (ds->State() == TDataSetState::dsEdit || ds->State() == TDataSetState::dsInsert);
}

// Removes the last UTF-8 character of text (a stray byte counts as one character).
std::string DropLastChar(std::string_view text) {
  const auto chars = SplitUtf8Chars(text);
  if (chars.empty()) return {};
  return std::string(text.substr(0, text.size() - chars.back().size()));
}

}  // namespace

TDBGrid::TDBGrid(std::string name, TComponent* owner) : TControl(std::move(name), owner) {}

TDBGrid::~TDBGrid() = default;

void TDBGrid::SetDataSource(TDataSource* source) {
  if (source == DataSource()) return;
  TDataLink::SetDataSource(source);
  defaults_.clear();
  rowTyped_ = false;
  Changed("DataSource");
}

// ---- Columns ------------------------------------------------------------------------------------

TColumn* TDBGrid::DefaultColumn(TField* field) const {
  auto& slot = defaults_[field];
  if (!slot || slot->FieldName() != field->FieldName()) {
    slot = std::make_unique<TColumn>(const_cast<TDBGrid&>(*this), field->FieldName());
  }
  return slot.get();
}

std::vector<TColumn*> TDBGrid::Columns() const {
  std::vector<TColumn*> out;
  if (!declared_.empty()) {
    for (const auto& c : declared_) {
      const TField* field = c->Field();
      if (field != nullptr && !field->Visible) continue;
      out.push_back(c.get());
    }
    return out;
  }
  if (const TDataSet* ds = DataSet()) {
    for (TField* field : ds->Fields()) {
      if (field->Visible) out.push_back(DefaultColumn(field));
    }
  }
  return out;
}

TColumn* TDBGrid::AddColumn(std::string fieldName) {
  declared_.push_back(std::make_unique<TColumn>(*this, std::move(fieldName)));
  Changed("Columns");
  return declared_.back().get();
}

void TDBGrid::ClearColumns() {
  if (declared_.empty()) return;
  declared_.clear();
  selected_ = 0;
  Changed("Columns");
}

int TDBGrid::SelectedIndex() const {
  const int count = ColumnCount();
  if (count == 0) return 0;
  return std::clamp(selected_, 0, count - 1);
}

void TDBGrid::SetSelectedIndex(int index) {
  const int count = ColumnCount();
  if (index < 0 || index >= count) {
    throw EPlatformError("Grid '" + Name() + "' has no column " + std::to_string(index) + " (it has " +
                         std::to_string(count) + ")");
  }
  const int old = SelectedIndex();
  if (index == old) return;
  if (!inColExit_ && OnColExit) {
    inColExit_ = true;
    try {
      OnColExit(this);
    } catch (...) {
      inColExit_ = false;
      throw;
    }
    inColExit_ = false;
    // The handler moved the column itself: its choice stands.
    if (SelectedIndex() != old) return;
  }
  selected_ = index;
  Changed("SelectedIndex");
}

TField* TDBGrid::SelectedField() const {
  const auto columns = Columns();
  if (columns.empty()) return nullptr;
  return columns[static_cast<std::size_t>(SelectedIndex())]->Field();
}

void TDBGrid::SetSelectedField(TField* field) {
  const auto columns = Columns();
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (field != nullptr && columns[i]->Field() == field) {
      SetSelectedIndex(static_cast<int>(i));
      return;
    }
  }
  throw EPlatformError("Grid '" + Name() + "' shows no column for field '" +
                       (field != nullptr ? field->FieldName() : std::string("(none)")) + "'");
}

// ---- Settings -----------------------------------------------------------------------------------

void TDBGrid::SetReadOnly(bool readOnly) {
  if (readOnly_ == readOnly) return;
  readOnly_ = readOnly;
  Changed("ReadOnly");
}

void TDBGrid::SetOptions(TDBGridOptions options) {
  if (options_ == options) return;
  options_ = options;
  Changed("Options");
}

void TDBGrid::SetTitleFontName(std::string name) {
  if (titleFontName_ == name) return;
  titleFontName_ = std::move(name);
  Changed("TitleFont");
}

void TDBGrid::SetTitleFontHeight(int height) {
  if (titleFontHeight_ == height) return;
  titleFontHeight_ = height;
  Changed("TitleFont");
}

void TDBGrid::SetBorderStyle(std::string style) {
  if (borderStyle_ == style) return;
  borderStyle_ = std::move(style);
  Changed("BorderStyle");
}

// ---- Editing helpers ----------------------------------------------------------------------------

bool TDBGrid::EditingAllowed() const {
  // A person who may only look types no row the server would refuse to store.
  if (readOnly_ || !options_.Contains(dgEditing) || ::host::ReadOnlyAccess()) return false;
  const TDataSet* ds = DataSet();
  if (ds == nullptr || !ds->Active()) return false;
  if (const auto* cds = dynamic_cast<const TClientDataSet*>(ds); cds != nullptr && cds->ReadOnly()) return false;
  return true;
}

bool TDBGrid::CanEditSelectedCell() const {
  if (!EditingAllowed()) return false;
  const TDataSet* ds = DataSet();
  if (ds->IsEmpty()) return false;
  const auto columns = Columns();
  if (columns.empty()) return false;
  const TColumn* column = columns[static_cast<std::size_t>(SelectedIndex())];
  const TField* field = column->Field();
  return field != nullptr && !column->ReadOnly() && !field->ReadOnly;
}

bool TDBGrid::RowTouched() const {
  const TDataSet* ds = DataSet();
  if (ds == nullptr || ds->State() != TDataSetState::dsInsert) return false;
  if (rowTyped_) return true;
  for (const std::string& v : ds->RowValues()) {
    if (!v.empty()) return true;
  }
  return false;
}

bool TDBGrid::LeaveRow() {
  TDataSet* ds = DataSet();
  if (ds == nullptr) return false;
  if (ds->State() == TDataSetState::dsInsert && !RowTouched()) {
    ds->Cancel();
    return true;
  }
  if (Editing(ds)) ds->Post();
  return false;
}

// ---- User actions -------------------------------------------------------------------------------

bool TDBGrid::TypeChar(char c) {
  editRefused_ = false;
  char key = c;
  if (OnKeyPress) OnKeyPress(this, key);
  if (key == 0) return false;
  if (!CanEditSelectedCell()) return false;

  TField* field = SelectedField();
  const std::string current = field->AsString();
  std::string next;
  if (key == static_cast<char>(VK_BACK)) {
    if (current.empty()) return false;
    next = field->EditMask.empty() ? DropLastChar(current) : EditMask(field->EditMask).Backspace(current);
  } else {
    const auto uc = static_cast<unsigned char>(key);
    if (uc < 0x20 || uc >= 0x7f) return false;
    if (field->EditMask.empty()) {
      next = current;
      next.push_back(key);
    } else {
      auto typed = EditMask(field->EditMask).Type(current, key);
      if (!typed) return false;
      next = std::move(*typed);
    }
  }
  return WriteTyped(field, current, next);
}

bool TDBGrid::TypeText(std::string_view character) {
  editRefused_ = false;
  const auto chars = SplitUtf8Chars(character);
  const bool valid = chars.size() == 1 &&
                     (chars[0].size() > 1 || static_cast<unsigned char>(chars[0][0]) < 0x80);
  if (!valid) throw EPlatformError("Grid '" + Name() + "': TypeText takes exactly one UTF-8 character");
  if (character.size() == 1) return TypeChar(character[0]);

  char key = character[0];
  if (OnKeyPress) OnKeyPress(this, key);
  if (key == 0) return false;
  if (static_cast<unsigned char>(key) < 0x80) return TypeChar(key);
  if (!CanEditSelectedCell()) return false;
  TField* field = SelectedField();
  if (!field->EditMask.empty()) return false;
  const std::string current = field->AsString();
  return WriteTyped(field, current, current + std::string(character));
}

bool TDBGrid::WriteTyped(TField* field, const std::string& current, const std::string& next) {
  if (next == current) return false;
  if (static_cast<int>(SplitUtf8Chars(next).size()) > field->Size()) return false;
  try {
    field->SetAsString(next);
  } catch (const EAbort&) {
    // The record set refused to begin the edit (a stored row that must not change): the
    // keystroke is dropped and the row stays as it was.
    editRefused_ = true;
    return false;
  }
  if (DataSet()->State() == TDataSetState::dsInsert) rowTyped_ = true;
  Changed("Data");
  return true;
}

void TDBGrid::Tab(bool forward) {
  const int count = ColumnCount();
  if (count == 0) return;
  const int index = SelectedIndex();
  TDataSet* ds = DataSet();
  if (forward) {
    if (index + 1 < count) {
      SetSelectedIndex(index + 1);
      return;
    }
    if (index != 0) SetSelectedIndex(0);
    if (SelectedIndex() != 0 || ds == nullptr || !ds->Active()) return;
    if (ds->State() == TDataSetState::dsInsert && !RowTouched()) return;
    const int row = ds->RecNo();
    if (Editing(ds)) ds->Post();
    if (row < ds->RecordCount()) MoveToRow(row + 1);
    return;
  }
  if (index > 0) {
    SetSelectedIndex(index - 1);
    return;
  }
  if (index != count - 1) SetSelectedIndex(count - 1);
  if (SelectedIndex() != count - 1 || ds == nullptr || !ds->Active()) return;
  const int row = ds->RecNo();
  if (row > 1) MoveToRow(row - 1);
}

void TDBGrid::KeyDown(int key, TShiftState shift) {
  int k = key;
  if (OnKeyDown) OnKeyDown(this, k, shift);
  if (k == 0) return;
  TDataSet* ds = DataSet();
  switch (k) {
    case VK_TAB:
      if (options_.Contains(dgTabs) && !shift.alt && !shift.ctrl) Tab(!shift.shift);
      return;
    case VK_ESCAPE:
      Escape();
      return;
    case VK_DOWN: {
      if (ds == nullptr || !ds->Active()) return;
      const int row = ds->RecNo();
      if (row >= ds->RecordCount()) {
        if (ds->State() == TDataSetState::dsInsert && !RowTouched()) return;
        Append();
      } else {
        MoveToRow(row + 1);
      }
      return;
    }
    case VK_UP: {
      if (ds == nullptr || !ds->Active()) return;
      const int row = ds->RecNo();
      if (row > 1) MoveToRow(row - 1);
      return;
    }
    case VK_INSERT:
      if (!EditingAllowed() || shift.ctrl || shift.shift) return;
      if (ds->State() == TDataSetState::dsInsert && !RowTouched()) return;
      if (Editing(ds)) ds->Post();
      SelectFirstColumn();
      ds->Insert();
      return;
    case VK_DELETE:
      if (shift.ctrl) DeleteWithConfirm();
      return;
    default:
      return;
  }
}

bool TDBGrid::ClickEllipsis() {
  const auto columns = Columns();
  if (columns.empty()) return false;
  if (columns[static_cast<std::size_t>(SelectedIndex())]->ButtonStyle() != TColumnButtonStyle::cbsEllipsis) return false;
  if (OnEditButtonClick) OnEditButtonClick(this);
  return true;
}

bool TDBGrid::MoveToRow(int n) {
  TDataSet* ds = DataSet();
  if (ds == nullptr || !ds->Active()) return false;
  const int current = ds->RecNo();
  if (n < 1 || n > ds->RecordCount() || n == current) return false;
  // The cancelled new row no longer sits above the target.
  if (LeaveRow() && n > current) --n;
  if (n >= 1 && n <= ds->RecordCount() && n != ds->RecNo()) ds->SetRecNo(n);
  return true;
}

bool TDBGrid::Append() {
  if (!EditingAllowed()) return false;
  TDataSet* ds = DataSet();
  if (ds->State() == TDataSetState::dsInsert && !RowTouched()) return false;
  if (Editing(ds)) ds->Post();
  SelectFirstColumn();
  ds->Append();
  return true;
}

void TDBGrid::SelectFirstColumn() {
  // Before the new row exists: the column exit runs while the list is browsing, as for any
  // column change of a stored row, and the typing then starts in the code column.
  if (ColumnCount() > 0 && SelectedIndex() != 0) SetSelectedIndex(0);
}

bool TDBGrid::Escape() {
  TDataSet* ds = DataSet();
  if (!Editing(ds)) return false;
  ds->Cancel();
  return true;
}

bool TDBGrid::DeleteWithConfirm() {
  TDataSet* ds = DataSet();
  if (readOnly_ || ::host::ReadOnlyAccess() || ds == nullptr || !ds->Active() || ds->IsEmpty()) return false;
  if (const auto* cds = dynamic_cast<const TClientDataSet*>(ds); cds != nullptr && cds->ReadOnly()) return false;
  if (ds->State() == TDataSetState::dsInsert && !RowTouched()) {
    ds->Cancel();
    return false;
  }
  if (options_.Contains(dgConfirmDelete) &&
      ShowMessageDialog(kGridDeleteQuestion, TMsgDlgType::mtConfirmation, {mbYes, mbNo}, 0) != mrYes) {
    return false;
  }
  ds->Delete();
  return true;
}

// ---- Drawing ------------------------------------------------------------------------------------

int TDBGrid::RowCount() const {
  const TDataSet* ds = DataSet();
  return ds != nullptr && ds->Active() ? ds->RecordCount() : 0;
}

int TDBGrid::CurrentRow() const {
  const TDataSet* ds = DataSet();
  return ds != nullptr && ds->Active() ? ds->RecNo() : 0;
}

std::string TDBGrid::CellText(int row, int column) const {
  const auto columns = Columns();
  if (column < 0 || column >= static_cast<int>(columns.size())) {
    throw EPlatformError("Grid '" + Name() + "' has no column " + std::to_string(column));
  }
  const TField* field = columns[static_cast<std::size_t>(column)]->Field();
  if (field == nullptr || row < 1 || row > RowCount()) return {};
  if (row == CurrentRow()) return field->Text(true);
  auto* cds = dynamic_cast<TClientDataSet*>(DataSet());
  if (cds == nullptr) return {};
  // Point the record set's field reads at the row being drawn, and back on every path.
  struct DisplayRow {
    TClientDataSet* cds;
    int previous;
    ~DisplayRow() { cds->SetDisplayRow(previous <= cds->RecordCount() ? previous : 0); }
  } guard{cds, cds->DisplayRow()};
  cds->SetDisplayRow(row);
  return field->Text(true);
}

// ---- Data link and focus ------------------------------------------------------------------------

void TDBGrid::DataChanged() { Changed("Data"); }

void TDBGrid::ActiveRowChanged() {
  rowTyped_ = false;
  Changed("Row");
}

void TDBGrid::StateChanged() {
  const TDataSet* ds = DataSet();
  if (ds == nullptr || ds->State() != TDataSetState::dsInsert) rowTyped_ = false;
  Changed("State");
}

void TDBGrid::FocusField(TField& field) {
  const auto columns = Columns();
  const auto it = std::find_if(columns.begin(), columns.end(), [&field](const TColumn* c) { return c->Field() == &field; });
  if (it == columns.end()) return;
  SetSelectedIndex(static_cast<int>(it - columns.begin()));
  if (Form() != nullptr && CanFocus()) SetFocus();
}

void TDBGrid::DoExit() {
  TDataSet* ds = DataSet();
  if (options_.Contains(dgCancelOnExit) && ds != nullptr && ds->State() == TDataSetState::dsInsert && !RowTouched()) {
    ds->Cancel();
  }
  TControl::DoExit();
}

}  // namespace host
