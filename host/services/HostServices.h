// HostServices is what the host application supplies to the screens it loads: its dialogs (error,
// question, pick list, search), its busy animation, and its settings. The desktop implements it
// with real dialogs; tests and the headless scenario runner use ScriptedHost.
//
// Screens do not call this interface directly: they call the platform's free functions of
// HostLib.h (MensErro, CheckResultServ, ActiveShowAvi, Pesquisar_Plus, ...), which dispatch to
// the installed host services.
//
// Thread rules: installed and called on the user-interface thread only. An implementation is
// owned by the host application and must outlive its installation. Not copyable or movable.
#pragma once

#include <string>

#include "host/text/MessageDialog.h"

namespace host {

class TForm;
class TDataSource;
class TDataSet;

class HostServices {
 public:
  HostServices() = default;
  HostServices(const HostServices&) = delete;
  HostServices& operator=(const HostServices&) = delete;
  virtual ~HostServices() = default;

  // ---- Dialogs --------------------------------------------------------------------------------

  // Shows the error dialog with text; returns when the user closed it.
  virtual void ShowError(const std::string& text) = 0;
  // Asks a modal question and returns the modal result (mrYes, mrNo, mrOk, ...).
  virtual int MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons,
                         int helpContext) = 0;
  // Shows what a failed remote result says (the server's message), before the failure is raised.
  virtual void ReportResultError(const std::string& text) = 0;
  // Modal pick list over the rows of source's data set, with text (the title / empty-list text).
  // Returns true when the user chose a row; the data set is then positioned on it. Returns false
  // when the dialog was closed without a choice; the position is then unspecified.
  virtual bool PickList(TDataSource* source, const std::string& text, bool flag1, bool flag2) = 0;
  // The search dialog over an open data set; nothing is read back.
  virtual void Search(TDataSet* dataSet) = 0;

  // ---- Busy animation -------------------------------------------------------------------------

  // Shows (or, when up, updates) the busy animation of `kind` over mainForm (may be null), with
  // caption when not empty. Callers go through ActiveShowAvi, which counts nesting.
  virtual void ShowAvi(TForm* mainForm, int kind, const std::string& caption) = 0;
  // Hides the busy animation. Called only while it is shown.
  virtual void HideAvi() = 0;

  // ---- Settings -------------------------------------------------------------------------------

  // Address (host name or IP) of the application server; "https://NAME" reaches it over TLS.
  virtual std::string WebURL() = 0;
  // Port of the application server.
  virtual int WebPort() = 0;
  // Edit mask for a picture type (0: the product code).
  virtual std::string DBPict(int pictType) = 0;
  // Path of the local read-only database file.
  virtual std::string LocalDatabasePath() = 0;
  // Access token the connections send to the application server ("" sends none).
  virtual std::string AccessToken() { return {}; }
  // CA certificate file (PEM) that a TLS server's certificate is verified against ("": the
  // system's CA store).
  virtual std::string CaFile() { return {}; }
  // True when the user explicitly allows sending the access token over plain HTTP to a server
  // that is not on loopback.
  virtual bool Insecure() { return false; }
  // True when the signed-in person may only look (role consulta): the forms keep Incluir and
  // Excluir disabled, so nobody types a row the server will refuse to store.
  virtual bool ReadOnlyAccess() { return false; }
};

}  // namespace host
