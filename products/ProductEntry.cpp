// Product entry: validation of a typed product code (locally, then at the remote service), the
// refusal of edits of stored rows, the rule that a new product needs a related row before it is
// posted, and abandoning a new product.
#include "host/controls/GridUtils.h"
#include "host/services/HostLib.h"
#include "module/ModuleGlobals.h"
#include "screen/ProdDesoneraImpos.h"
#include "screen/TextUtils.h"

namespace pdi07310 {

using host::TDataSetState;

void TfrmProdDesoneraImpos::Vd_Produto(bool emptyIsError) {
  if (host::EmptyString(host::GridText(dbgPadrao, "CDARVPROD", false))) {
    if (!emptyIsError) return;
    FocusProductCode(true);
    host::MensErro(Msg("Inf_Prod"), true);
  }

  qryValidaProd->Close();
  const std::string code = RetSemMascara(Trim(host::GridText(dbgPadrao, "CDARVPROD", false)));
  qryValidaProd->ParamByName("P_CDARVPROD").SetAsString(code);
  qryValidaProd->Open();

  if (qryValidaProd->IsEmpty()) {
    FocusProductCode(false);
    host::MensErro(Msg("Prod_n_cad"), true);
  }
  // The stored code is the database's form of the code, not the typed text. When several
  // products share the code, the first row (smallest key) is the one used.
  cdsProdutoCDPRODUTO->SetAsString(qryValidaProd->FieldByName("CDPRODUTO")->AsString());
  cdsProdutoCDARVPROD->SetAsString(qryValidaProd->FieldByName("CDARVPROD")->AsString());
  cdsProduto->FieldByName("NMPRODUTO")->SetAsString(qryValidaProd->FieldByName("NMPRODUTO")->AsString());

  CheckFrame("getVd_Produto", {host::Variant::FromText(qryValidaProd->FieldByName("CDPRODUTO")->AsString())},
             *cdsVd_Produto);

  if (!cdsVd_Produto->IsEmpty() && cdsProduto->State() == TDataSetState::dsInsert) {
    FocusProductCode(false);
    host::MensErro(Msg("Prod_Cad"), true);
  }
}

void TfrmProdDesoneraImpos::FocusProductCode(bool selectFirstColumn) {
  // Moving to the code column runs the grid's column exit when the name column was selected;
  // that exit must not validate the refused code again and show the same refusal twice.
  const bool wasRefusing = refusingProduct_;
  refusingProduct_ = true;
  struct Restore {
    bool& flag;
    bool value;
    ~Restore() { flag = value; }
  } restore{refusingProduct_, wasRefusing};
  if (selectFirstColumn) dbgPadrao->SetSelectedIndex(0);
  cdsProdutoCDARVPROD->FocusControl();
}

void TfrmProdDesoneraImpos::cdsProdutoBeforeEdit(TDataSet* /*dataSet*/) { host::Abort(); }

void TfrmProdDesoneraImpos::cdsProdutoBeforePost(TDataSet* /*dataSet*/) {
  if (cdsProduto->State() != TDataSetState::dsInsert || !boValida) return;
  bool relatedRowDemanded = false;
  try {
    Vd_Produto(true);
    if (cdsCliente->IsEmpty() && cdsFornecedor->IsEmpty() && cdsFilial->IsEmpty()) {
      relatedRowDemanded = true;
      host::TTabSheet* page = pgcGrade->ActivePage();
      if (page == tshFornecedor) {
        dbgFornecedor->SetFocus();
        host::MensErro(Msg("Inf_F"), true);
      } else if (page == tshFilial) {
        dbgFilial->SetFocus();
        host::MensErro(Msg("Inf_Filial"), true);
      } else {
        dbgCliente->SetFocus();
        host::MensErro(Msg("Inf_Cliente"), true);
      }
    }
  } catch (...) {
    if (relatedRowDemanded) {
      // Start a row in the related list of the page in view, so the user can give it at once.
      host::TTabSheet* page = pgcGrade->ActivePage();
      if (page == tshFornecedor) {
        sbtIncluirClick(dbgFornecedor);
      } else if (page == tshCliente) {
        sbtIncluirClick(dbgCliente);
      } else if (page == tshFilial) {
        sbtIncluirClick(dbgFilial);
      }
    }
    throw;
  }
}

void TfrmProdDesoneraImpos::cdsProdutoAfterCancel(TDataSet* /*dataSet*/) {
  TDataSet* product = dtsPadrao->DataSet();
  if (product != nullptr && product->State() == TDataSetState::dsInsert) {
    // A new product is still pending: abandon it together with its related row.
    if (TDataSource* source = RelatedSourceOfActivePage()) {
      if (TDataSet* related = source->DataSet()) related->Cancel();
    }
    dbgPadrao->SetSelectedIndex(0);
    dbgPadrao->SetFocus();
    product->Cancel();
    getDados();
  }
  dtsPadraoStateChange(cdsProduto);
}

TDataSource* TfrmProdDesoneraImpos::RelatedSourceOfActivePage() const {
  host::TTabSheet* page = pgcGrade->ActivePage();
  if (page == tshFornecedor) return dtsFornecedor;
  if (page == tshCliente) return dtsCliente;
  if (page == tshFilial) return dtsFilial;
  return nullptr;
}

}  // namespace pdi07310
