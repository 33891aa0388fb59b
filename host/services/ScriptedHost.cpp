#include "host/services/ScriptedHost.h"

#include "host/data/DataSource.h"

namespace host {

ScriptedHost::ScriptedHost(std::ostream* out) : out_(out) {}

void ScriptedHost::Write(std::string line) {
  if (out_) *out_ << line << '\n' << std::flush;
  log_.push_back(std::move(line));
}

void ScriptedHost::QueueAnswer(bool yes) { answers_.push_back(yes); }
void ScriptedHost::QueuePick(int n) { picks_.push_back(n); }
void ScriptedHost::QueuePickNone() { picks_.push_back(std::nullopt); }

void ScriptedHost::ShowError(const std::string& text) { Write("message: " + text); }

void ScriptedHost::ReportResultError(const std::string& text) { Write("message: " + text); }

int ScriptedHost::MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons,
                             int helpContext) {
  (void)type;
  (void)helpContext;
  bool yes = false;
  if (!answers_.empty()) {
    yes = answers_.front();
    answers_.pop_front();
  }
  Write("question: " + text + (yes ? " -> yes" : " -> no"));
  if (yes) return !buttons.Contains(mbYes) && buttons.Contains(mbOK) ? mrOk : mrYes;
  return !buttons.Contains(mbNo) && buttons.Contains(mbCancel) ? mrCancel : mrNo;
}

bool ScriptedHost::PickList(TDataSource* source, const std::string& text, bool flag1,
                            bool flag2) {
  (void)flag1;
  (void)flag2;
  std::optional<int> pick;
  if (!picks_.empty()) {
    pick = picks_.front();
    picks_.pop_front();
  }
  if (!pick) {
    Write("picklist: " + text + " -> none");
    return false;
  }
  TDataSet* dataSet = source ? source->DataSet() : nullptr;
  if (!dataSet) throw EPlatformError("Lista de escolha \"" + text + "\" sem conjunto de dados");
  if (*pick < 1 || *pick > dataSet->RecordCount()) {
    throw EPlatformError("Lista de escolha \"" + text + "\": a linha " + std::to_string(*pick) +
                         " não existe (" + std::to_string(dataSet->RecordCount()) + " linhas)");
  }
  dataSet->SetRecNo(*pick);
  Write("picklist: " + text + " -> " + std::to_string(*pick));
  return true;
}

void ScriptedHost::Search(TDataSet* dataSet) {
  Write("search: " + (dataSet ? dataSet->Name() : std::string()));
}

void ScriptedHost::ShowAvi(TForm* mainForm, int kind, const std::string& caption) {
  (void)mainForm;
  busy_ = true;
  ++busyShows_;
  Write("busy: on " + std::to_string(kind) + (caption.empty() ? "" : " " + caption));
}

void ScriptedHost::HideAvi() {
  if (!busy_) return;
  busy_ = false;
  ++busyHides_;
  Write("busy: off");
}

std::string ScriptedHost::DBPict(int pictType) {
  auto it = pictures_.find(pictType);
  return it == pictures_.end() ? std::string() : it->second;
}

}  // namespace host
