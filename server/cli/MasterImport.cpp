#include "server/cli/MasterImport.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <stdexcept>
#include <unordered_map>

#include "host/wire/EscapedText.h"
#include "host/wire/PacketWriter.h"
#include "server/service/TaxpayerNumber.h"
#include "server/store/SqliteDatabase.h"
#include "server/store/StoreSchema.h"
#include "server/store/StoreTransaction.h"

namespace server {
namespace {

namespace fs = std::filesystem;

// Faults listed at most; the rest are counted.
constexpr size_t kMostFaults = 100;

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The table a CSV file's name names ("fornecedor.csv" -> Supplier), if any.
std::optional<ListKind> TableOfFile(const fs::path& path) {
  if (Upper(path.extension().string()) != ".CSV") return std::nullopt;
  const std::string stem = Upper(path.stem().string());
  for (const ListKind kind : kListKinds) {
    if (stem == TablesOf(kind).master.name) return kind;
  }
  return std::nullopt;
}

bool IsSqliteFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char head[16] = {};
  in.read(head, sizeof head);
  return in.gcount() == 16 && std::string_view(head, 16) == std::string_view("SQLite format 3\0", 16);
}

// One row of a source, its cells in the master table's column order, and where it is.
struct SourceRow {
  std::string where;  // "FILE:LINE"
  std::vector<std::string> cells;
  std::string fault;  // set when the row cannot be read as cells (wrong count, broken quoting)
};

// A table's rows from one file, one at a time.
class RowSource {
 public:
  virtual ~RowSource() = default;
  virtual bool Next(SourceRow& row) = 0;
};

// A CSV file read record by record (see MasterImport.h). The header is read at construction and
// mapped onto the table's columns.
class CsvSource final : public RowSource {
 public:
  CsvSource(const std::string& path, const StoreTable& table) : path_(path), in_(path, std::ios::binary) {
    if (!in_) throw std::runtime_error("cannot read " + path);
    std::vector<std::string> header;
    int line = 0;
    std::string fault;
    if (!Record(header, line, fault, true)) throw std::runtime_error(path + ":1: the file is empty; its first row names the columns");
    if (!fault.empty()) throw std::runtime_error(path + ":" + std::to_string(line) + ": " + fault);
    places_.assign(table.columns.size(), SIZE_MAX);
    for (size_t i = 0; i < header.size(); ++i) {
      const std::string name = Upper(header[i]);
      size_t column = 0;
      while (column < table.columns.size() && name != table.columns[column].name) ++column;
      if (column == table.columns.size()) {
        throw std::runtime_error(path + ":1: unknown column \"" + host::wire::EscapedText(header[i], 40) +
                                 "\"; the columns of " + table.name + " are " + table.ColumnList());
      }
      if (places_[column] != SIZE_MAX) throw std::runtime_error(path + ":1: the column " + name + " appears twice");
      places_[column] = i;
    }
    for (size_t column = 0; column < table.columns.size(); ++column) {
      if (places_[column] == SIZE_MAX) {
        throw std::runtime_error(path + ":1: the column " + std::string(table.columns[column].name) +
                                 " is missing; the columns of " + table.name + " are " + table.ColumnList());
      }
    }
    width_ = header.size();
  }

  bool Next(SourceRow& row) override {
    std::vector<std::string> cells;
    int line = 0;
    std::string fault;
    for (;;) {
      if (!Record(cells, line, fault, false)) return false;
      if (fault.empty() && cells.size() == 1 && cells[0].empty()) continue;  // a blank line
      break;
    }
    row.where = path_ + ":" + std::to_string(line);
    row.fault = fault;
    row.cells.clear();
    if (fault.empty() && cells.size() != width_) {
      row.fault = std::to_string(cells.size()) + (cells.size() == 1 ? " cell" : " cells") + " where the header has " +
                  std::to_string(width_);
    }
    if (!row.fault.empty()) return true;
    for (const size_t place : places_) row.cells.push_back(std::move(cells[place]));
    return true;
  }

