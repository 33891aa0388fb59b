// RowTexts reads the shown texts of any visible row of a record set, for drawing a pick list or a
// search over it, without moving its current row and without running the screen's events: the
// record set's reads are pointed at the drawn row for the time of one read (host::RowReader, as
// the desktop's grids do). Of a record set that cannot
// point its reads elsewhere, only the current row reads; other rows read empty.
//
// Find locates a row by the start of a cell's text, ignoring letter case and accents, and, for
// a typed number, the punctuation of masked numbers (CNPJ, CPF).
//
// Used on the user-interface thread only. Holds pointers into the record set, which must outlive
// it. Not copyable.
#pragma once

#include <string>
#include <vector>

namespace host {
class TDataSet;
class TField;
}  // namespace host

namespace web {

class RowTexts {
 public:
  // The visible fields of dataSet, in order.
  explicit RowTexts(host::TDataSet& dataSet);
  RowTexts(const RowTexts&) = delete;
  RowTexts& operator=(const RowTexts&) = delete;

  const std::vector<host::TField*>& Fields() const { return fields_; }
  int RowCount() const;
  // The shown texts of visible row `row` (1-based); empty texts when it does not exist.
  std::vector<std::string> Row(int row) const;
  // The first row (1-based) from `from` on (wrapping) whose cell in `column` (-1: any) starts
  // with `typed`; 0 when none.
  int Find(const std::string& typed, int column, int from) const;

  // text folded for matching: ASCII letters in lower case, Latin accents removed.
  static std::string Fold(const std::string& text);

 private:
  host::TDataSet* dataSet_;
  std::vector<host::TField*> fields_;
};

}  // namespace web
