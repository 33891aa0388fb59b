// RowReader reads the shown texts of any visible row of a record set for drawing: a grid paints
// every row on screen, a pick list lists every row (in the desktop and in the browser alike), while the record set's fields read only its
// current row. It points the record set's field reads at the row being drawn for the duration of
// one read (TDataSet::SetDisplayRow), so the current row does not move and no event of the
// screen runs; OnGetText handlers (taxpayer numbers formatted by person type) see the drawn row.
//
// Only in-memory record sets (TClientDataSet and the local queries built on it) can point their
// reads elsewhere; of any other record set only the current row can be read, other rows read
// empty.
//
// Used on the user-interface thread only. Not instantiable.
#pragma once

#include <string>
#include <vector>

namespace host {

class TDataSet;
class TField;

class RowReader {
 public:
  RowReader() = delete;

  // The shown text (TField::Text(true)) of `field` in visible row `row` (1-based) of its record
  // set; empty when the row does not exist or cannot be read.
  static std::string Text(const TField& field, int row);
  // The shown texts of `fields` (all of one record set) in visible row `row`.
  static std::vector<std::string> Texts(const std::vector<TField*>& fields, int row);
  // True when rows other than the current one can be read.
  static bool CanReadAnyRow(const TDataSet& dataSet);
};

}  // namespace host
