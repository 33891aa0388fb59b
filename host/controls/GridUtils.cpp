#include "host/controls/GridUtils.h"

#include "host/controls/DBGrid.h"
#include "host/data/Field.h"

namespace host {

namespace {

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace

int IndiceCol(const TDBGrid* grid, std::string_view fieldName) {
  if (grid == nullptr) return -1;
  const auto columns = grid->Columns();
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (SameName(columns[i]->FieldName(), fieldName)) return static_cast<int>(i);
  }
  return -1;
}

std::string GridText(const TDBGrid* grid, std::string_view fieldName, bool displayText) {
  const int index = IndiceCol(grid, fieldName);
  if (index < 0) return {};
  const TField* field = grid->Columns()[static_cast<std::size_t>(index)]->Field();
  if (field == nullptr) return {};
  return displayText ? field->Text(true) : field->AsString();
}

}  // namespace host
