// ListPaste enters a pasted list of codes into a data grid, one row per code, through the same
// path as the keyboard: the grid's Insert key, the code typed character by character into the
// code column (so key filters and edit masks apply), the column left (the column exit validates),
// and the row posted (the record set's before-post and after-post rules validate, save and
// reload). The screen behind the grid cannot tell a pasted row from a typed one.
//
// While it runs, the host's dialogs are collected (CollectingHost) instead of shown; each row's
// outcome is "stored" or refused with the dialogs it raised, or unknown: the connection broke
// after the row was posted (its save, or the reload after it, was under way), so the server may
// or may not have stored it. Recheck reads the lists again and settles every unknown row. A refused row is abandoned as the
// user would (Esc), so the list is back in browse state before the next row. The run stops early,
// saying where, when:
//   - there are more than kMaxCodes codes: none is tried (the desktop says so before it asks);
//   - the progress callback asks to stop (checked between rows, never inside one);
//   - the server cannot be reached or a call fails on the way (ENetError or another failure that
//     is not a refusal): what was stored stays stored, nothing more is tried;
//   - a save was refused at the server and its row is left unsent in the record set (ChangeCount
//     above zero), since every later save would carry it and be refused too;
//   - the grid cannot start a row (read-only, not browsing).
//
// Used on the user-interface thread only. Intentionally copyable (it holds only a grid pointer).
// REQUIRES: host services are installed; the grid outlives the call of Run.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace host {

class TDBGrid;

// The outcome of one pasted code.
struct PasteLine {
  int number = 0;       // 1-based position among the codes
  std::string code;     // as pasted (trimmed)
  bool stored = false;
  // The connection broke after the row was posted: stored or not is not known (see Recheck).
  bool unknown = false;
  // Why it was refused or where the run stopped; when stored, empty, or how a recheck found it.
  std::string message;
  std::string value;    // the code field's value as posted (how the list holds it), for Recheck
};

struct PasteSummary {
  int total = 0;                 // codes given
  std::vector<PasteLine> lines;  // one per code tried, in order
  int stored = 0;
  int refused = 0;
  int unknown = 0;               // rows whose outcome is not known (PasteLine::unknown)
  bool stopped = false;          // the run ended before the last code
  std::string stopReason;        // why (empty when not stopped)
  bool unreachable = false;      // a call failed to reach the server (the run stopped there)

  // Where the rows went, for Recheck: the list's filter during the run (e.g. "CDPRODUTODES =
  // '100'", "" when unfiltered), and the master list's record set and key field holding its value.
  std::string filter;
  std::string masterSet;
  std::string masterKey;

  // "N stored, M refused", ", U unknown" when some are, and ", stopped at code K of T (CODE):
  // REASON" when it stopped.
  std::string Line() const;
};

class ListPaste {
 public:
  // The codes of pasted text: one per line (LF, CRLF or CR), blanks and tabs around each removed,
  // a spreadsheet cell's surrounding double quotes removed, blank lines ignored. A line holding
  // tabs (a row of several cells) gives its first cell.
  static std::vector<std::string> SplitCodes(std::string_view text);

  // The most codes one paste takes: a clerk's longest list. Past it nothing is pasted, so a
  // mistaken paste (a whole spreadsheet) cannot send a flood of saves.
  static constexpr std::size_t kMaxCodes = 20000;

  // Pastes into grid, typing into the column at codeColumn (0: the first column).
  explicit ListPaste(TDBGrid& grid, int codeColumn = 0) : grid_(&grid), codeColumn_(codeColumn) {}

  // Called before each row with the number of rows done and the total; returning false stops
  // the run there.
  using Progress = std::function<bool(int done, int total)>;

  // Enters every code (see the class comment). Never raises for a refused or failed row; the
  // summary says what happened to each.
  PasteSummary Run(const std::vector<std::string>& codes, const Progress& progress = {}) const;

  // Settles the unknown rows of summary (a no-op when there are none): reloads the lists through
  // the screen's Verificar button (the base screen's sbtVerificar), then marks each unknown row
  // stored when the list holds its value under the run's master record, else not stored
  // ("não gravado"), and counts it. The master record and the grid's tab and focus are put back
  // as the clerk had them. When the lists cannot be read again (the server still unreachable,
  // Verificar not available now) the rows stay unknown and their message says so. Never raises.
  void Recheck(PasteSummary& summary) const;

 private:
  TDBGrid* grid_;
  int codeColumn_;
};

}  // namespace host
