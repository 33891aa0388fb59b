// ListActions are the browser's commands on a screen's lists that live around the screen, as the
// desktop's ListCommands: pasting a list of codes into a list (host::ListPaste, so every row goes
// through the screen's own rules) and exporting a list to CSV or XLSX (host::ListExport), the file
// then handed to the browser as a download.
//
// A screen's lists are told apart by their record sets: the main list is the first grid whose
// record set is not filtered; a detail list is a grid over a filtered TClientDataSet, named by the
// caption of the tab sheet it lies on.
//
// Used on the page's one thread. Stateless; static members.
#pragma once

#include <string>

namespace host {
class TDBGrid;
class TForm;
}  // namespace host

namespace web {

class ListActions {
 public:
  ListActions() = delete;

  // The most codes one paste takes; a longer text is refused whole, with a message.
  static constexpr std::size_t kMaxPasteCodes = 20000;

  static host::TDBGrid* MainList(const host::TForm& form);
  static host::TDBGrid* DetailInView(const host::TForm& form);
  static bool IsDetailList(const host::TDBGrid& grid);
  // The caption of the tab sheet holding the grid ('&' removed), else the grid's name.
  static std::string ListName(const host::TDBGrid& grid);
  // The grid a list may be pasted into now; null with *why set to the reason (Portuguese).
  static host::TDBGrid* PasteTarget(const host::TForm& form, std::string* why);

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
