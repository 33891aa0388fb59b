// Toolbar and menu enabling: the product list's rule and the dispatch to the related lists'
// rules. Each rule derives everything from the lists' states, the focus and the active page.
#include "host/controls/GridUtils.h"
#include "screen/ProdDesoneraImpos.h"

namespace pdi07310 {

using host::TDataSetState;

void TfrmProdDesoneraImpos::dtsPadraoStateChange(TObject* /*sender*/) {
  const auto inserting = [](const TDataSource* source) {
    return source->State() == TDataSetState::dsInsert;
  };
  dbgPadrao->SetReadOnly(inserting(dtsFornecedor) || inserting(dtsCliente) || inserting(dtsFilial));

  const int codeColumn = host::IndiceCol(dbgPadrao, "CDARVPROD");
  if (codeColumn >= 0) {
    dbgPadrao->Columns()[codeColumn]->SetButtonStyle(inserting(dtsPadrao)
                                                           ? host::TColumnButtonStyle::cbsEllipsis
                                                           : host::TColumnButtonStyle::cbsNone);
  }

  const TDataSetState state = cdsProduto->State();
  const bool browsingRows = state == TDataSetState::dsBrowse && cdsProduto->RecordCount() > 0;
  sbtIncluir->SetEnabled(state == TDataSetState::dsInactive || state == TDataSetState::dsBrowse);
  sbtExcluir->SetEnabled(browsingRows && ActiveControl() != pgcGrade);
  sbtProcurar->SetEnabled(browsingRows && ActiveControl() != pgcGrade);
  sbtVerificar->SetEnabled(browsingRows);
  sbtConfirmar->SetEnabled(state == TDataSetState::dsInsert);
  sbtCancelar->SetEnabled(state == TDataSetState::dsInsert);
  sbtImprimir->SetEnabled(false);
  sbtAuxiliar->SetEnabled(false);
  CopyButtonsToMenu();
}

void TfrmProdDesoneraImpos::dtsFornecedorStateChange(TObject*) { Related(RelatedKind::Fornecedor).StateChange(); }
void TfrmProdDesoneraImpos::dtsClienteStateChange(TObject*) { Related(RelatedKind::Cliente).StateChange(); }
void TfrmProdDesoneraImpos::dtsFilialStateChange(TObject*) { Related(RelatedKind::Filial).StateChange(); }

}  // namespace pdi07310
