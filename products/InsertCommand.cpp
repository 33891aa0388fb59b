// The insert command: one button starts a new row in the list that has the focus, or in the
// related list whose grid is the sender (the product's before-post rule calls it that way).
#include "screen/ProdDesoneraImpos.h"

namespace pdi07310 {

using host::TDataSetState;

void TfrmProdDesoneraImpos::sbtIncluirClick(TObject* sender) {
  host::TControl* active = ActiveControl();
  host::TTabSheet* page = pgcGrade->ActivePage();
  const bool senderIsRelatedGrid = sender == dbgFornecedor || sender == dbgCliente || sender == dbgFilial;

  if ((active == dbgPadrao && !senderIsRelatedGrid) || active == pgcGrade) {
    StartRow(dtsPadrao, nullptr);
  }
  // Tested in this order: supplier, branch, client.
  for (RelatedKind kind : {RelatedKind::Fornecedor, RelatedKind::Filial, RelatedKind::Cliente}) {
    RelatedList& list = Related(kind);
    if (sender == list.Grid() || (active == list.Grid() && page == list.Page())) {
      StartRow(list.Source(), &list);
    }
  }
}

void TfrmProdDesoneraImpos::StartRow(TDataSource* source, RelatedList* related) {
  TDataSet* dataSet = source != nullptr ? source->DataSet() : nullptr;
  if (dataSet == nullptr || dataSet->State() != TDataSetState::dsBrowse) return;

  // The cursor goes to the first field carrying the key-field mark (an odd tag).
  for (host::TField* field : dataSet->Fields()) {
    if ((field->Tag & 1) != 0) {
      field->FocusControl();
      break;
    }
  }
  if (related != nullptr) {
    for (const char* other : related->Members().otherPages) Find<host::TTabSheet>(other)->SetEnabled(false);
    related->Grid()->SetFocus();
  }
  // Entering a related grid while a product is being entered starts the row by itself; a
  // second Insert would abandon that row, so only a list still browsing gets one.
  if (dataSet->State() == TDataSetState::dsBrowse) dataSet->Insert();
}

}  // namespace pdi07310