 private:
  // Reads the next byte; false at the end of the file.
  bool Get(char& c) {
    if (at_ == buffer_.size()) {
      buffer_.resize(1 << 20);
      in_.read(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
      buffer_.resize(static_cast<size_t>(in_.gcount()));
      at_ = 0;
      if (buffer_.empty()) return false;
    }
    c = buffer_[at_++];
    return true;
  }
  bool Peek(char& c) {
    if (!Get(c)) return false;
    --at_;
    return true;
  }

  // Reads one record into cells; line is the line it starts on. false at the end of the file.
  bool Record(std::vector<std::string>& cells, int& line, std::string& fault, bool header) {
    cells.clear();
    fault.clear();
    char c = 0;
    if (!Peek(c)) return false;
    line = ++line_;
    if (header && buffer_.compare(at_, 3, "\xEF\xBB\xBF") == 0) at_ += 3;  // the byte-order mark
    std::string cell;
    bool quoted = false;     // inside a quoted cell
    bool wasQuoted = false;  // the cell began with a quote
    for (;;) {
      if (!Get(c)) {
        if (quoted) fault = "a quoted cell that never ends";
        break;
      }
      if (quoted) {
        if (c == '"') {
          char next = 0;
          if (Peek(next) && next == '"') {
            Get(next);
            cell += '"';
          } else {
            quoted = false;
          }
        } else {
          if (c == '\n') ++line_;
          cell += c;
        }
        continue;
      }
      if (c == '\n') break;
      if (c == '\r') {
        char next = 0;
        if (Peek(next) && next == '\n') continue;
      }
      if (header && separator_ == 0 && (c == ';' || c == ',')) separator_ = c;
      if (c == separator_) {
        cells.push_back(std::move(cell));
        cell.clear();
        wasQuoted = false;
        continue;
      }
      if (c == '"' && cell.empty() && !wasQuoted) {
        quoted = wasQuoted = true;
        continue;
      }
      if (wasQuoted && fault.empty()) fault = "text after the closing quote of a cell";
      cell += c;
    }
    cells.push_back(std::move(cell));
    return true;
  }

  std::string path_;
  std::ifstream in_;
  std::string buffer_;
  size_t at_ = 0;
  int line_ = 0;
  char separator_ = 0;
  size_t width_ = 0;
  std::vector<size_t> places_;  // for each table column, its cell
};

// A table of a file in the local database's format.
class SqliteSource final : public RowSource {
 public:
  SqliteSource(SqliteDatabase& db, const std::string& path, const StoreTable& table)
      : path_(path), table_(table.name), statement_([&] {
          try {
            return db.Prepare("SELECT " + table.ColumnList() + " FROM " + table.name);
          } catch (const ESqliteError& e) {
            throw std::runtime_error(path + ": the table " + table.name + " needs the columns " + table.ColumnList() +
                                     " (" + e.what() + ")");
          }
        }()),
        width_(table.columns.size()) {}

  bool Next(SourceRow& row) override {
    if (!statement_.Step()) return false;
    row.where = path_ + ":" + table_ + ":" + std::to_string(++number_);
    row.fault.clear();
    row.cells.clear();
    for (size_t i = 0; i < width_; ++i) row.cells.emplace_back(statement_.Text(static_cast<int>(i)));
    return true;
  }

