// ListExport writes a list as the user sees it to a file a spreadsheet opens: the grid's column
// captions as the header row, then one row per record with each cell's shown text (the field's
// display text, through its edit mask or text handler, so taxpayer numbers keep their masks).
//
// Formats, chosen by the file name's extension (.csv or .xlsx, any letter case):
//   CSV   UTF-8 with a byte-order mark, ';' between cells, CRLF between rows, a cell quoted (with
//         its quotes doubled) when it holds ';', '"', a line break, or blanks at either end; as
//         spreadsheets in pt-BR expect. A cell starting with '=', '+', '-', '@' gets a leading
//         apostrophe, so no spreadsheet runs it as a formula.
//   XLSX  One worksheet through libxlsxwriter, every cell a text cell (codes keep their leading
//         zeros; nothing is read as a formula), the header bold and frozen.
// The file appears whole or not at all: it is written beside its final name and renamed over it.
// Texts that are not valid UTF-8 are written with U+FFFD in place of their bad bytes.
//
// Used on the user-interface thread only (it reads the grid's models). Stateless; static members.
#pragma once

#include <string>
#include <vector>

namespace host {

class TDBGrid;

// A list ready to be written: header captions and rows of shown texts.
struct ExportTable {
  std::vector<std::string> headers;
  std::vector<std::vector<std::string>> rows;
};

class ListExport {
 public:
  ListExport() = delete;

  enum class Format { Csv, Xlsx };

  // The format named by the extension of path. Raises EPlatformError for another extension.
  static Format FormatOf(const std::string& path);

  // The grid's columns over its visible rows (the filtered list, as on screen).
  static ExportTable FromGrid(const TDBGrid& grid);
  // The grid's columns over every row of its record set, whatever the filter (a related list for
  // all products), in the record set's row order; a row being inserted is left out. The field the
  // filter selects by (the product key) leads the table when no column shows it. The grid's
  // record set is not touched (the rows are read from a copy). REQUIRES: the record set is a
  // TClientDataSet (another kind gives its visible rows, as FromGrid).
  // With `master` (the list whose current record the filter follows, e.g. the product list), the
  // rows are told apart as the user knows them instead: the master's shown columns lead the
  // table, headed "MASTERTITLE - COLUMN" ("Produto - Código", "Produto - Nome"), filled from the
  // master's record whose key (the master field holding the filter's value at its current
  // record, hidden fields first) each row carries; a row whose key the master does not hold
  // shows its key in the first of them.
  static ExportTable FromGridAllRows(const TDBGrid& grid, const TDBGrid* master = nullptr,
                                     const std::string& masterTitle = {});

  // Writes table to path in the format of its extension. Raises EPlatformError naming the file
  // when it cannot be written (the previous file, if any, is then unchanged).
  static void Write(const ExportTable& table, const std::string& path);
  static void WriteCsv(const ExportTable& table, const std::string& path);
  static void WriteXlsx(const ExportTable& table, const std::string& path, const std::string& sheetName = "Lista");

  // One CSV cell as written (quoted and protected as the header comment says).
  static std::string CsvCell(const std::string& text);
};

}  // namespace host
