// The three fixed sequences in which the screen calls the remote service: the load frame, the
// save frame and the check frame. Every raw answer passes the host's result check before it is
// used, and the busy animation is shown while the screen waits.
#include "host/controls/Application.h"
#include "host/net/NetConnection.h"
#include "host/services/HostLib.h"
#include "host/wire/JsonRpcError.h"
#include "screen/ProdDesoneraImpos.h"

namespace pdi07310 {

using host::Variant;

namespace {
// Kinds of the busy animation.
constexpr int kAviLoadSave = 6;
constexpr int kAviValidate = 1;

// The methods that answer a related list's changes since a list version, by RelatedKind.
const char* const kSinceMethods[] = {"getFornecedorDesde", "getClienteDesde", "getFilialDesde"};

// True when a call failed because the server has no such method (a server of an earlier release).
bool NotServed(const host::ENetError& e) { return e.RpcCode() == host::wire::rpc_code::kMethodNotFound; }
}  // namespace

Variant TfrmProdDesoneraImpos::RemoteCall(const std::string& method, const std::vector<Variant>& args) {
  return host::CheckResultServ(netProdDeso->Call(method, args), true, 0);
}

std::string TfrmProdDesoneraImpos::ListVersionNow() {
  if (changesRefused_) return {};
  try {
    return RemoteCall("getVersaoListas", {}).AsText();
  } catch (const host::ENetError& e) {
    if (!NotServed(e)) throw;
    changesRefused_ = true;
    return {};
  }
}

void TfrmProdDesoneraImpos::LoadFrame(const std::string& method,
                                      const std::vector<TClientDataSet*>& targets) {
  host::ActiveShowAvi(host::Application().MainForm(), kAviLoadSave);
  try {
    // The version is read before the lists: a save that lands between the two is read again by
    // the next refresh, never missed (a refresh replaces a product's rows whole).
    const std::string version = targets.size() > 1 ? ListVersionNow() : std::string();
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
      for (RelatedList& list : related_) list.SetVersion(version);
    }
  } catch (...) {
    host::DeactiveShowAvi();
    throw;
  }
}

void TfrmProdDesoneraImpos::ReloadFrame(RelatedList& list) {
  TClientDataSet& cds = *list.DataSet();
  // Only a list holding the rows of the version it knows, and nothing else, can be refreshed by
  // changes: one with changes not merged (a save refused) is read whole, as a reload always was.
  const bool asLoaded = cds.Active() && cds.State() == host::TDataSetState::dsBrowse && cds.ChangeCount() == 0;
  if (changesRefused_ || list.Version().empty() || !asLoaded) {
    list.SetVersion({});
    const std::string version = ListVersionNow();
    LoadFrame(list.Members().reloadMethod, {&cds});
    list.SetVersion(version);
    return;
  }
  host::ActiveShowAvi(host::Application().MainForm(), kAviLoadSave);
  try {
    Variant data;
    try {
      data = RemoteCall(kSinceMethods[static_cast<int>(list.Members().kind)], {Variant::FromText(list.Version())});
    } catch (const host::ENetError& e) {
      if (!NotServed(e)) throw;
      // A server of an earlier release behind the same address: whole lists from now on.
      changesRefused_ = true;
      host::DeactiveShowAvi();
      ReloadFrame(list);
      return;
    }
    // [version now, whole, changed product keys, packet]
    list.SetVersion({});
    if (data[1].AsBool()) {
      cds.SetData(data[3]);
    } else {
      std::vector<std::string> products;
      products.reserve(data[2].Count());
      for (std::size_t i = 0; i < data[2].Count(); ++i) products.push_back(data[2][i].AsText());
      cds.RefreshRows(data[3], "CDPRODUTODES", products);
    }
    list.SetVersion(data[0].AsText());
    host::DeactiveShowAvi();
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
