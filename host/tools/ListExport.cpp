#include "host/tools/ListExport.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>

#include "host/controls/DBGrid.h"
#include "host/data/ClientDataSet.h"
#include "host/wire/PacketWriter.h"

namespace host {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  return text;
}

std::string Clean(const std::string& text) { return wire::PacketWriter::SanitizeUtf8(text); }

std::vector<std::string> Headers(const TDBGrid& grid) {
  std::vector<std::string> headers;
  for (const TColumn* column : grid.Columns()) headers.push_back(column->TitleText());
  return headers;
}

// Renames the finished temporary file over path, or removes it and raises.
void Publish(const std::string& temporary, const std::string& path) {
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    throw EPlatformError("não foi possível gravar " + path);
  }
}

}  // namespace

ListExport::Format ListExport::FormatOf(const std::string& path) {
  const std::string lower = Lower(path);
  if (lower.ends_with(".csv")) return Format::Csv;
  if (lower.ends_with(".xlsx")) return Format::Xlsx;
  throw EPlatformError("formato de exportação desconhecido: " + path + " (use .csv ou .xlsx)");
}

ExportTable ListExport::FromGrid(const TDBGrid& grid) {
  ExportTable table;
  table.headers = Headers(grid);
  const int columns = grid.ColumnCount();
  const int rows = grid.RowCount();
  table.rows.reserve(static_cast<size_t>(rows));
  for (int r = 1; r <= rows; ++r) {
    std::vector<std::string>& row = table.rows.emplace_back();
    row.reserve(static_cast<size_t>(columns));
    for (int c = 0; c < columns; ++c) row.push_back(grid.CellText(r, c));
  }
  return table;
}

namespace {

// A record set with the same fields and display rules as `source`, holding all its rows.
void CopyAllRows(const TClientDataSet& source, TClientDataSet& copy) {
  for (const TField* field : source.Fields()) {
    TField* same = copy.AddField(field->FieldName(), field->Size());
    same->EditMask = field->EditMask;
    same->OnGetText = field->OnGetText;
    same->DisplayLabel = field->DisplayLabel;
  }
  copy.SetData(source.Data());
}

// The value a filter "FIELD = 'VALUE'" selects, its doubled quotes undone; empty when none.
std::string FilterValue(const std::string& filter) {
  const size_t open = filter.find('\'');
  if (open == std::string::npos) return {};
  std::string value;
  for (size_t i = open + 1; i < filter.size(); ++i) {
    if (filter[i] == '\'') {
      if (i + 1 < filter.size() && filter[i + 1] == '\'') {
        value += '\'';
        ++i;
        continue;
      }
      break;
    }
    value += filter[i];
  }
  return value;
}

// The master's shown columns by its key: key -> the texts of its shown columns.
struct MasterIndex {
  std::vector<std::string> headers;
  std::map<std::string, std::vector<std::string>> byKey;
};

MasterIndex IndexMaster(const TDBGrid& master, const std::string& title, const std::string& keyValue) {
  MasterIndex index;
  const auto* source = dynamic_cast<const TClientDataSet*>(master.DataSet());
  if (source == nullptr || !source->Active() || keyValue.empty()) return index;
  // The key field: the one holding the filter's value at the master's current record.
  const TField* key = nullptr;
  for (const bool hidden : {true, false}) {
    for (const TField* field : source->Fields()) {
      if (!key && field->Visible != hidden && field->AsString() == keyValue) key = field;
    }
  }
  if (!key) return index;
  TClientDataSet copy;
  CopyAllRows(*source, copy);
  const TField* copyKey = copy.FindField(key->FieldName());
  std::vector<const TField*> shown;
  for (const TColumn* column : master.Columns()) {
    shown.push_back(copy.FindField(column->FieldName()));
    index.headers.push_back(title.empty() ? column->TitleText() : title + " - " + column->TitleText());
  }
  for (int r = 1; r <= copy.RecordCount(); ++r) {
    copy.SetDisplayRow(r);
    std::vector<std::string> texts;
    for (const TField* field : shown) texts.push_back(field != nullptr ? field->Text(true) : std::string());
    index.byKey.emplace(copyKey->AsString(), std::move(texts));
  }
  copy.SetDisplayRow(0);
  return index;
}

}  // namespace

