// Grid navigation of the product grid and the tab strip, and the validation entry points of the
// related lists. The related grids' own handlers are RelatedList's, bound by the family table.
#include "host/services/HostLib.h"
#include "screen/ProdDesoneraImpos.h"

namespace pdi07310 {

using host::TDataSetState;

void TfrmProdDesoneraImpos::Vd_Fornecedor(bool emptyIsError) { Related(RelatedKind::Fornecedor).Validate(emptyIsError); }
void TfrmProdDesoneraImpos::Vd_Cliente(bool emptyIsError) { Related(RelatedKind::Cliente).Validate(emptyIsError); }
void TfrmProdDesoneraImpos::Vd_Filial(bool emptyIsError) { Related(RelatedKind::Filial).Validate(emptyIsError); }

void TfrmProdDesoneraImpos::dbgPadraoEditButtonClick(TObject* /*sender*/) {
  host::TField* selected = dbgPadrao->SelectedField();
  if (selected == nullptr || selected->FieldName() != "CDARVPROD") return;
  qryProduto->Close();
  qryProduto->Open();
  if (!host::Pesquisar_Plus(dtsProduto, Msg("CdProd"), false, true)) return;
  cdsProdutoCDPRODUTO->SetAsString(qryProduto->FieldByName("CDPRODUTO")->AsString());
  cdsProdutoCDARVPROD->SetAsString(qryProduto->FieldByName("CDARVPROD")->AsString());
  cdsProduto->FieldByName("NMPRODUTO")->SetAsString(qryProduto->FieldByName("NMPRODUTO")->AsString());
}

void TfrmProdDesoneraImpos::dbgPadraoColExit(TObject* /*sender*/) {
  if (cdsProduto->State() == TDataSetState::dsInsert && !refusingProduct_) Vd_Produto(false);
}

void TfrmProdDesoneraImpos::dbgPadraoEnter(TObject* /*sender*/) {
  dtsPadraoStateChange(dtsPadrao);
  dbgPadrao->SetSelectedIndex(0);
}

void TfrmProdDesoneraImpos::dbgPadraoExit(TObject* /*sender*/) {
  if (cdsProduto->State() == TDataSetState::dsInsert) Vd_Produto(true);
}

void TfrmProdDesoneraImpos::pgcGradeMouseDown(TObject* /*sender*/, host::TMouseButton /*button*/,
                                              host::TShiftState /*shift*/, int /*x*/, int /*y*/) {
  const auto editing = [](const TDataSource* source) {
    const TDataSetState state = source->State();
    return state == TDataSetState::dsEdit || state == TDataSetState::dsInsert;
  };
  if (editing(dtsPadrao) || editing(dtsFornecedor) || editing(dtsCliente) || editing(dtsFilial)) return;
  dtsPadraoStateChange(dtsPadrao);
}

}  // namespace pdi07310