 private:
  std::string path_;
  std::string table_;
  SqliteStatement statement_;
  size_t width_;
  int64_t number_ = 0;
};

// What one table's rows are checked against.
struct TableRules {
  size_t key = 0;                      // the key column
  std::optional<size_t> personType;    // IDTPIJUR…, for suppliers and clients
  std::optional<size_t> taxpayer;      // NRINSJUR…
};

TableRules RulesOf(ListKind kind) {
  const StoreTable& table = TablesOf(kind).master;
  const auto place = [&](std::string_view name) -> std::optional<size_t> {
    for (size_t i = 0; i < table.columns.size(); ++i) {
      if (name == table.columns[i].name) return i;
    }
    return std::nullopt;
  };
  TableRules rules;
  rules.key = place(TablesOf(kind).Key()).value();
  if (kind == ListKind::Supplier || kind == ListKind::Client) {
    rules.personType = place(kind == ListKind::Supplier ? "IDTPIJURFORN" : "IDTPIJURCLIE");
    rules.taxpayer = place(kind == ListKind::Supplier ? "NRINSJURFORN" : "NRINSJURCLIE");
  }
  return rules;
}

// Collects faults and warnings, keeping the first kMostFaults of the faults.
class Findings {
 public:
  explicit Findings(MasterImportReport& report) : report_(report) {}
  void Fault(const std::string& where, const std::string& why) {
    if (report_.faults.size() < kMostFaults) {
      report_.faults.push_back(where + ": " + why);
    } else {
      ++unlisted_;
    }
  }
  void Warning(const std::string& where, const std::string& why) {
    if (report_.warnings.size() < kMostFaults) report_.warnings.push_back(where + ": warning: " + why);
  }
  void Close() {
    if (unlisted_ > 0) report_.faults.push_back("… and " + std::to_string(unlisted_) + " more faults");
  }
  bool Any() const { return !report_.faults.empty() || unlisted_ > 0; }

