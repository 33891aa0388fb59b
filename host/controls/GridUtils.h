// Grid helpers of the host's shared library that screens call by these names: the text of a
// named column in a grid's current row, and the index of the column showing a field. Field names
// match without regard to ASCII letter case, as record sets match them.
//
// Used on the user-interface thread only.
#pragma once

#include <string>
#include <string_view>

namespace host {

class TDBGrid;

// The value (AsString) of the field of the column showing `fieldName` in the grid's current row;
// empty when the grid is null, has no such column, or has no current row. `displayText` asks for
// the shown text (TField::Text(true), through OnGetText) instead of the stored value.
std::string GridText(const TDBGrid* grid, std::string_view fieldName, bool displayText = false);

// Index among grid->Columns() of the column showing `fieldName`; -1 when none (or grid null).
int IndiceCol(const TDBGrid* grid, std::string_view fieldName);

}  // namespace host
