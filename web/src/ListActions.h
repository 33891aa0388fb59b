// ListActions are the browser's commands on a screen's lists that live around the screen, as the
// desktop's ListCommands: pasting a list of codes into a list (host::ListPaste, so every row goes
// through the screen's own rules) and exporting a list to CSV or XLSX (host::ListExport), the file
// then handed to the browser as a download.
//
// Which list is which, and where a paste may go, host::ScreenLists says, for every host alike.
//
// Used on the page's one thread. Stateless; static members.
#pragma once

#include <string>

#include "host/tools/ListPaste.h"

namespace host {
class TDBGrid;
class TForm;
}  // namespace host

namespace web {

class ListActions {
 public:
  ListActions() = delete;

  // The most codes one paste takes; a longer text is refused whole, with a message.
  static constexpr std::size_t kMaxPasteCodes = host::ListPaste::kMaxCodes;

  // Pastes text (one code per line) into the list in focus: the page shows the progress with
  // "Parar" between rows, then a summary of every code with its outcome. Says why when nothing can
  // be pasted now.
  static void Paste(const host::TForm& form, const std::string& text);
  // Writes the chosen list ("main", "detail": the detail list in view, "detailAll": that list for
  // every product) in `format` ("csv" or "xlsx") into the module's file system and returns
  // {"file":PATH,"name":DOWNLOAD_NAME,"rows":N} for the page to offer as a download. Raises
  // EPlatformError with the reason when it cannot.
  static std::string Export(const host::TForm& form, const std::string& list, const std::string& format);
};

}  // namespace web
