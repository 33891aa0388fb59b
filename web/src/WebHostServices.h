// WebHostServices is what the browser page supplies to the screen, as QtHostServices is on the
// desktop: its dialogs (an alertdialog holding the message text, a question with the platform's
// buttons, the pick list and the search over a record set), its busy indicator and its settings
// (the server is the one that served the page; the local database is the copy the page keeps in
// the browser's storage).
//
// Every dialog is modal for the screen: the call waits (JsImports.h) until the clerk answered,
// and the screen goes on with the answer, as after a desktop dialog. While a pick list or a
// search is up, the page reads its rows through ModalRows (WebExports.cpp).
//
// Thread rules: the page's one thread. Installed once (Install); not copyable.
#pragma once

#include <memory>
#include <string>

#include "host/services/HostServices.h"
#include "web/src/RowTexts.h"

namespace web {

class WebHostServices : public host::HostServices {
 public:
  struct Settings {
    std::string url;          // the server as the connection names it ("https://NAME" over TLS)
    int port = 0;
    std::string token;        // "" when the session cookie (or nothing) gives access
    std::string productMask;  // the product code's edit mask
    std::string localPath;    // the local database, in the module's file system
  };

  explicit WebHostServices(Settings settings) : settings_(std::move(settings)) {}

  // Installs these services for the screens (host::SetHostServices). Once.
  void Install();
  static WebHostServices* Installed();

  void ShowError(const std::string& text) override;
  int MessageDlg(const std::string& text, host::TMsgDlgType type, host::TMsgDlgButtons buttons,
                 int helpContext) override;
  void ReportResultError(const std::string& text) override;
  bool PickList(host::TDataSource* source, const std::string& text, bool flag1, bool flag2) override;
  void Search(host::TDataSet* dataSet) override;
  void ShowAvi(host::TForm* mainForm, int kind, const std::string& caption) override;
  void HideAvi() override;

  std::string WebURL() override { return settings_.url; }
  int WebPort() override { return settings_.port; }
  std::string DBPict(int pictType) override { return pictType == 0 ? settings_.productMask : std::string(); }
  std::string LocalDatabasePath() override { return settings_.localPath; }
  std::string AccessToken() override { return settings_.token; }

  // True (once) when text is the message the last failed result check has already shown, so the
  // action runner does not show it a second time.
  bool ConsumeReported(const std::string& text);
  void ForgetReported() { reported_.clear(); }

  // The rows of the record set of the pick list or search that is up; null when none is.
  const RowTexts* ModalRows() const { return modalRows_.get(); }

  // A connection failure ("Falha ao … em HOST:PORT: REASON") in the clerk's words, its whole
  // text going to *details; any other text unchanged (details cleared).
  static std::string ClerkText(const std::string& text, std::string* details);

 private:
  // Shows the row dialog of `kind` over dataSet; returns the chosen row (1-based) or 0.
  int RowDialog(const char* kind, const char* title, const std::string& text, host::TDataSet& dataSet);

  Settings settings_;
  std::string reported_;
  std::unique_ptr<RowTexts> modalRows_;
};

}  // namespace web
