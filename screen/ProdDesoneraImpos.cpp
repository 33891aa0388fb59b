// The screen's creation, connection and closing, and the table of its published handlers.
#include "screen/ProdDesoneraImpos.h"

#include "host/controls/Application.h"
#include "host/services/HostLib.h"

namespace pdi07310 {

std::string_view ProdDesoneraImposDescription();  // the embedded description resource

namespace {
constexpr int kAviConnecting = 0;
}  // namespace

TfrmProdDesoneraImpos::TfrmProdDesoneraImpos(host::TComponent* owner) : TfrmPadraoGrid(owner) {
  for (std::size_t i = 0; i < related_.size(); ++i) related_[i].Attach(*this, kRelatedMembers[i]);
}

TfrmProdDesoneraImpos::~TfrmProdDesoneraImpos() = default;

void TfrmProdDesoneraImpos::Initialize() {
  InitializeForm(ProdDesoneraImposDescription(), BuildHandlers());
}

host::HandlerTable TfrmProdDesoneraImpos::BuildHandlers() {
  host::HandlerTable table;
  table.Add("FormCreate", this, &TfrmProdDesoneraImpos::FormCreate);
  table.Add("FormClose", this, &TfrmProdDesoneraImpos::FormClose);
  table.Add("netProdDesoBeforeConnect", this, &TfrmProdDesoneraImpos::netProdDesoBeforeConnect);
  table.Add("cdsProdutoAfterScroll", this, &TfrmProdDesoneraImpos::cdsProdutoAfterScroll);
  table.Add("cdsProdutoBeforeEdit", this, &TfrmProdDesoneraImpos::cdsProdutoBeforeEdit);
  table.Add("cdsProdutoBeforePost", this, &TfrmProdDesoneraImpos::cdsProdutoBeforePost);
  table.Add("cdsProdutoAfterCancel", this, &TfrmProdDesoneraImpos::cdsProdutoAfterCancel);
  table.Add("cdsProdutoAfterDelete", this, &TfrmProdDesoneraImpos::cdsProdutoAfterDelete);
  table.Add("sbtIncluirClick", this, &TfrmProdDesoneraImpos::sbtIncluirClick);
  table.Add("sbtExcluirClick", this, &TfrmProdDesoneraImpos::sbtExcluirClick);
  table.Add("sbtConfirmarClick", this, &TfrmProdDesoneraImpos::sbtConfirmarClick);
  table.Add("sbtCancelarClick", this, &TfrmProdDesoneraImpos::sbtCancelarClick);
  table.Add("sbtVerificarClick", this, &TfrmProdDesoneraImpos::sbtVerificarClick);
  table.Add("sbtProcurarClick", this, &TfrmProdDesoneraImpos::sbtProcurarClick);
  table.Add("dtsPadraoStateChange", this, &TfrmProdDesoneraImpos::dtsPadraoStateChange);
  table.Add("dbgPadraoEditButtonClick", this, &TfrmProdDesoneraImpos::dbgPadraoEditButtonClick);
  table.Add("dbgPadraoColExit", this, &TfrmProdDesoneraImpos::dbgPadraoColExit);
  table.Add("dbgPadraoEnter", this, &TfrmProdDesoneraImpos::dbgPadraoEnter);
  table.Add("dbgPadraoExit", this, &TfrmProdDesoneraImpos::dbgPadraoExit);
  table.Add("pgcGradeMouseDown", this, &TfrmProdDesoneraImpos::pgcGradeMouseDown);
  AddTaxpayerHandlers(table);
  for (RelatedList& list : related_) list.AddHandlers(table);
  return table;
}

template <class T>
T* TfrmProdDesoneraImpos::Find(const std::string& name) {
  T* found = dynamic_cast<T*>(FindComponent(name));
  if (found == nullptr) {
    throw host::EPlatformError("Componente '" + name + "' ausente ou de outro tipo na tela " + Name());
  }
  return found;
}

template host::TClientDataSet* TfrmProdDesoneraImpos::Find<host::TClientDataSet>(const std::string&);
template host::TDataSource* TfrmProdDesoneraImpos::Find<host::TDataSource>(const std::string&);
template host::TDBGrid* TfrmProdDesoneraImpos::Find<host::TDBGrid>(const std::string&);
template host::TTabSheet* TfrmProdDesoneraImpos::Find<host::TTabSheet>(const std::string&);
template host::TADOIBQuery* TfrmProdDesoneraImpos::Find<host::TADOIBQuery>(const std::string&);

void TfrmProdDesoneraImpos::ResolveComponents() {
  cdsProduto = Find<TClientDataSet>("cdsProduto");
  cdsFornecedor = Find<TClientDataSet>("cdsFornecedor");
  cdsCliente = Find<TClientDataSet>("cdsCliente");
  cdsFilial = Find<TClientDataSet>("cdsFilial");
  cdsVd_Produto = Find<TClientDataSet>("cdsVd_Produto");
  dtsFornecedor = Find<TDataSource>("dtsFornecedor");
  dtsCliente = Find<TDataSource>("dtsCliente");
  dtsFilial = Find<TDataSource>("dtsFilial");
  dtsProduto = Find<TDataSource>("dtsProduto");
  dbgFornecedor = Find<TDBGrid>("dbgFornecedor");
  dbgCliente = Find<TDBGrid>("dbgCliente");
  dbgFilial = Find<TDBGrid>("dbgFilial");
  pgcGrade = Find<host::TPageControl>("pgcGrade");
  tshFornecedor = Find<host::TTabSheet>("tshFornecedor");
  tshCliente = Find<host::TTabSheet>("tshCliente");
  tshFilial = Find<host::TTabSheet>("tshFilial");
  qryProduto = Find<host::TADOIBQuery>("qryProduto");
  qryValidaProd = Find<host::TADOIBQuery>("qryValidaProd");
  netProdDeso = Find<host::TNetConnection>("netProdDeso");
  cdsProdutoCDARVPROD = cdsProduto->FieldByName("CDARVPROD");
  cdsProdutoCDPRODUTO = cdsProduto->FieldByName("CDPRODUTO");
  qryProdutoCDARVPROD = qryProduto->FieldByName("CDARVPROD");
  for (RelatedList& list : related_) list.Resolve();
}

std::string TfrmProdDesoneraImpos::Msg(const std::string& key) const { return msgPadrao->Msg(key); }

void TfrmProdDesoneraImpos::FormCreate(TObject* sender) {
  ResolveComponents();
  TfrmPadraoGrid::FormCreate(sender);

  host::ActiveShowAvi(host::Application().MainForm(), kAviConnecting);
  try {
    netProdDeso->Open();
  } catch (...) {
    host::DeactiveShowAvi();
    throw;
  }
  // The load frame's hide also ends the connecting animation.
  getDados();

  cdsProdutoCDARVPROD->EditMask = host::DBPict(0);
  qryProdutoCDARVPROD->EditMask = host::DBPict(0);
  cdsProdutoCDPRODUTO->Tag = 1;
  cdsProdutoCDARVPROD->Tag = 1;
}

void TfrmProdDesoneraImpos::netProdDesoBeforeConnect(TObject* /*sender*/) {
  netProdDeso->SetHost(host::WebURL());
  netProdDeso->SetPort(host::WebPort());
}

void TfrmProdDesoneraImpos::FormClose(TObject* sender, host::TCloseAction& action) {
  TfrmPadraoGrid::FormClose(sender, action);
  netProdDeso->Close();
}

}  // namespace pdi07310
