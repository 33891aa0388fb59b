#include "related/RelatedList.h"

#include "host/controls/GridUtils.h"
#include "host/services/HostLib.h"
#include "module/ModuleGlobals.h"
#include "screen/ProdDesoneraImpos.h"
#include "screen/TextUtils.h"

namespace pdi07310 {

using host::TDataSetState;

// Every difference between suppliers, clients and branches is here.
const std::array<RelatedMembers, 3> kRelatedMembers = {{
    {
        .kind = RelatedKind::Fornecedor,
        .dataSet = "cdsFornecedor",
        .dataSource = "dtsFornecedor",
        .grid = "dbgFornecedor",
        .page = "tshFornecedor",
        .otherPages = {"tshFilial", "tshCliente"},
        .beforeEdit = "cdsFornecedorBeforeEdit",
        .beforePost = "cdsFornecedorBeforePost",
        .afterPost = "cdsFornecedorAfterPost",
        .afterCancel = "cdsFornecedorAfterCancel",
        .afterDelete = "cdsFornecedorAfterDelete",
        .stateChange = "dtsFornecedorStateChange",
        .colExit = "dbgFornecedorColExit",
        .editButtonClick = "dbgFornecedorEditButtonClick",
        .enter = "dbgFornecedorEnter",
        .exit = "dbgFornecedorExit",
        .keyPress = "dbgFornecedorKeyPress",
        .pageEnter = "tshFornecedorEnter",
        .validateRoutine = "Vd_Fornecedor",
        .validatingColumns = {"NRINSJURFORN", "NMRAZSOCFORN"},
        .codeField = "NRINSJURFORN",
        .emptyMessage = "Inf_F",
        .fitWidth = 0,
        .lookupQuery = "qryVdFornecedor",
        .lookupParam = "P_NRINSJURFORN",
        .notFoundMessage = "For_NCad",
        .lookupCopy = {{{"NRINSJURFORN", "NRINSJURFORN"},
                        {"NMRAZSOCFORN", "NMRAZSOCFORN"},
                        {"CDFORNECED", "CDFORNECED"}}},
        .preparedCodeField = "CDFORNECEDDES",
        .checkMethod = "getVd_Fornecedor",
        .itemKeyField = "CDFORNECED",
        .scratch = "cdsVd_Fornecedor",
        .relatedMessage = "Forne_Rel",
        .focusBeforeNotFound = false,
        .focusBeforeRelated = false,
        .saveMethod = "SetFornecedor",
        .reloadMethod = "getFornecedor",
        .deleteQuestion = "Excl_For",
        .pickQuery = "qryFornecedor",
        .pickSource = "dtsForn",
        .pickMessage = "CdForne",
        .pickCopy = {{{"NRINSJURFORN", "NRINSJURFORN"},
                      {"NMRAZSOCFORN", "NMRAZSOCFORN"},
                      {"CDFORNECED", "CDFORNECED"}}},
        .pickCopyCount = 3,
    },
    {
        .kind = RelatedKind::Cliente,
        .dataSet = "cdsCliente",
        .dataSource = "dtsCliente",
        .grid = "dbgCliente",
        .page = "tshCliente",
        .otherPages = {"tshFilial", "tshFornecedor"},
        .beforeEdit = "cdsClienteBeforeEdit",
        .beforePost = "cdsClienteBeforePost",
        .afterPost = "cdsClienteAfterPost",
        .afterCancel = "cdsClienteAfterCancel",
        .afterDelete = "cdsClienteAfterDelete",
        .stateChange = "dtsClienteStateChange",
        .colExit = "dbgClienteColExit",
        .editButtonClick = "dbgClienteEditButtonClick",
        .enter = "dbgClienteEnter",
        .exit = "dbgClienteExit",
        .keyPress = "dbgClienteKeyPress",
        .pageEnter = "tshClienteEnter",
        .validateRoutine = "Vd_Cliente",
        .validatingColumns = {"NRINSJURCLIE", "NMRAZSOCCLIE"},
        .codeField = "NRINSJURCLIE",
        .emptyMessage = "inf_Cliente",
        .fitWidth = 0,
        .lookupQuery = "qryVdCliente",
        .lookupParam = "P_NRINSJURCLIE",
        .notFoundMessage = "Cli_NCad",
        .lookupCopy = {{{"CDCLIENTE", "CDCLIENTE"},
                        {"NRINSJURCLIE", "NRINSJURCLIE"},
                        {"NMRAZSOCCLIE", "NMRAZSOCCLIE"}}},
        .preparedCodeField = "CDCLIENTEDES",
        .checkMethod = "getVd_Cliente",
        .itemKeyField = "CDCLIENTE",
        .scratch = "cdsVd_Cliente",
        .relatedMessage = "cli_Rel",
        .focusBeforeNotFound = true,
        .focusBeforeRelated = false,
        .saveMethod = "SetCliente",
        .reloadMethod = "getCliente",
        .deleteQuestion = "Excl_Cli",
        .pickQuery = "qryCliente",
        .pickSource = "dtsCli",
        .pickMessage = "CdCli",
        .pickCopy = {{{"CDCLIENTE", "CDCLIENTE"},
                      {"NRINSJURCLIE", "NRINSJURCLIE"},
                      {"NMRAZSOCCLIE", "NMRAZSOCCLIE"}}},
        .pickCopyCount = 3,
    },
    {
        .kind = RelatedKind::Filial,
        .dataSet = "cdsFilial",
        .dataSource = "dtsFilial",
        .grid = "dbgFilial",
        .page = "tshFilial",
        .otherPages = {"tshFornecedor", "tshCliente"},
        .beforeEdit = "cdsFilialBeforeEdit",
        .beforePost = "cdsFilialBeforePost",
        .afterPost = "cdsFilialAfterPost",
        .afterCancel = "cdsFilialAfterCancel",
        .afterDelete = "cdsFilialAfterDelete",
        .stateChange = "dtsFilialStateChange",
        .colExit = "dbgFilialColExit",
        .editButtonClick = "dbgFilialEditButtonClick",
        .enter = "dbgFilialEnter",
        .exit = "dbgFilialExit",
        .keyPress = nullptr,
        .pageEnter = "tshFilialEnter",
        .validateRoutine = "Vd_Filial",
        .validatingColumns = {"CDFILIALDES", "NMFILIAL"},
        .codeField = "CDFILIALDES",
        .emptyMessage = "inf_Filial",
        .fitWidth = 4,
        .lookupQuery = "qryVdFilial",
        .lookupParam = "P_CDFILIALDES",
        .notFoundMessage = "fil_NCad",
        // The branch takes the product key right after the copy, as the third copied value.
        .lookupCopy = {{{"CDFILIALDES", "CDFILIAL"}, {"NMFILIAL", "NMFILIAL"}, {nullptr, nullptr}}},
        .preparedCodeField = nullptr,
        .checkMethod = "getVd_Filial",
        .itemKeyField = "CDFILIALDES",
        .scratch = "cdsVd_Filial",
        .relatedMessage = "fil_Rel",
        .focusBeforeNotFound = true,
        .focusBeforeRelated = true,
        .saveMethod = "SetFilial",
        .reloadMethod = "getFilial",
        .deleteQuestion = "Excl_Fil",
        .pickQuery = "qryFilial",
        .pickSource = "dtsFil",
        .pickMessage = "CdFil",
        .pickCopy = {{{"CDFILIALDES", "CDFILIAL"}, {"NMFILIAL", "NMFILIAL"}, {nullptr, nullptr}}},
        .pickCopyCount = 2,
    },
}};

void RelatedList::Attach(TfrmProdDesoneraImpos& screen, const RelatedMembers& members) {
  screen_ = &screen;
  m_ = &members;
}

void RelatedList::Resolve() {
  TfrmProdDesoneraImpos& screen = *screen_;
  const RelatedMembers& members = *m_;
  cds_ = screen.Find<host::TClientDataSet>(members.dataSet);
  dts_ = screen.Find<host::TDataSource>(members.dataSource);
  grid_ = screen.Find<host::TDBGrid>(members.grid);
  page_ = screen.Find<host::TTabSheet>(members.page);
  otherPages_ = {screen.Find<host::TTabSheet>(members.otherPages[0]),
                 screen.Find<host::TTabSheet>(members.otherPages[1])};
  lookup_ = screen.Find<host::TADOIBQuery>(members.lookupQuery);
  scratch_ = screen.Find<host::TClientDataSet>(members.scratch);
  pickQuery_ = screen.Find<host::TADOIBQuery>(members.pickQuery);
  pickSource_ = screen.Find<host::TDataSource>(members.pickSource);
}

void RelatedList::AddHandlers(host::HandlerTable& table) {
  auto dataSetHandler = [this](void (RelatedList::*fn)()) {
    return host::TDataSetNotifyEvent([this, fn](host::TDataSet*) { (this->*fn)(); });
  };
  auto notifyHandler = [this](void (RelatedList::*fn)()) {
    return host::TNotifyEvent([this, fn](host::TObject*) { (this->*fn)(); });
  };
  table.Add(m_->beforeEdit, dataSetHandler(&RelatedList::BeforeEdit));
  table.Add(m_->beforePost, dataSetHandler(&RelatedList::BeforePost));
  table.Add(m_->afterPost, dataSetHandler(&RelatedList::AfterPost));
  table.Add(m_->afterCancel, dataSetHandler(&RelatedList::AfterCancel));
  table.Add(m_->afterDelete, dataSetHandler(&RelatedList::AfterDelete));
  table.Add(m_->stateChange, notifyHandler(&RelatedList::StateChange));
  table.Add(m_->colExit, notifyHandler(&RelatedList::ColExit));
  table.Add(m_->editButtonClick, notifyHandler(&RelatedList::EditButtonClick));
  table.Add(m_->enter, notifyHandler(&RelatedList::Enter));
  table.Add(m_->exit, notifyHandler(&RelatedList::Exit));
  table.Add(m_->pageEnter, notifyHandler(&RelatedList::PageEnter));
  if (m_->keyPress != nullptr) {
    table.Add(m_->keyPress, host::TKeyPressEvent([this](host::TObject*, char& key) { KeyPress(key); }));
  }
}

bool RelatedList::Inserting() const { return cds_->State() == TDataSetState::dsInsert; }

host::TField* RelatedList::RowField(const char* name) const { return cds_->FieldByName(name); }

void RelatedList::Validate(bool emptyIsError) {
  try {
    host::TField* selected = grid_->SelectedField();
    if (selected == nullptr || (selected->FieldName() != m_->validatingColumns[0] &&
                                selected->FieldName() != m_->validatingColumns[1])) {
      return;
    }
    if (host::EmptyString(host::GridText(grid_, m_->codeField, false))) {
      if (emptyIsError) host::MensErro(screen_->Msg(m_->emptyMessage), true);
      return;
    }
    const std::string productKey = screen_->cdsProdutoCDPRODUTO->AsString();
    std::string code = Trim(host::GridText(grid_, m_->codeField, false));
    if (m_->fitWidth > 0) code = host::Ajusta(code, m_->fitWidth);

    lookup_->Close();
    lookup_->ParamByName(m_->lookupParam).SetAsString(code);
    lookup_->Open();
    if (lookup_->IsEmpty()) {
      if (m_->focusBeforeNotFound) FocusCodeColumn();
      host::MensErro(screen_->Msg(m_->notFoundMessage), true);
    }
    for (const FieldCopy& copy : m_->lookupCopy) {
      if (copy.target == nullptr) continue;
      RowField(copy.target)->SetAsString(lookup_->FieldByName(copy.source)->AsString());
    }
    RowField("CDPRODUTODES")->SetAsString(productKey);
    if (m_->preparedCodeField != nullptr) RowField(m_->preparedCodeField)->SetAsString(code);

    screen_->CheckFrame(m_->checkMethod,
                        {host::Variant::FromText(RowField("CDPRODUTODES")->AsString()),
                         host::Variant::FromText(RowField(m_->itemKeyField)->AsString())},
                        *scratch_);
    if (!scratch_->IsEmpty() && Inserting()) {
      if (m_->focusBeforeRelated) FocusCodeColumn();
      host::MensErro(screen_->Msg(m_->relatedMessage), true);
    }
  } catch (...) {
    // A refused or failed validation always ends with the grid focused on its code column and
    // the busy animation off.
    FocusCodeColumn();
    host::DeactiveShowAvi();
    throw;
  }
}

void RelatedList::FocusCodeColumn() {
  // Selecting the code column runs the grid's column exit when another validating column (the
  // name) was selected; that exit must not validate the refused code again and show the same
  // refusal a second time.
  const bool wasRefusing = refusing_;
  refusing_ = true;
  struct Restore {
    bool& flag;
    bool value;
    ~Restore() { flag = value; }
  } restore{refusing_, wasRefusing};
  RowField(m_->codeField)->FocusControl();
}

void RelatedList::StateChange() {
  TfrmProdDesoneraImpos& s = *screen_;
  grid_->SetReadOnly(s.cdsProduto->IsEmpty());

  const bool inserting = dts_->State() == TDataSetState::dsInsert;
  const int codeColumn = host::IndiceCol(grid_, m_->codeField);
  if (codeColumn >= 0) {
    grid_->Columns()[codeColumn]->SetButtonStyle(inserting ? host::TColumnButtonStyle::cbsEllipsis
                                                           : host::TColumnButtonStyle::cbsNone);
  }
  for (host::TTabSheet* other : otherPages_) other->SetEnabled(!inserting);

  if (s.ActiveControl() != grid_ && s.pgcGrade->ActivePage() != page_) return;

  const TDataSetState state = cds_->State();
  const bool browsingRows = state == TDataSetState::dsBrowse && cds_->RecordCount() > 0;
  s.sbtIncluir->SetEnabled(
      (state == TDataSetState::dsInactive || state == TDataSetState::dsBrowse) &&
      s.cdsProduto->RecordCount() > 0);
  s.sbtExcluir->SetEnabled(browsingRows);
  s.sbtProcurar->SetEnabled(browsingRows);
  s.sbtVerificar->SetEnabled(browsingRows);
  s.sbtConfirmar->SetEnabled(state == TDataSetState::dsInsert);
  s.sbtCancelar->SetEnabled(state == TDataSetState::dsInsert);
  s.CopyButtonsToMenu();
}

void RelatedList::Reload() { screen_->ReloadFrame(*this); }

void RelatedList::BeforeEdit() { host::Abort(); }

void RelatedList::BeforePost() {
  if (Inserting()) Validate(true);
}

void RelatedList::AfterPost() {
  TfrmProdDesoneraImpos& s = *screen_;
  const bool sent = s.SaveFrame(*cds_, m_->saveMethod, [&s] {
    // The row just stored may belong to a product that is still being entered: post it
    // locally, without validating it again, and fold its insertion away. The flag is restored
    // on every path, so a refused product post never leaves validation switched off.
    {
      ValidationSwitch off;
      if (s.dtsPadrao->State() == TDataSetState::dsInsert) s.cdsProduto->Post();
    }
    if (s.cdsProduto->LogChanges()) s.cdsProduto->MergeChangeLog();
  });
  if (!sent) return;
  s.cdsProdutoAfterScroll(s.cdsProduto);
  Reload();
}

void RelatedList::AfterCancel() {
  TfrmProdDesoneraImpos& s = *screen_;
  const TDataSetState productState = s.cdsProduto->State();
  if (productState == TDataSetState::dsEdit || productState == TDataSetState::dsInsert) {
    s.cdsProdutoAfterCancel(s.cdsProduto);
  }
}

void RelatedList::AfterDelete() {
  if (!screen_->SaveFrame(*cds_, m_->saveMethod, nullptr)) return;
  StateChange();
}

void RelatedList::ColExit() {
  if (Inserting() && !refusing_) Validate(false);
}

void RelatedList::EditButtonClick() {
  host::TField* selected = grid_->SelectedField();
  if (selected == nullptr || selected->FieldName() != m_->codeField) return;
  pickQuery_->Close();
  pickQuery_->Open();
  if (!host::Pesquisar_Plus(pickSource_, screen_->Msg(m_->pickMessage), false, true)) return;
  for (int i = 0; i < m_->pickCopyCount; ++i) {
    const FieldCopy& copy = m_->pickCopy[i];
    RowField(copy.target)->SetAsString(pickQuery_->FieldByName(copy.source)->AsString());
  }
}

void RelatedList::Enter() {
  TfrmProdDesoneraImpos& s = *screen_;
  StateChange();
  if (s.cdsProduto->State() == TDataSetState::dsInsert && s.ActiveControl() == grid_ &&
      !Inserting()) {
    dts_->DataSet()->Insert();
  }
}

void RelatedList::Exit() {
  if (Inserting()) cds_->Post();
}

void RelatedList::KeyPress(char& key) {
  host::TField* selected = grid_->SelectedField();
  if (selected == nullptr || selected->FieldName() != m_->codeField) return;
  const bool digit = key >= '0' && key <= '9';
  if (!digit && key != static_cast<char>(host::VK_BACK)) key = 0;
}

void RelatedList::PageEnter() {
  screen_->sbtConfirmar->SetEnabled(false);
  screen_->sbtCancelar->SetEnabled(false);
}

}  // namespace pdi07310
