// The three fixed sequences in which the screen calls the remote service: the load frame, the
// save frame and the check frame. Every raw answer passes the host's result check before it is
// used, and the busy animation is shown while the screen waits.
#include "host/controls/Application.h"
#include "host/services/HostLib.h"
#include "screen/ProdDesoneraImpos.h"

namespace pdi07310 {

using host::Variant;

namespace {
// Kinds of the busy animation.
constexpr int kAviLoadSave = 6;
constexpr int kAviValidate = 1;
}  // namespace

Variant TfrmProdDesoneraImpos::RemoteCall(const std::string& method, const std::vector<Variant>& args) {
  return host::CheckResultServ(netProdDeso->Call(method, args), true, 0);
}

void TfrmProdDesoneraImpos::LoadFrame(const std::string& method,
                                      const std::vector<TClientDataSet*>& targets) {
  host::ActiveShowAvi(host::Application().MainForm(), kAviLoadSave);
  try {
    const Variant data = RemoteCall(method, {});
    if (targets.size() == 1) {
      // One list: the answer is its data packet; loaded while the animation still shows.
      targets.front()->SetData(data);
      host::DeactiveShowAvi();
    } else {
      // The full load: element i goes into list i, in order, the product list first so that
      // its after-scroll filter is in place when the related lists open.
      host::DeactiveShowAvi();
      for (std::size_t i = 0; i < targets.size(); ++i) targets[i]->SetData(data[i]);
    }
  } catch (...) {
    host::DeactiveShowAvi();
    throw;
  }
}

bool TfrmProdDesoneraImpos::SaveFrame(TClientDataSet& dataSet, const std::string& method,
                                      const std::function<void()>& onSuccess) {
  if (dataSet.ChangeCount() <= 0) return false;
  host::ActiveShowAvi(host::Application().MainForm(), kAviLoadSave);
  try {
    RemoteCall(method, {dataSet.Delta()});
  } catch (...) {
    // The change log stays unmerged, so the next save sends these changes again. The
    // animation goes off here so that a refused save never leaves the screen looking busy.
    host::DeactiveShowAvi();
    throw;
  }
  host::DeactiveShowAvi();
  if (onSuccess) onSuccess();
  if (dataSet.LogChanges()) dataSet.MergeChangeLog();
  return true;
}

void TfrmProdDesoneraImpos::CheckFrame(const std::string& method, const std::vector<Variant>& args,
                                       TClientDataSet& scratch) {
  host::ActiveShowAvi(host::Application().MainForm(), kAviValidate, Msg("Valida_dados"));
  try {
    scratch.SetData(RemoteCall(method, args));
  } catch (...) {
    host::DeactiveShowAvi();
    throw;
  }
  host::DeactiveShowAvi();
}

}  // namespace pdi07310
