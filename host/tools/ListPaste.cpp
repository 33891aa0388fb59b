#include "host/tools/ListPaste.h"

#include <set>

#include "host/controls/ButtonFlat.h"
#include "host/controls/DBGrid.h"
#include "host/controls/PageControl.h"
#include "host/controls/TabSheet.h"
#include "host/data/ClientDataSet.h"
#include "host/data/FilterExpression.h"
#include "host/net/NetConnection.h"
#include "host/services/CollectingHost.h"
#include "host/services/HostLib.h"

namespace host {
namespace {

std::string_view TrimBlanks(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// Length of the UTF-8 character starting with byte c (1 for a byte that starts none, so a bad
// byte is typed alone and refused by the grid).
size_t CharLength(unsigned char c) {
  if (c >= 0xF0 && c < 0xF8) return 4;
  if (c >= 0xE0) return c < 0xF0 ? 3 : 1;
  if (c >= 0xC0) return 2;
  return 1;
}

// The collected dialogs of one row as one message.
std::string Joined(const std::vector<std::string>& dialogs, const std::string& fallback) {
  std::string out;
  for (const std::string& text : dialogs) {
    if (text.empty()) continue;
    if (!out.empty()) out += " / ";
    out += text;
  }
  return out.empty() ? fallback : out;
}

// How a row ended.
enum class RowEnd { Stored, Refused, Stop };

// Said of a row whose save may or may not have reached the server.
constexpr std::string_view kUnknownNote = " (não se sabe se o servidor gravou o código)";

// The value a filter "FIELD = 'VALUE'" selects, and its field; both empty for no filter.
FilterExpression ParsedFilter(const std::string& filter) {
  try {
    if (!filter.empty()) return FilterExpression::Parse(filter);
  } catch (const std::exception&) {
  }
  return {};
}

// An unfiltered copy of every row of source, for reading rows without moving it.
void CopyAllRows(const TClientDataSet& source, TClientDataSet& copy) {
  for (const TField* field : source.Fields()) copy.AddField(field->FieldName(), field->Size());
  copy.SetData(source.Data());
}

// Records in summary the run's master list: the unfiltered record set of the grid's owner whose
// current record holds the list's filter value (a hidden field first, as a key is).
void NoteMaster(const TDBGrid& grid, PasteSummary& summary) {
  const auto* list = dynamic_cast<const TClientDataSet*>(grid.DataSet());
  if (list == nullptr || !list->Filtered() || grid.Owner() == nullptr) return;
  summary.filter = list->Filter();
  const std::string value = ParsedFilter(summary.filter).Value();
  if (value.empty()) return;
  for (const bool hidden : {true, false}) {
    for (TComponent* component : grid.Owner()->Components()) {
      const auto* set = dynamic_cast<const TClientDataSet*>(component);
      if (set == nullptr || set == list || set->Filtered() || !set->Active() || set->RecordCount() == 0) continue;
      for (const TField* field : set->Fields()) {
        if (field->Visible != hidden && field->AsString() == value) {
          summary.masterSet = set->Name();
          summary.masterKey = field->FieldName();
          return;
        }
      }
    }
  }
}

}  // namespace

std::string PasteSummary::Line() const {
  std::string out = std::to_string(stored) + " stored, " + std::to_string(refused) + " refused";
  if (unknown > 0) out += ", " + std::to_string(unknown) + " unknown";
  if (!stopped) return out;
  const bool atFailedCode = !lines.empty() && !lines.back().stored && lines.back().message == stopReason;
  if (atFailedCode) {
    out += ", stopped at code " + std::to_string(lines.size()) + " of " + std::to_string(total) + " (" +
           lines.back().code + ")";
  } else {
    out += ", stopped before code " + std::to_string(lines.size() + 1) + " of " + std::to_string(total);
  }
  return out + ": " + stopReason;
}

std::vector<std::string> ListPaste::SplitCodes(std::string_view text) {
  std::vector<std::string> codes;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    const size_t tab = line.find('\t');
    if (tab != std::string_view::npos) line = line.substr(0, tab);
    line = TrimBlanks(line);
    if (line.size() >= 2 && line.front() == '"' && line.back() == '"') line = TrimBlanks(line.substr(1, line.size() - 2));
    if (!line.empty()) codes.emplace_back(line);
    if (end == text.size()) break;
    start = end + 1;
  }
  return codes;
}

PasteSummary ListPaste::Run(const std::vector<std::string>& codes, const Progress& progress) const {
  PasteSummary summary;
  summary.total = static_cast<int>(codes.size());
  if (codes.size() > kMaxCodes) {
    summary.stopped = true;
    summary.stopReason = "a lista tem " + std::to_string(codes.size()) + " códigos; cole no máximo " +
                         std::to_string(kMaxCodes) + " de cada vez. Nada foi incluído.";
    return summary;
  }
  TDBGrid& grid = *grid_;
  CollectingHost collector(Services());
  ScopedHostServices installed(collector);

  const auto stop = [&summary](std::string reason) {
    summary.stopped = true;
    summary.stopReason = std::move(reason);
  };
  NoteMaster(grid, summary);
  const std::vector<TColumn*> columns = grid.Columns();
  const std::string codeField =
      codeColumn_ >= 0 && codeColumn_ < static_cast<int>(columns.size()) ? columns[codeColumn_]->FieldName() : "";

  for (size_t i = 0; i < codes.size(); ++i) {
    if (progress && !progress(static_cast<int>(i), summary.total)) {
      stop("interrompido pelo usuário");
      break;
    }
    if (::host::ReadOnlyAccess()) {
      stop("o seu acesso é somente para consulta");
      break;
    }
    TDataSet* dataSet = grid.DataSet();
    if (dataSet == nullptr || grid.ReadOnly() || dataSet->State() != TDataSetState::dsBrowse) {
      stop("a lista não aceita inclusões agora");
      break;
    }
    PasteLine line;
    line.number = static_cast<int>(i) + 1;
    line.code = codes[i];
    collector.Clear();
    RowEnd end = RowEnd::Stored;
    std::string failure;
    bool posted = false;       // Post was called: the save may have reached the server
    bool unreachable = false;  // a call failed on the way to or from the server
    try {
      if (!grid.Focused()) grid.SetFocus();
      if (grid.SelectedIndex() != codeColumn_) grid.SetSelectedIndex(codeColumn_);
      grid.KeyDown(VK_INSERT);
      if (dataSet->State() != TDataSetState::dsInsert) {
        stop("a lista não iniciou uma linha nova");
        break;
      }
      // Typing: a character the grid cannot take refuses the row, not the run.
      try {
        for (size_t at = 0; at < line.code.size();) {
          const size_t n = std::min(CharLength(static_cast<unsigned char>(line.code[at])), line.code.size() - at);
          grid.TypeText(std::string_view(line.code).substr(at, n));
          at += n;
        }
      } catch (const EAbort&) {
        throw;
      } catch (const std::exception& e) {
        throw ERemoteError(std::string("código inválido: ") + e.what());
      }
      // Leaving the code column validates it; posting validates, saves and reloads.
      const int next = codeColumn_ + 1 < grid.ColumnCount() ? codeColumn_ + 1 : codeColumn_;
      if (next != codeColumn_) grid.SetSelectedIndex(next);
      if (dataSet->State() == TDataSetState::dsInsert) {
        if (const TField* field = codeField.empty() ? nullptr : dataSet->FindField(codeField)) line.value = field->AsString();
        posted = true;
        dataSet->Post();
      }
    } catch (const EAbort&) {
      end = RowEnd::Refused;
    } catch (const ERemoteError& e) {
      end = RowEnd::Refused;
      failure = e.what();
    } catch (const ENetError& e) {
      end = RowEnd::Stop;
      failure = e.what();
      unreachable = true;
    } catch (const std::exception& e) {
      end = RowEnd::Stop;
      failure = e.what();
    }
    // A refused row is abandoned as the user would: Esc. A refusal may itself have posted the row
    // locally and failed to send it; it then stays pending in the record set.
    try {
      if (dataSet->State() == TDataSetState::dsInsert || dataSet->State() == TDataSetState::dsEdit) grid.Escape();
    } catch (const std::exception& e) {
      if (end == RowEnd::Stored) end = RowEnd::Stop;
      if (failure.empty()) failure = e.what();
    }
    const auto* cds = dynamic_cast<const TClientDataSet*>(dataSet);
    const bool pending = cds != nullptr && cds->ChangeCount() > 0;
    if (end == RowEnd::Stored && (pending || !collector.Collected().empty())) end = RowEnd::Refused;
    if (end == RowEnd::Refused && pending) end = RowEnd::Stop;

    if (end == RowEnd::Stored) {
      line.stored = true;
      ++summary.stored;
      summary.lines.push_back(std::move(line));
      continue;
    }
    line.message = Joined(collector.Collected(), failure.empty() ? "recusado" : failure);
    if (!failure.empty() && line.message.find(failure) == std::string::npos && end == RowEnd::Stop) {
      line.message += " / " + failure;
    }
    if (end == RowEnd::Stop) {
      summary.unreachable = summary.unreachable || unreachable;
      line.unknown = unreachable && posted;
      if (line.unknown) ++summary.unknown;
      const std::string reason = line.unknown ? line.message + std::string(kUnknownNote)
                                 : pending    ? line.message + " (a linha ficou pendente; Verificar recarrega a lista)"
                                              : line.message;
      line.message = reason;
      summary.lines.push_back(std::move(line));
      stop(reason);
      break;
    }
    ++summary.refused;
    summary.lines.push_back(std::move(line));
  }
  return summary;
}

void ListPaste::Recheck(PasteSummary& summary) const {
  if (summary.unknown == 0) return;
  TDBGrid& grid = *grid_;
  TComponent* owner = grid.Owner();
  CollectingHost collector(Services());
  ScopedHostServices installed(collector);
  std::string why;
  try {
    auto* verify = owner ? dynamic_cast<TButtonFlat*>(owner->FindComponent("sbtVerificar")) : nullptr;
    if (verify == nullptr) {
      why = "a tela não tem o comando Verificar";
    } else if (!verify->Click()) {
      why = "o comando Verificar não está disponível agora";
    }
  } catch (const EAbort&) {
    why = Joined(collector.Collected(), "a releitura foi interrompida");
  } catch (const std::exception& e) {
    why = e.what();
  }
  const auto* list = dynamic_cast<const TClientDataSet*>(grid.DataSet());
  if (why.empty() && (list == nullptr || !list->Active())) why = "a lista não pôde ser relida";
  if (!why.empty()) {
    for (PasteLine& line : summary.lines) {
      if (!line.unknown) continue;
      const bool atStop = line.message == summary.stopReason;
      line.message += "; a lista não pôde ser relida: " + why;
      if (atStop) summary.stopReason = line.message;
    }
    return;
  }

  // The values the list now holds under the run's master record.
  const FilterExpression filter = ParsedFilter(summary.filter);
  const std::vector<TColumn*> columns = grid.Columns();
  const std::string codeField =
      codeColumn_ >= 0 && codeColumn_ < static_cast<int>(columns.size()) ? columns[codeColumn_]->FieldName() : "";
  std::set<std::string> held;
  {
    TClientDataSet copy;
    CopyAllRows(*list, copy);
    const TField* code = copy.FindField(codeField);
    const TField* master = filter.FieldName().empty() ? nullptr : copy.FindField(filter.FieldName());
    for (int r = 1; code != nullptr && r <= copy.RecordCount(); ++r) {
      copy.SetDisplayRow(r);
      if (master == nullptr || master->AsString() == filter.Value()) held.insert(code->AsString());
    }
    copy.SetDisplayRow(0);
  }
  for (PasteLine& line : summary.lines) {
    if (!line.unknown) continue;
    line.unknown = false;
    --summary.unknown;
    if (held.count(line.value) != 0) {
      if (line.message == summary.stopReason && summary.stopReason.ends_with(kUnknownNote)) {
        summary.stopReason.resize(summary.stopReason.size() - kUnknownNote.size());
      }
      line.stored = true;
      ++summary.stored;
      line.message = "gravado, como mostrou a lista relida depois da falha de conexão";
    } else {
      const bool atStop = line.message == summary.stopReason;
      line.message += "; a lista relida mostra que não foi gravado";
      if (atStop) summary.stopReason = line.message;
    }
  }

  // The clerk's place again: the master record, the grid's tab, the focus.
  try {
    auto* master = owner && !summary.masterSet.empty() ? dynamic_cast<TClientDataSet*>(owner->FindComponent(summary.masterSet)) : nullptr;
    if (master != nullptr && master->Active()) {
      TClientDataSet copy;
      CopyAllRows(*master, copy);
      const TField* key = copy.FindField(summary.masterKey);
      for (int r = 1; key != nullptr && r <= copy.RecordCount(); ++r) {
        copy.SetDisplayRow(r);
        if (key->AsString() == filter.Value()) {
          if (master->RecNo() != r) master->SetRecNo(r);
          break;
        }
      }
      copy.SetDisplayRow(0);
    }
    for (TControl* parent = grid.Parent(); parent != nullptr; parent = parent->Parent()) {
      auto* tab = dynamic_cast<TTabSheet*>(parent);
      if (tab == nullptr) continue;
      if (tab->PageControl() != nullptr && tab->PageControl()->ActivePage() != tab) tab->PageControl()->PressTab(tab);
      break;
    }
    if (!grid.Focused()) grid.SetFocus();
  } catch (const std::exception&) {
    // The outcome is known; only the place could not be put back.
  }
}

}  // namespace host