ExportTable ListExport::FromGridAllRows(const TDBGrid& grid, const TDBGrid* master, const std::string& masterTitle) {
  const auto* source = dynamic_cast<const TClientDataSet*>(grid.DataSet());
  if (source == nullptr || !source->Active()) return FromGrid(grid);
  // A copy with the same fields, display rules and every row, unfiltered.
  TClientDataSet copy;
  CopyAllRows(*source, copy);

  ExportTable table;
  table.headers = Headers(grid);
  std::vector<const TField*> fields;
  for (const TColumn* column : grid.Columns()) fields.push_back(copy.FindField(column->FieldName()));
  // The rows of every product need the field the filter selects by (the product key) to be told
  // apart: it leads the table when no column shows it.
  const std::string& filter = source->Filter();
  size_t end = 0;
  while (end < filter.size() && (std::isalnum(static_cast<unsigned char>(filter[end])) || filter[end] == '_')) ++end;
  const TField* key = end > 0 ? copy.FindField(filter.substr(0, end)) : nullptr;
  if (key != nullptr && std::find(fields.begin(), fields.end(), key) != fields.end()) key = nullptr;
  const MasterIndex masterIndex = master && key ? IndexMaster(*master, masterTitle, FilterValue(filter)) : MasterIndex{};
  const bool byMaster = !masterIndex.headers.empty();
  if (byMaster) {
    table.headers.insert(table.headers.begin(), masterIndex.headers.begin(), masterIndex.headers.end());
  } else if (key != nullptr) {
    fields.insert(fields.begin(), key);
    table.headers.insert(table.headers.begin(), key->DisplayName());
  }
  const int rows = copy.RecordCount();
  table.rows.reserve(static_cast<size_t>(rows));
  for (int r = 1; r <= rows; ++r) {
    copy.SetDisplayRow(r);
    std::vector<std::string>& row = table.rows.emplace_back();
    if (byMaster) {
      const auto found = masterIndex.byKey.find(key->AsString());
      if (found != masterIndex.byKey.end()) {
        row = found->second;
      } else {
        row.assign(masterIndex.headers.size(), std::string());
        row.front() = key->AsString();
      }
    }
    for (const TField* field : fields) row.push_back(field != nullptr ? field->Text(true) : std::string());
  }
  copy.SetDisplayRow(0);
  return table;
}

void ListExport::Write(const ExportTable& table, const std::string& path) {
  if (FormatOf(path) == Format::Csv) {
    WriteCsv(table, path);
  } else {
    WriteXlsx(table, path);
  }
}

std::string ListExport::CsvCell(const std::string& text) {
  std::string cell = Clean(text);
  if (!cell.empty() && (cell[0] == '=' || cell[0] == '+' || cell[0] == '-' || cell[0] == '@')) cell = "'" + cell;
  const bool quote = cell.find_first_of(";\"\r\n") != std::string::npos ||
                     (!cell.empty() && (cell.front() == ' ' || cell.back() == ' ' || cell.front() == '\t' ||
                                        cell.back() == '\t'));
  if (!quote) return cell;
  std::string out = "\"";
  for (const char c : cell) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
}

void ListExport::WriteCsv(const ExportTable& table, const std::string& path) {
  const std::string temporary = path + ".part";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) throw EPlatformError("não foi possível criar " + path);
    out << "\xEF\xBB\xBF";
    const auto line = [&out](const std::vector<std::string>& cells) {
      for (size_t i = 0; i < cells.size(); ++i) {
        if (i > 0) out << ';';
        out << CsvCell(cells[i]);
      }
      out << "\r\n";
    };
    line(table.headers);
    for (const auto& row : table.rows) line(row);
    out.flush();
    if (!out) {
      out.close();
      std::remove(temporary.c_str());
      throw EPlatformError("não foi possível gravar " + path);
    }
  }
  Publish(temporary, path);
}

void ListExport::WriteXlsx(const ExportTable& table, const std::string& path, const std::string& sheetName) {
  const std::string temporary = path + ".part";
  lxw_workbook* book = workbook_new(temporary.c_str());
  if (book == nullptr) throw EPlatformError("não foi possível criar " + path);
  std::string sheet = Clean(Clean(sheetName.empty() ? std::string("Lista") : sheetName).substr(0, 31));
  for (char& c : sheet) {
    if (std::string_view("[]:*?/\\").find(c) != std::string_view::npos) c = '_';
  }
  lxw_worksheet* ws = workbook_add_worksheet(book, sheet.c_str());
  lxw_format* bold = workbook_add_format(book);
  format_set_bold(bold);
  std::vector<size_t> widths(table.headers.size(), 8);
  const auto put = [&](lxw_row_t r, const std::vector<std::string>& cells, lxw_format* format) {
    for (size_t c = 0; c < cells.size() && c < 16384; ++c) {
      const std::string text = Clean(Clean(cells[c]).substr(0, 32767));
      worksheet_write_string(ws, r, static_cast<lxw_col_t>(c), text.c_str(), format);
      if (c < widths.size()) widths[c] = std::max(widths[c], std::min<size_t>(text.size(), 60));
    }
  };
  put(0, table.headers, bold);
  for (size_t r = 0; r < table.rows.size() && r + 1 < 1048576; ++r) put(static_cast<lxw_row_t>(r + 1), table.rows[r], nullptr);
  for (size_t c = 0; c < widths.size(); ++c) {
    worksheet_set_column(ws, static_cast<lxw_col_t>(c), static_cast<lxw_col_t>(c), static_cast<double>(widths[c]) + 2, nullptr);
  }
  worksheet_freeze_panes(ws, 1, 0);
  const lxw_error error = workbook_close(book);
  if (error != LXW_NO_ERROR) {
    std::remove(temporary.c_str());
    throw EPlatformError("não foi possível gravar " + path + ": " + lxw_strerror(error));
  }
  Publish(temporary, path);
}

}  // namespace host
