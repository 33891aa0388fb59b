#include "host/db/ADOIBQuery.h"

#include <sqlite3.h>

#include <memory>

#include <algorithm>

namespace host {

namespace {

struct Finalizer {
  void operator()(sqlite3_stmt* stmt) const noexcept { sqlite3_finalize(stmt); }
};
using Statement = std::unique_ptr<sqlite3_stmt, Finalizer>;

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

bool IsNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

// Number of UTF-8 characters of text (a stray byte counts as one).
int CharCount(std::string_view text) {
  int n = 0;
  for (char c : text) {
    if ((static_cast<unsigned char>(c) & 0xc0) != 0x80) ++n;
  }
  return n;
}

std::string ColumnText(sqlite3_stmt* stmt, int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
  if (!text) return {};
  return std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt, column)));
}

}  // namespace

TADOIBQuery::TADOIBQuery(std::string name, TComponent* owner)
    : TClientDataSet(std::move(name), owner) {
  SetReadOnly(true);
}

TADOIBQuery::~TADOIBQuery() = default;

TdtmDBGeral* TADOIBQuery::Database() const { return database_ ? database_ : &dtmDBGeral(); }

void TADOIBQuery::SetSQL(std::vector<std::string> lines) {
  Close();
  sql_ = std::move(lines);
  ParseParams();
}

std::string TADOIBQuery::SQLText() const {
  std::string text;
  for (std::size_t i = 0; i < sql_.size(); ++i) {
    if (i > 0) text += '\n';
    text += sql_[i];
  }
  return text;
}

void TADOIBQuery::ParseParams() {
  const std::string sql = SQLText();
  std::vector<TParam> params;
  auto skipTo = [&](std::size_t from, std::string_view end) {
    const std::size_t at = sql.find(end, from);
    return at == std::string::npos ? sql.size() : at + end.size();
  };
  for (std::size_t i = 0; i < sql.size();) {
    const char c = sql[i];
    if (c == '\'' || c == '"' || c == '`') {
      // A doubled quote inside is just two quoted runs in a row; the result is the same.
      i = skipTo(i + 1, std::string_view(&c, 1));
    } else if (c == '[') {
      i = skipTo(i + 1, "]");
    } else if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
      i = skipTo(i + 2, "\n");
    } else if (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*') {
      i = skipTo(i + 2, "*/");
    } else if (c == ':' && i + 1 < sql.size() && IsNameChar(sql[i + 1])) {
      std::size_t end = i + 1;
      while (end < sql.size() && IsNameChar(sql[end])) ++end;
      std::string name = sql.substr(i + 1, end - i - 1);
      bool known = false;
      for (const TParam& p : params) known = known || SameName(p.Name(), name);
      if (!known) {
        TParam param(name);
        if (const TParam* old = FindParam(name); old && !old->IsNull()) {
          param.SetAsString(old->AsString());
        }
        params.push_back(std::move(param));
      }
      i = end;
    } else {
      ++i;
    }
  }
  params_ = std::move(params);
}

TParam* TADOIBQuery::FindParam(std::string_view name) {
  for (TParam& p : params_) {
    if (SameName(p.Name(), name)) return &p;
  }
  return nullptr;
}

TParam& TADOIBQuery::ParamByName(std::string_view name) {
  if (TParam* p = FindParam(name)) return *p;
  throw EDatabaseError("A consulta " + Name() + " não tem o parâmetro " + std::string(name));
}

