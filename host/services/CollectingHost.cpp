#include "host/services/CollectingHost.h"

#include "host/services/HostLib.h"

namespace host {

int CollectingHost::MessageDlg(const std::string& text, TMsgDlgType /*type*/, TMsgDlgButtons buttons,
                               int /*helpContext*/) {
  collected_.push_back("question: " + text);
  if (buttons.Contains(mbNo)) return mrNo;
  if (buttons.Contains(mbCancel)) return mrCancel;
  return mrOk;
}

bool CollectingHost::PickList(TDataSource* /*source*/, const std::string& text, bool /*flag1*/, bool /*flag2*/) {
  collected_.push_back("picklist: " + text);
  return false;
}

void CollectingHost::Search(TDataSet* /*dataSet*/) {}

ScopedHostServices::ScopedHostServices(HostServices& services) : previous_(Services()) {
  SetHostServices(&services);
}

ScopedHostServices::~ScopedHostServices() { SetHostServices(&previous_); }

}  // namespace host
