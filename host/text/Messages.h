// TMessages is a screen's message table: texts looked up by key, so that a screen's code names
// its messages and the texts live in its description.
//
// Each line is "key|text" or "key|title|text" (the text may itself hold further '|'). Keys match
// without regard to ASCII letter case ("Inf_Filial" finds "inf_Filial"). A key missing from a
// table is looked up in the host's common messages, TMessages::Common(); a key found in neither
// raises EMessageError naming it, because a dialog with an empty text is worse than an error.
//
// Thread rules: used on the user-interface thread only; Common() is process-wide and is meant to
// be filled once at start-up. Not copyable or movable (a component).
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/core/Component.h"
#include "host/text/MessageDialog.h"

namespace host {

// A message key found nowhere, or a malformed message line.
class EMessageError : public EPlatformError {
 public:
  using EPlatformError::EPlatformError;
};

class TMessages : public TComponent {
 public:
  explicit TMessages(std::string name = {}, TComponent* owner = nullptr);

  // Replaces the whole table. Blank lines are skipped and a trailing '\r' is dropped; blanks
  // around the key are ignored. Raises EMessageError, naming the table and the line, for a line
  // without '|', an empty key, or a key given twice (in any letter case); the table is then
  // left as it was.
  void SetLines(std::vector<std::string> lines);
  // The lines as given to SetLines.
  const std::vector<std::string>& Lines() const { return lines_; }

  // The text of key: from this table, else from Common(). Raises EMessageError naming the key
  // when neither holds it.
  std::string Msg(std::string_view key) const;
  // The title of key ("" for a "key|text" line), looked up as Msg does.
  std::string Title(std::string_view key) const;
  // True when this table or Common() holds key.
  bool Contains(std::string_view key) const;

  // Asks the question Msg(key) through the host services' message dialog and returns the modal
  // result (mrYes = 6, mrNo = 7, ...). Raises EMessageError for an unknown key and
  // EPlatformError when no host services are installed.
  int ShowMsg(std::string_view key, TMsgDlgType type, TMsgDlgButtons buttons,
              int helpContext) const;

  // The host's common messages, filled with the platform's generic texts ("Canc",
  // "Valida_dados", ...). A host may replace or extend them with SetLines.
  static TMessages& Common();

 private:
  struct Entry {
    std::string title;
    std::string text;
  };
  // The entry of key in this table only, or null.
  const Entry* Find(std::string_view key) const;
  const Entry& Lookup(std::string_view key) const;

  std::vector<std::string> lines_;
  std::unordered_map<std::string, Entry> entries_;  // by lower-case key
};

}  // namespace host
