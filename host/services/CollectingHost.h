// CollectingHost wraps the installed host services for a run of many actions (pasting a list):
// the dialogs that would stop the user at every row (error messages, failed results, questions,
// pick lists) are collected instead of shown, so the run can show them once, in a summary;
// everything else (the busy animation, the settings) goes on to the wrapped services.
//
// Questions are answered No (or Cancel when the dialog has no No), pick lists closed without a
// choice, search dialogs skipped: the choice that changes nothing. Each is collected as text.
//
// ScopedHostServices installs a host (such as a CollectingHost) for the life of a scope and puts
// back the one installed before on every path.
//
// Thread rules: used on the user-interface thread only. Neither class is copyable or movable.
// REQUIRES: the wrapped services outlive the CollectingHost.
#pragma once

#include <string>
#include <vector>

#include "host/services/HostServices.h"

namespace host {

class CollectingHost : public HostServices {
 public:
  explicit CollectingHost(HostServices& inner) : inner_(inner) {}

  // The dialogs collected since the last Clear, in order: a message's text, or
  // "question: TEXT" for a question.
  const std::vector<std::string>& Collected() const { return collected_; }
  void Clear() { collected_.clear(); }

  void ShowError(const std::string& text) override { collected_.push_back(text); }
  void ReportResultError(const std::string& text) override { collected_.push_back(text); }
  int MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext) override;
  bool PickList(TDataSource* source, const std::string& text, bool flag1, bool flag2) override;
  void Search(TDataSet* dataSet) override;
  void ShowAvi(TForm* mainForm, int kind, const std::string& caption) override {
    inner_.ShowAvi(mainForm, kind, caption);
  }
  void HideAvi() override { inner_.HideAvi(); }
  std::string WebURL() override { return inner_.WebURL(); }
  int WebPort() override { return inner_.WebPort(); }
  std::string DBPict(int pictType) override { return inner_.DBPict(pictType); }
  std::string LocalDatabasePath() override { return inner_.LocalDatabasePath(); }
  std::string AccessToken() override { return inner_.AccessToken(); }
  bool ReadOnlyAccess() override { return inner_.ReadOnlyAccess(); }

 private:
  HostServices& inner_;
  std::vector<std::string> collected_;
};

class ScopedHostServices {
 public:
  // Installs services. REQUIRES: host services are installed (they are put back at the end).
  explicit ScopedHostServices(HostServices& services);
  ~ScopedHostServices();
  ScopedHostServices(const ScopedHostServices&) = delete;
  ScopedHostServices& operator=(const ScopedHostServices&) = delete;

 private:
  HostServices& previous_;
};

}  // namespace host
