// TfrmProdDesoneraImpos: the screen "Produtos para Desoneração de Impostos" (PDI07310).
//
// The screen keeps the list of products that carry a tax exemption (cdsProduto) and, for the
// product under the cursor, three related lists: suppliers (cdsFornecedor), clients
// (cdsCliente) and branches (cdsFilial). It derives from the host's standard grid screen; its
// components come from the description "TFRMPRODDESONERAIMPOS" and its event handlers are bound
// by name from the table built in the constructor.
//
// The class is one screen, but its logic is spread by subject:
//   screen/    creation, connection and closing (this file's .cpp)
//   remote/    the load, save and check frames around every remote call
//   products/  loading and browsing, product entry, toolbar commands, enabling, insert
//   related/   the family of three related lists (one implementation driven by a table of
//              members), grid navigation and pick lists, taxpayer-number display
//
// Used on the user-interface thread only. Owned by the application object; not copyable.
#pragma once

#include <array>
#include <functional>
#include <vector>
#include <string>
#include <string_view>

#include "host/controls/ButtonFlat.h"
#include "host/controls/DBGrid.h"
#include "host/controls/MenuItem.h"
#include "host/controls/PageControl.h"
#include "host/controls/TabSheet.h"
#include "host/data/ClientDataSet.h"
#include "host/data/DataSource.h"
#include "host/db/ADOIBQuery.h"
#include "host/forms/HandlerTable.h"
#include "host/forms/FrmPadraoGrid.h"
#include "host/net/NetConnection.h"
#include "host/text/Messages.h"
#include "related/RelatedList.h"

namespace pdi07310 {

using host::TClientDataSet;
using host::TDataSource;
using host::TDBGrid;
using host::TObject;
using host::TDataSet;

class TfrmProdDesoneraImpos : public host::TfrmPadraoGrid {
 public:
  explicit TfrmProdDesoneraImpos(host::TComponent* owner = nullptr);
  ~TfrmProdDesoneraImpos() override;

  // Loads the description, binds the handlers and runs the creation handler.
  void Initialize() override;

  // ---- lifecycle (screen/) ----
  void FormCreate(TObject* sender) override;
  void FormClose(TObject* sender, host::TCloseAction& action) override;
  void netProdDesoBeforeConnect(TObject* sender);

  // ---- loading and browsing (products/Loading.cpp) ----
  void getDados();
  void getFornecedor();
  void getCliente();
  void getFilial();
  void cdsProdutoAfterScroll(TDataSet* dataSet);

  // ---- product entry (products/ProductEntry.cpp) ----
  void Vd_Produto(bool emptyIsError);
  void cdsProdutoBeforeEdit(TDataSet* dataSet);
  void cdsProdutoBeforePost(TDataSet* dataSet);
  void cdsProdutoAfterCancel(TDataSet* dataSet);

  // ---- toolbar commands (products/ToolbarCommands.cpp, products/InsertCommand.cpp) ----
  void sbtIncluirClick(TObject* sender) override;
  void sbtExcluirClick(TObject* sender) override;
  void sbtConfirmarClick(TObject* sender) override;
  void sbtCancelarClick(TObject* sender) override;
  void sbtVerificarClick(TObject* sender) override;
  void sbtProcurarClick(TObject* sender) override;
  void cdsProdutoAfterDelete(TDataSet* dataSet);

  // ---- enabling (products/Enabling.cpp) ----
  void dtsPadraoStateChange(TObject* sender) override;
  void dtsFornecedorStateChange(TObject* sender);
  void dtsClienteStateChange(TObject* sender);
  void dtsFilialStateChange(TObject* sender);

  // ---- related lists (related/) ----
  void Vd_Fornecedor(bool emptyIsError);
  void Vd_Cliente(bool emptyIsError);
  void Vd_Filial(bool emptyIsError);

  // ---- grid navigation of the product grid (related/GridNavigation.cpp) ----
  void dbgPadraoEditButtonClick(TObject* sender);
  void dbgPadraoColExit(TObject* sender);
  void dbgPadraoEnter(TObject* sender);
  void dbgPadraoExit(TObject* sender);
  void pgcGradeMouseDown(TObject* sender, host::TMouseButton button, host::TShiftState shift,
                         int x, int y);

