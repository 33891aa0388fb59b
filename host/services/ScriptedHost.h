// ScriptedHost is a headless HostServices for tests and the headless scenario runner. It answers
// questions and pick lists from queues filled in advance, keeps settings as plain values, and
// writes one log line per dialog or animation change, in exactly these forms:
//
//   message: TEXT                  error dialog (MensErro) or failed result report
//   question: TEXT -> yes|no       question (MessageDlg, TMessages::ShowMsg)
//   picklist: TEXT -> N|none       pick list (Pesquisar_Plus); N is the 1-based row chosen
//   search: NAME                   search dialog (Procura) over the data set NAME
//   busy: on KIND[ CAPTION]        busy animation shown (or updated while up)
//   busy: off                      busy animation hidden (only when it was shown)
//
// A question with no queued answer is answered no, a pick list with no queued pick none; both
// are logged as such. Texts are logged as given.
//
// Thread rules: used on the user-interface thread only. Not copyable or movable.
#pragma once

#include <deque>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "host/services/HostServices.h"

namespace host {

class ScriptedHost : public HostServices {
 public:
  // Log lines go to `out` as well when it is not null. REQUIRES: out outlives this host.
  explicit ScriptedHost(std::ostream* out = nullptr);

  // ---- Script ---------------------------------------------------------------------------------

  // Queues the answer of the next question: yes (mrYes, or mrOk when the dialog has no Yes
  // button) or no (mrNo, or mrCancel when the dialog has no No button but a Cancel one).
  void QueueAnswer(bool yes);
  // Queues the choice of the next pick list: row n (1-based) of the pick source's data set.
  void QueuePick(int n);
  // Queues a pick list closed without a choice.
  void QueuePickNone();
  std::size_t PendingAnswers() const { return answers_.size(); }
  std::size_t PendingPicks() const { return picks_.size(); }

  // ---- Settings -------------------------------------------------------------------------------

  void SetWebURL(std::string url) { webURL_ = std::move(url); }
  void SetWebPort(int port) { webPort_ = port; }
  // Sets the mask of a picture type; types never set give "".
  void SetDBPict(int pictType, std::string mask) { pictures_[pictType] = std::move(mask); }
  void SetLocalDatabasePath(std::string path) { localDatabasePath_ = std::move(path); }
  void SetAccessToken(std::string token) { accessToken_ = std::move(token); }
  void SetCaFile(std::string path) { caFile_ = std::move(path); }
  void SetInsecure(bool insecure) { insecure_ = insecure; }
  void SetReadOnlyAccess(bool readOnly) { readOnly_ = readOnly; }

  // ---- What happened --------------------------------------------------------------------------

  // Every log line so far, in order.
  const std::vector<std::string>& Log() const { return log_; }
  void ClearLog() { log_.clear(); }
  bool BusyShown() const { return busy_; }
  int BusyShows() const { return busyShows_; }
  int BusyHides() const { return busyHides_; }

  // ---- HostServices ---------------------------------------------------------------------------

  void ShowError(const std::string& text) override;
  int MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons,
                 int helpContext) override;
  void ReportResultError(const std::string& text) override;
  // Moves the data set of source to the queued row and returns true, or returns false for a
  // queued "none" or an empty queue. Raises EPlatformError when source has no data set or the
  // queued row is outside 1..RecordCount (a script that does not fit the data).
  bool PickList(TDataSource* source, const std::string& text, bool flag1, bool flag2) override;
  void Search(TDataSet* dataSet) override;
  void ShowAvi(TForm* mainForm, int kind, const std::string& caption) override;
  void HideAvi() override;
  std::string WebURL() override { return webURL_; }
  int WebPort() override { return webPort_; }
  std::string DBPict(int pictType) override;
  std::string LocalDatabasePath() override { return localDatabasePath_; }
  std::string AccessToken() override { return accessToken_; }
  std::string CaFile() override { return caFile_; }
  bool Insecure() override { return insecure_; }
  bool ReadOnlyAccess() override { return readOnly_; }

 private:
  void Write(std::string line);

  std::ostream* out_;
  std::vector<std::string> log_;
  std::deque<bool> answers_;
  std::deque<std::optional<int>> picks_;
  bool busy_ = false;
  int busyShows_ = 0;
  int busyHides_ = 0;
  std::string webURL_ = "127.0.0.1";
  int webPort_ = 8470;
  std::map<int, std::string> pictures_{{0, "9999999999;0;_"}};
  std::string localDatabasePath_;
  std::string accessToken_;
  std::string caFile_;
  bool insecure_ = false;
  bool readOnly_ = false;
};

}  // namespace host