 private:
  MasterImportReport& report_;
  size_t unlisted_ = 0;
};

// Checks one row: returns false (noting why) when it refuses the import.
bool CheckRow(const SourceRow& row, const StoreTable& table, const TableRules& rules,
              std::unordered_map<std::string, std::string>& seen, Findings& findings) {
  if (!row.fault.empty()) {
    findings.Fault(row.where, row.fault);
    return false;
  }
  for (size_t i = 0; i < row.cells.size(); ++i) {
    if (host::wire::PacketWriter::SanitizeUtf8(row.cells[i]) != row.cells[i]) {
      findings.Fault(row.where, std::string(table.columns[i].name) + " holds bytes that are not UTF-8 (" +
                                    host::wire::EscapedText(row.cells[i], 40) + "); save the file as UTF-8");
      return false;
    }
  }
  const std::string& key = row.cells[rules.key];
  const char* keyName = table.columns[rules.key].name;
  if (key.empty()) {
    findings.Fault(row.where, std::string("empty key ") + keyName);
    return false;
  }
  if (host::wire::HasControlCharacter(key)) {
    findings.Fault(row.where, std::string("the key ") + keyName + " " + host::wire::EscapedText(key, 40) +
                                  " holds a control character");
    return false;
  }
  const auto [first, added] = seen.emplace(key, row.where);
  if (!added) {
    findings.Fault(row.where, std::string("the key ") + keyName + " " + host::wire::EscapedText(key, 40) +
                                  " appears again (first at " + first->second + ")");
    return false;
  }
  if (rules.personType) {
    const std::string& type = row.cells[*rules.personType];
    const char* typeName = table.columns[*rules.personType].name;
    if (type != "F" && type != "J") {
      findings.Fault(row.where, std::string("person type ") + typeName + " \"" + host::wire::EscapedText(type, 10) +
                                    "\"; F (CPF) or J (CNPJ) expected");
      return false;
    }
    const std::string& number = row.cells[*rules.taxpayer];
    const bool valid = type == "F" ? TaxpayerNumber::IsValidCpf(number) : TaxpayerNumber::IsValidCnpj(number);
    if (!valid) {
      findings.Warning(row.where, std::string(table.columns[*rules.taxpayer].name) + " \"" +
                                      host::wire::EscapedText(number, 30) + "\" is not a valid " +
                                      (type == "F" ? "CPF" : "CNPJ") + " (its check digits fail); imported as it is");
    }
  }
  return true;
}

// The CSV files the paths stand for, by table.
std::map<ListKind, std::string> CsvFiles(const std::vector<std::string>& paths) {
  std::map<ListKind, std::string> files;
  const auto add = [&files](ListKind kind, const std::string& path) {
    const auto [at, added] = files.emplace(kind, path);
    if (!added) {
      throw std::runtime_error("the table " + std::string(TablesOf(kind).master.name) + " is given twice: " +
                               at->second + " and " + path);
    }
  };
  for (const std::string& path : paths) {
    if (fs::is_directory(path)) {
      size_t found = 0;
      for (const auto& entry : fs::directory_iterator(path)) {
        if (const auto kind = TableOfFile(entry.path()); kind && entry.is_regular_file()) {
          add(*kind, entry.path().string());
          ++found;
        }
      }
      if (found == 0) throw std::runtime_error(path + " holds none of PRODUTO.csv, FORNECEDOR.csv, CLIENTE.csv, FILIAL.csv");
      continue;
    }
    if (!fs::exists(path)) throw std::runtime_error("no file at " + path);
    const auto kind = TableOfFile(path);
    if (!kind) {
      throw std::runtime_error(path + ": a CSV file is named after its table: PRODUTO.csv, FORNECEDOR.csv, "
                               "CLIENTE.csv or FILIAL.csv (or give one file in the local database's format)");
    }
    add(*kind, path);
  }
  return files;
}

}  // namespace

MasterImportReport MasterImport::Run(StoreSession& session, const std::vector<std::string>& paths) {
  MasterImportReport report;
  Findings findings(report);

  // The sources, by table, in the store's order.
  std::optional<SqliteDatabase> sqlite;
  std::map<ListKind, std::unique_ptr<RowSource>> sources;
  std::map<ListKind, std::string> names;
  if (paths.size() == 1 && fs::is_regular_file(paths[0]) && IsSqliteFile(paths[0])) {
    sqlite.emplace(paths[0], SqliteDatabase::Mode::ReadOnly);
    for (const ListKind kind : kListKinds) {
      const StoreTable& table = TablesOf(kind).master;
      SqliteStatement present = sqlite->Prepare(std::string("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = '") +
                                                table.name + "'");
      if (!present.Step()) continue;
      sources[kind] = std::make_unique<SqliteSource>(*sqlite, paths[0], table);
      names[kind] = paths[0];
    }
    if (sources.empty()) {
      throw std::runtime_error(paths[0] + " holds none of the tables PRODUTO, FORNECEDOR, CLIENTE, FILIAL");
    }
  } else {
    for (const auto& [kind, path] : CsvFiles(paths)) {
      sources[kind] = std::make_unique<CsvSource>(path, TablesOf(kind).master);
      names[kind] = path;
    }
  }

  StoreTransaction transaction(session, StoreTransaction::Kind::Write);
  for (auto& [kind, source] : sources) {
    const StoreTable& table = TablesOf(kind).master;
    const TableRules rules = RulesOf(kind);
    MasterImportReport::Table done{table.name, names[kind]};
    // Rows go to the store while none is at fault; after a fault the rest is only checked, so that
    // every fault is listed, and the transaction is rolled back.
    const int64_t before = findings.Any() ? 0 : session.CountMaster(kind);
    std::unique_ptr<RowSink> sink = findings.Any() ? nullptr : session.PutMasters(kind);
    std::unordered_map<std::string, std::string> seen;
    std::vector<std::string_view> values;
    SourceRow row;
    while (source->Next(row)) {
      if (!CheckRow(row, table, rules, seen, findings)) sink.reset();
      if (!sink) continue;
      values.assign(row.cells.begin(), row.cells.end());
      sink->Add(values);
    }
    if (sink) {
      done.stored = sink->Finish();
      done.added = session.CountMaster(kind) - before;
    }
    report.tables.push_back(std::move(done));
  }
  findings.Close();
  if (report.Refused()) return report;  // the transaction rolls back
  session.MasterDataChanged();
  transaction.Commit();
  return report;
}

}  // namespace server