  // ---- taxpayer-number display and unmasking (related/TaxpayerDisplay.cpp) ----
  static std::string RetSemMascara(std::string_view code);

  // The text of a message key of the screen's message table (keys match regardless of case;
  // keys it lacks come from the host's common messages).
  std::string Msg(const std::string& key) const;

  // The related list of a family member; the order is supplier, client, branch.
  RelatedList& Related(RelatedKind kind) { return related_[static_cast<int>(kind)]; }

  // The component of the description with this name and type. Raises EPlatformError when it
  // is missing or of another type.
  template <class T>
  T* Find(const std::string& name);

  // Test hook: reload related lists whole from now on, as at a server of an earlier release that
  // does not answer their changes (so a test can compare the two ways of reloading).
  void TEST_ReadListsWhole() { changesRefused_ = true; }

  // Components the rules use, resolved after the description is loaded.
  TClientDataSet* cdsProduto = nullptr;
  TClientDataSet* cdsFornecedor = nullptr;
  TClientDataSet* cdsCliente = nullptr;
  TClientDataSet* cdsFilial = nullptr;
  TClientDataSet* cdsVd_Produto = nullptr;
  TDataSource* dtsFornecedor = nullptr;
  TDataSource* dtsCliente = nullptr;
  TDataSource* dtsFilial = nullptr;
  TDataSource* dtsProduto = nullptr;
  TDBGrid* dbgFornecedor = nullptr;
  TDBGrid* dbgCliente = nullptr;
  TDBGrid* dbgFilial = nullptr;
  host::TPageControl* pgcGrade = nullptr;
  host::TTabSheet* tshFornecedor = nullptr;
  host::TTabSheet* tshCliente = nullptr;
  host::TTabSheet* tshFilial = nullptr;
  host::TADOIBQuery* qryProduto = nullptr;
  host::TADOIBQuery* qryValidaProd = nullptr;
  host::TNetConnection* netProdDeso = nullptr;
  host::TField* cdsProdutoCDARVPROD = nullptr;
  host::TField* cdsProdutoCDPRODUTO = nullptr;
  host::TField* qryProdutoCDARVPROD = nullptr;

 private:
  friend class RelatedList;

  // The table of published handlers, bound by name by the description loader.
  host::HandlerTable BuildHandlers();
  void ResolveComponents();

  void AddTaxpayerHandlers(host::HandlerTable& table);

  // Remote frames (remote/RemoteFrames.cpp).
  // Calls a method and passes its raw answer through the host's result check.
  host::Variant RemoteCall(const std::string& method, const std::vector<host::Variant>& args);
  // The load frame: one list (its packet) or the full load (element i into targets[i]); after the
  // full load the related lists hold the list version read before it, when the server tells one.
  void LoadFrame(const std::string& method, const std::vector<TClientDataSet*>& targets);
  // The load frame of one related list after a save or a check: refreshed by the rows of the
  // products changed since the list version it holds, or read whole (see RelatedList::Reload);
  // the same frame, messages and resulting list either way.
  void ReloadFrame(RelatedList& list);
  // The list version now (getVersaoListas), or "" at a server that does not tell it (an earlier
  // release), which is then not asked again.
  std::string ListVersionNow();
  // The save frame: sends the pending changes of dataSet; on success runs onSuccess, then merges
  // dataSet's change log. Returns false, doing nothing, when there is no pending change.
  bool SaveFrame(TClientDataSet& dataSet, const std::string& method,
                 const std::function<void()>& onSuccess);
  // The check frame: calls a validation method and loads its answer into scratch.
  void CheckFrame(const std::string& method, const std::vector<host::Variant>& args,
                  TClientDataSet& scratch);

  // Starts a new row in a list (the insert command's step); related is null for products.
  void StartRow(TDataSource* source, RelatedList* related);
  TDataSource* RelatedSourceOfActivePage() const;
  // Focuses the product grid's code column after a refusal (selecting column 0 first when
  // asked), with the column exit's validation held off meanwhile.
  void FocusProductCode(bool selectFirstColumn);

  std::array<RelatedList, 3> related_;
  bool refusingProduct_ = false;  // a refusal is moving the focus to the product code column
  bool changesRefused_ = false;   // the server does not answer list versions: reload lists whole
};

}  // namespace pdi07310
