#include "host/tools/ListPaste.h"

#include "host/controls/DBGrid.h"
#include "host/data/ClientDataSet.h"
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

}  // namespace

std::string PasteSummary::Line() const {
  std::string out = std::to_string(stored) + " stored, " + std::to_string(refused) + " refused";
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

  for (size_t i = 0; i < codes.size(); ++i) {
    if (progress && !progress(static_cast<int>(i), summary.total)) {
      stop("interrompido pelo usuário");
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
      if (dataSet->State() == TDataSetState::dsInsert) dataSet->Post();
    } catch (const EAbort&) {
      end = RowEnd::Refused;
    } catch (const ERemoteError& e) {
      end = RowEnd::Refused;
      failure = e.what();
    } catch (const ENetError& e) {
      end = RowEnd::Stop;
      failure = e.what();
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
      const std::string reason = pending ? line.message + " (a linha ficou pendente; Verificar recarrega a lista)"
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

}  // namespace host