void TADOIBQuery::Open() {
  if (Active()) return;
  const std::string where = "Consulta " + (Name().empty() ? std::string("(sem nome)") : Name());
  sqlite3* db = Database()->Handle();
  const std::string sql = SQLText();

  sqlite3_stmt* raw = nullptr;
  const char* tail = nullptr;
  int rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size() + 1), &raw, &tail);
  Statement stmt(raw);
  if (rc == SQLITE_AUTH) {
    throw EDatabaseError(where + ": o banco de dados local é somente leitura; o comando não é " +
                         "permitido (" + sqlite3_errmsg(db) + ")");
  }
  if (rc != SQLITE_OK) {
    throw EDatabaseError(where + ": erro no SQL: " + sqlite3_errmsg(db));
  }
  if (!stmt) throw EDatabaseError(where + ": SQL vazio");
  // Anything but blanks and comments after the first statement is a second statement.
  if (tail && *tail) {
    sqlite3_stmt* rest = nullptr;
    const int trc = sqlite3_prepare_v2(db, tail, -1, &rest, nullptr);
    Statement second(rest);
    if (trc != SQLITE_OK || second) {
      throw EDatabaseError(where + ": o SQL deve ter um único comando");
    }
  }
  if (!sqlite3_stmt_readonly(stmt.get())) {
    throw EDatabaseError(where + ": o banco de dados local é somente leitura; o comando tenta " +
                         "alterá-lo");
  }

  // Bind every parameter by name.
  const int paramCount = sqlite3_bind_parameter_count(stmt.get());
  for (int i = 1; i <= paramCount; ++i) {
    const char* bound = sqlite3_bind_parameter_name(stmt.get(), i);
    if (!bound || bound[0] != ':') {
      throw EDatabaseError(where + ": só são aceitos parâmetros com nome (:NOME)");
    }
    const TParam* param = FindParam(bound + 1);
    if (!param) throw EDatabaseError(where + ": parâmetro desconhecido " + std::string(bound));
    const int brc = param->IsNull()
                        ? sqlite3_bind_null(stmt.get(), i)
                        : sqlite3_bind_text(stmt.get(), i, param->AsString().data(),
                                            static_cast<int>(param->AsString().size()),
                                            SQLITE_TRANSIENT);
    if (brc != SQLITE_OK) {
      throw EDatabaseError(where + ": parâmetro " + param->Name() + ": " + sqlite3_errmsg(db));
    }
  }

  const int columnCount = sqlite3_column_count(stmt.get());
  auto step = [&]() {
    const int src = sqlite3_step(stmt.get());
    if (src != SQLITE_ROW && src != SQLITE_DONE) {
      throw EDatabaseError(where + ": " + sqlite3_errmsg(db));
    }
    return src == SQLITE_ROW;
  };

  if (Fields().empty()) {
    // No declared fields: read everything first, then size each field to hold its longest value
    // (at least 255 characters, since the fields stay for later opens).
    std::vector<std::vector<std::string>> rows;
    std::vector<int> longest(static_cast<std::size_t>(columnCount), 255);
    while (step()) {
      std::vector<std::string>& row = rows.emplace_back();
      row.reserve(static_cast<std::size_t>(columnCount));
      for (int c = 0; c < columnCount; ++c) {
        row.push_back(ColumnText(stmt.get(), c));
        longest[static_cast<std::size_t>(c)] =
            std::max(longest[static_cast<std::size_t>(c)], CharCount(row.back()));
      }
    }
    for (int c = 0; c < columnCount; ++c) {
      const char* name = sqlite3_column_name(stmt.get(), c);
      AddField(name ? name : "COLUMN" + std::to_string(c + 1), longest[static_cast<std::size_t>(c)]);
    }
    BeginLoad();
    try {
      std::vector<std::string_view> values(static_cast<std::size_t>(columnCount));
      for (const auto& row : rows) {
        for (std::size_t c = 0; c < row.size(); ++c) values[c] = row[c];
        LoadRow(values);
      }
    } catch (...) {
      CancelLoad();
      throw;
    }
    EndLoad();
    return;
  }

  // Declared fields: each takes the result column of its name.
  std::vector<int> source;
  source.reserve(Fields().size());
  for (const TField* field : Fields()) {
    int found = -1;
    for (int c = 0; c < columnCount && found < 0; ++c) {
      const char* name = sqlite3_column_name(stmt.get(), c);
      if (name && SameName(name, field->FieldName())) found = c;
    }
    if (found < 0) {
      throw EDatabaseError(where + ": o resultado não tem a coluna do campo " +
                           field->FieldName());
    }
    source.push_back(found);
  }
  BeginLoad();
  try {
    std::vector<std::string_view> values(source.size());
    while (step()) {
      for (std::size_t f = 0; f < source.size(); ++f) {
        const auto* text =
            reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), source[f]));
        values[f] = text ? std::string_view(text, static_cast<std::size_t>(sqlite3_column_bytes(
                                                      stmt.get(), source[f])))
                         : std::string_view();
      }
      LoadRow(values);
    }
  } catch (...) {
    CancelLoad();
    throw;
  }
  EndLoad();
}

}  // namespace host
