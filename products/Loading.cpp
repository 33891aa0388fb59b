// Loading and browsing: the full load, the reloads of one related list, and the related-list
// filter that follows the current product. Moving through the products never calls the server.
#include "screen/ProdDesoneraImpos.h"
#include "screen/TextUtils.h"

namespace pdi07310 {

void TfrmProdDesoneraImpos::getDados() {
  LoadFrame("getDados", {cdsProduto, cdsFornecedor, cdsCliente, cdsFilial});
}

void TfrmProdDesoneraImpos::getFornecedor() { Related(RelatedKind::Fornecedor).Reload(); }
void TfrmProdDesoneraImpos::getCliente() { Related(RelatedKind::Cliente).Reload(); }
void TfrmProdDesoneraImpos::getFilial() { Related(RelatedKind::Filial).Reload(); }

void TfrmProdDesoneraImpos::cdsProdutoAfterScroll(TDataSet* /*dataSet*/) {
  // Each related list in turn: filter off, expression for the current key, filter on. Switching
  // the filter off and on makes the list re-evaluate its rows even when the key is unchanged.
  for (RelatedList& list : related_) {
    TClientDataSet& cds = *list.DataSet();
    cds.SetFiltered(false);
    cds.SetFilter("CDPRODUTODES = " + QuotedFilterText(cdsProdutoCDPRODUTO->AsString()));
    cds.SetFiltered(true);
  }
}

}  // namespace pdi07310
