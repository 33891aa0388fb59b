// Toolbar commands: delete, confirm, cancel, verify (reload) and search, and the sending of a
// product deletion. Delete, search and the first half of confirm act on the focused list; cancel
// and the second half of confirm act on every list being inserted.
#include "host/services/HostLib.h"
#include "host/text/Messages.h"
#include "screen/ProdDesoneraImpos.h"

namespace pdi07310 {

using host::TDataSetState;

namespace {
bool Inserting(const TDataSource* source) {
  return source != nullptr && source->DataSet() != nullptr &&
         source->DataSet()->State() == TDataSetState::dsInsert;
}
}  // namespace

void TfrmProdDesoneraImpos::sbtExcluirClick(TObject* /*sender*/) {
  host::TControl* active = ActiveControl();
  if (active == dbgPadrao) {
    if (host::MessageDlg(Msg("Excl_Prod"), host::TMsgDlgType::mtConfirmation,
                         {host::mbYes, host::mbNo}, 0) == host::mrYes) {
      cdsProduto->Delete();
    }
    dbgPadrao->SetFocus();
    getDados();
    dtsPadraoStateChange(this);
    return;
  }
  for (RelatedList& list : related_) {
    if (active != list.Grid()) continue;
    if (host::MessageDlg(Msg(list.Members().deleteQuestion), host::TMsgDlgType::mtConfirmation,
                         {host::mbYes, host::mbNo}, 0) != host::mrYes) {
      return;
    }
    list.DataSet()->Delete();
    // A product left without any related row leaves the exemption list with it.
    if (cdsCliente->IsEmpty() && cdsFilial->IsEmpty() && cdsFornecedor->IsEmpty()) {
      cdsProduto->Delete();
      dbgPadrao->SetFocus();
    }
    return;
  }
  host::Abort();
}

void TfrmProdDesoneraImpos::cdsProdutoAfterDelete(TDataSet* /*dataSet*/) {
  if (!SaveFrame(*cdsProduto, "SetProduto", nullptr)) return;
  dtsPadraoStateChange(cdsProduto);
}

void TfrmProdDesoneraImpos::sbtConfirmarClick(TObject* /*sender*/) {
  host::TControl* active = ActiveControl();
  if (active != dbgPadrao && active != dbgFornecedor && active != dbgCliente &&
      active != dbgFilial) {
    host::TTabSheet* page = pgcGrade->ActivePage();
    if (page == tshFornecedor) {
      host::MensErro(Msg("inf_F"), true);
    } else if (page == tshCliente) {
      host::MensErro(Msg("inf_Cliente"), true);
    } else if (page == tshFilial) {
      host::MensErro(Msg("inf_Filial"), true);
    }
    return;
  }

  if (active == dbgFornecedor) {
    Vd_Fornecedor(true);
  } else if (active == dbgCliente) {
    Vd_Cliente(true);
  } else if (active == dbgFilial) {
    Vd_Filial(true);
  } else {
    Vd_Produto(true);
    if (cdsProduto->State() == TDataSetState::dsInsert) cdsProduto->Post();
  }

  for (RelatedList& list : related_) {
    if (!list.Inserting()) continue;
    if (cdsProduto->State() == TDataSetState::dsInsert) cdsProduto->Post();
    list.DataSet()->Post();
    list.StateChange();
    list.Grid()->SetSelectedIndex(0);
  }
}

void TfrmProdDesoneraImpos::sbtCancelarClick(TObject* /*sender*/) {
  auto askCancel = [this] {
    return msgComum->ShowMsg("Canc", host::TMsgDlgType::mtConfirmation, {host::mbYes, host::mbNo},
                               0) == host::mrYes;
  };

  if (Inserting(dtsPadrao) && askCancel()) {
    if (TDataSource* source = RelatedSourceOfActivePage()) {
      if (TDataSet* related = source->DataSet()) related->Cancel();
    }
    dbgPadrao->SetSelectedIndex(0);
    dbgPadrao->SetFocus();
    dtsPadrao->DataSet()->Cancel();
    getDados();
  }

  for (RelatedList& list : related_) {
    if (!Inserting(list.Source())) continue;
    if (!askCancel()) host::Abort();
    list.Source()->DataSet()->Cancel();
    list.Reload();
  }

  tshFornecedor->SetEnabled(true);
  tshCliente->SetEnabled(true);
  tshFilial->SetEnabled(true);
  dtsPadraoStateChange(this);
}

void TfrmProdDesoneraImpos::sbtVerificarClick(TObject* /*sender*/) {
  if (Inserting(dtsPadrao) || Inserting(dtsFornecedor) || Inserting(dtsCliente) ||
      Inserting(dtsFilial)) {
    return;
  }
  getDados();
  pgcGrade->SetActivePage(tshFornecedor);
  dbgPadrao->SetFocus();
}

void TfrmProdDesoneraImpos::sbtProcurarClick(TObject* /*sender*/) {
  host::TControl* active = ActiveControl();
  TDataSource* source = dtsFilial;
  if (active == dbgPadrao) {
    source = dtsPadrao;
  } else if (active == dbgCliente) {
    source = dtsCliente;
  } else if (active == dbgFornecedor) {
    source = dtsFornecedor;
  }
  if (source->DataSet() != nullptr && source->DataSet()->Active()) host::Procura(source->DataSet());
}

}  // namespace pdi07310
