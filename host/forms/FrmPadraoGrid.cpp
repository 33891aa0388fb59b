#include "host/forms/FrmPadraoGrid.h"

#include "host/controls/ButtonFlat.h"
#include "host/controls/DBGrid.h"
#include "host/controls/Label.h"
#include "host/controls/MainMenu.h"
#include "host/controls/MenuItem.h"
#include "host/controls/PageControl.h"
#include "host/controls/Panel.h"
#include "host/controls/TabSheet.h"
#include "host/data/DataSource.h"
#include "host/forms/DescriptionLoader.h"
#include "host/services/HostLib.h"
#include "host/text/Messages.h"

namespace host {

namespace {

// The standard grid screen. Screens adjust it with "inherited" blocks; the main grid keeps
// untouched new rows when it loses the focus (no dgCancelOnExit), so a screen can validate them.
constexpr std::string_view kBaseDescription = R"(object frmPadraoGrid: TfrmPadraoGrid
  Left = 0
  Top = 0
  Width = 640
  Height = 480
  Caption = 'Padr'#227'o'
  Menu = mnuMenu
  OnCreate = FormCreate
  OnClose = FormClose
  object panMenu: TPanel
    Align = alTop
    Height = 30
    BevelOuter = bvNone
    object sbtIncluir: TButtonFlat
      Left = 4
      Top = 3
      Width = 25
      Height = 25
      Caption = 'Incluir'
      Hint = 'Incluir'
      Glyph = 'incluir'
      OnClick = sbtIncluirClick
    end
    object sbtAuxiliar: TButtonFlat
      Left = 30
      Top = 3
      Width = 25
      Height = 25
      Caption = 'Auxiliar'
      Hint = 'Auxiliar'
      Glyph = 'auxiliar'
      Enabled = False
    end
    object sbtExcluir: TButtonFlat
      Left = 56
      Top = 3
      Width = 25
      Height = 25
      Caption = 'Excluir'
      Hint = 'Excluir'
      Glyph = 'excluir'
      OnClick = sbtExcluirClick
    end
    object sbtProcurar: TButtonFlat
      Left = 82
      Top = 3
      Width = 25
      Height = 25
      Caption = 'Procurar'
      Hint = 'Procurar'
      Glyph = 'procurar'
      OnClick = sbtProcurarClick
    end
    object sbtVerificar: TButtonFlat
      Left = 108
      Top = 3
      Width = 25
      Height = 25
      Caption = 'Verificar'
      Hint = 'Verificar'
      Glyph = 'verificar'
      OnClick = sbtVerificarClick
    end
    object sbtConfirmar: TButtonFlat
      Left = 134
      Top = 3
      Width = 25
      Height = 25
      Caption = 'Confirmar'
      Hint = 'Confirmar'
      Glyph = 'confirmar'
      Enabled = False
      OnClick = sbtConfirmarClick
    end
    object sbtCancelar: TButtonFlat
      Left = 160
      Top = 3
      Width = 25
      Height = 25
      Caption = 'Cancelar'
      Hint = 'Cancelar'
      Glyph = 'cancelar'
      Enabled = False
      OnClick = sbtCancelarClick
    end
    object sbtImprimir: TButtonFlat
      Left = 186
      Top = 3
      Width = 25
      Height = 25
      Caption = 'Imprimir'
      Hint = 'Imprimir'
      Glyph = 'imprimir'
    end
    object lblCodTela: TLabel
      Left = 560
      Top = 8
      Width = 60
      Height = 13
      Caption = ''
    end
  end
  object pgcPadrao: TPageControl
    Align = alClient
    ActivePage = tshPadrao
    object tshPadrao: TTabSheet
      Caption = 'Dados'
      object dbgPadrao: TDBGrid
        Align = alClient
        DataSource = dtsPadrao
        Options = [dgEditing, dgTitles, dgIndicator, dgColumnResize, dgColLines, dgRowLines, dgTabs, dgAlwaysShowSelection, dgConfirmDelete]
        OnKeyDown = dbgPadraoKeyDown
      end
    end
  end
  object panNavigator: TPanel
    Align = alBottom
    Height = 25
    BevelOuter = bvNone
  end
  object mnuMenu: TMainMenu
    object mnuOperacao: TMenuItem
      Caption = '&Opera'#231#227'o'
      object mnuIncluir: TMenuItem
        Caption = '&Incluir'
        OnClick = sbtIncluirClick
      end
      object mnuAuxiliar: TMenuItem
        Caption = '&Auxiliar'
        Enabled = False
      end
      object mnuExcluir: TMenuItem
        Caption = '&Excluir'
        OnClick = sbtExcluirClick
      end
      object mnuProcurar: TMenuItem
        Caption = '&Procurar'
        OnClick = sbtProcurarClick
      end
      object mnuVerificar: TMenuItem
        Caption = '&Verificar'
        OnClick = sbtVerificarClick
      end
      object mnuConfirmar: TMenuItem
        Caption = 'C&onfirmar'
        Enabled = False
        OnClick = sbtConfirmarClick
      end
      object mnuCancelar: TMenuItem
        Caption = '&Cancelar'
        Enabled = False
        OnClick = sbtCancelarClick
      end
      object mnuListagem: TMenuItem
        Caption = '&Listagem'
      end
      object mnuConfigImpressora: TMenuItem
        Caption = 'Configurar i&mpressora'
      end
    end
  end
  object dtsPadrao: TDataSource
    OnStateChange = dtsPadraoStateChange
  end
  object msgPadrao: TMessages
    Lines.Strings = (
      'Excl|Confirma exclus'#227'o?')
  end
  object msgComum: TMessages
    Lines.Strings = (
      'Canc|Deseja cancelar a opera'#231#227'o?'
      'Excl|Confirma exclus'#227'o?'
      'Valida_dados|Validando dados...')
  end
end
)";

}  // namespace

TfrmPadraoGrid::TfrmPadraoGrid(TComponent* owner) : TForm(owner) {
  baseHandlers_.Add("FormCreate", this, &TfrmPadraoGrid::FormCreate);
  baseHandlers_.Add("FormClose", this, &TfrmPadraoGrid::FormClose);
  baseHandlers_.Add("dtsPadraoStateChange", this, &TfrmPadraoGrid::dtsPadraoStateChange);
  baseHandlers_.Add("dbgPadraoKeyDown", this, &TfrmPadraoGrid::dbgPadraoKeyDown);
  baseHandlers_.Add("sbtIncluirClick", this, &TfrmPadraoGrid::sbtIncluirClick);
  baseHandlers_.Add("sbtExcluirClick", this, &TfrmPadraoGrid::sbtExcluirClick);
  baseHandlers_.Add("sbtProcurarClick", this, &TfrmPadraoGrid::sbtProcurarClick);
  baseHandlers_.Add("sbtVerificarClick", this, &TfrmPadraoGrid::sbtVerificarClick);
  baseHandlers_.Add("sbtConfirmarClick", this, &TfrmPadraoGrid::sbtConfirmarClick);
  baseHandlers_.Add("sbtCancelarClick", this, &TfrmPadraoGrid::sbtCancelarClick);
}

TfrmPadraoGrid::~TfrmPadraoGrid() = default;

std::string_view TfrmPadraoGrid::BaseDescription() { return kBaseDescription; }

void TfrmPadraoGrid::Initialize() { InitializeForm({}, HandlerTable{}); }

void TfrmPadraoGrid::InitializeForm(std::string_view screenDescription, const HandlerTable& screenHandlers) {
  if (initialized_) throw EPlatformError("Screen '" + Name() + "' is already initialized");
  initialized_ = true;
  const std::vector<const HandlerTable*> tables{&screenHandlers, &baseHandlers_};
  DescriptionLoader(*this, tables).Load(kBaseDescription);
  ResolveBaseComponents();
  if (!screenDescription.empty()) DescriptionLoader(*this, tables).Load(screenDescription);
  DoCreate();
}

template <class T>
T* TfrmPadraoGrid::Component(const char* name) const {
  T* found = dynamic_cast<T*>(FindComponent(name));
  if (found == nullptr) throw EPlatformError(std::string("The standard grid screen lacks its component '") + name + "'");
  return found;
}

void TfrmPadraoGrid::ResolveBaseComponents() {
  panMenu = Component<TPanel>("panMenu");
  sbtIncluir = Component<TButtonFlat>("sbtIncluir");
  sbtAuxiliar = Component<TButtonFlat>("sbtAuxiliar");
  sbtExcluir = Component<TButtonFlat>("sbtExcluir");
  sbtProcurar = Component<TButtonFlat>("sbtProcurar");
  sbtVerificar = Component<TButtonFlat>("sbtVerificar");
  sbtConfirmar = Component<TButtonFlat>("sbtConfirmar");
  sbtCancelar = Component<TButtonFlat>("sbtCancelar");
  sbtImprimir = Component<TButtonFlat>("sbtImprimir");
  lblCodTela = Component<TLabel>("lblCodTela");
  pgcPadrao = Component<TPageControl>("pgcPadrao");
  tshPadrao = Component<TTabSheet>("tshPadrao");
  dbgPadrao = Component<TDBGrid>("dbgPadrao");
  dtsPadrao = Component<TDataSource>("dtsPadrao");
  panNavigator = Component<TPanel>("panNavigator");
  mnuMenu = Component<TMainMenu>("mnuMenu");
  mnuOperacao = Component<TMenuItem>("mnuOperacao");
  mnuIncluir = Component<TMenuItem>("mnuIncluir");
  mnuAuxiliar = Component<TMenuItem>("mnuAuxiliar");
  mnuExcluir = Component<TMenuItem>("mnuExcluir");
  mnuProcurar = Component<TMenuItem>("mnuProcurar");
  mnuVerificar = Component<TMenuItem>("mnuVerificar");
  mnuConfirmar = Component<TMenuItem>("mnuConfirmar");
  mnuCancelar = Component<TMenuItem>("mnuCancelar");
  mnuListagem = Component<TMenuItem>("mnuListagem");
  mnuConfigImpressora = Component<TMenuItem>("mnuConfigImpressora");
  msgPadrao = Component<TMessages>("msgPadrao");
  msgComum = Component<TMessages>("msgComum");
}

// ---- Base handlers ------------------------------------------------------------------------------

void TfrmPadraoGrid::FormCreate(TObject*) {}

void TfrmPadraoGrid::FormClose(TObject*, TCloseAction& action) { action = TCloseAction::caHide; }

void TfrmPadraoGrid::dtsPadraoStateChange(TObject*) {
  const TDataSet* ds = dtsPadrao->DataSet();
  const TDataSetState state = dtsPadrao->State();
  const bool browsing = state == TDataSetState::dsBrowse;
  const bool editing = state == TDataSetState::dsEdit || state == TDataSetState::dsInsert;
  const bool hasRows = ds != nullptr && !ds->IsEmpty();

  sbtIncluir->SetEnabled(state == TDataSetState::dsInactive || browsing);
  sbtExcluir->SetEnabled(browsing && hasRows);
  sbtProcurar->SetEnabled(browsing && hasRows);
  sbtVerificar->SetEnabled(browsing && hasRows);
  sbtConfirmar->SetEnabled(editing);
  sbtCancelar->SetEnabled(editing);
  sbtImprimir->SetEnabled(browsing && hasRows);
  sbtAuxiliar->SetEnabled(false);

  CopyButtonsToMenu();
  mnuListagem->SetEnabled(sbtImprimir->Enabled());
}

void TfrmPadraoGrid::CopyButtonsToMenu() {
  // Every screen's enabling ends here: a person who may only look gets neither Incluir nor
  // Excluir, whatever the screen decided (the server would refuse the change anyway).
  if (::host::ReadOnlyAccess()) {
    sbtIncluir->SetEnabled(false);
    sbtExcluir->SetEnabled(false);
  }
  mnuIncluir->SetEnabled(sbtIncluir->Enabled());
  mnuExcluir->SetEnabled(sbtExcluir->Enabled());
  mnuProcurar->SetEnabled(sbtProcurar->Enabled());
  mnuVerificar->SetEnabled(sbtVerificar->Enabled());
  mnuConfirmar->SetEnabled(sbtConfirmar->Enabled());
  mnuCancelar->SetEnabled(sbtCancelar->Enabled());
  mnuAuxiliar->SetEnabled(sbtAuxiliar->Enabled());
}

void TfrmPadraoGrid::dbgPadraoKeyDown(TObject*, int& key, TShiftState) {
  if (key == VK_RETURN) key = VK_TAB;
}

void TfrmPadraoGrid::sbtIncluirClick(TObject*) {
  TDataSet* ds = dtsPadrao->DataSet();
  if (ds == nullptr || !ds->Active()) return;
  ds->Insert();
  if (dbgPadrao->CanFocus()) dbgPadrao->SetFocus();
}

void TfrmPadraoGrid::sbtExcluirClick(TObject*) {
  TDataSet* ds = dtsPadrao->DataSet();
  if (ds == nullptr || !ds->Active() || ds->IsEmpty()) return;
  if (msgComum->ShowMsg("Excl", TMsgDlgType::mtConfirmation, {mbYes, mbNo}, 0) != mrYes) return;
  ds->Delete();
}

void TfrmPadraoGrid::sbtProcurarClick(TObject*) {
  TDataSet* ds = dtsPadrao->DataSet();
  if (ds == nullptr || !ds->Active()) return;
  Procura(ds);
}

void TfrmPadraoGrid::sbtVerificarClick(TObject*) { dtsPadraoStateChange(dtsPadrao); }

void TfrmPadraoGrid::sbtConfirmarClick(TObject*) {
  TDataSet* ds = dtsPadrao->DataSet();
  if (ds != nullptr) ds->Post();
}

void TfrmPadraoGrid::sbtCancelarClick(TObject*) {
  TDataSet* ds = dtsPadrao->DataSet();
  if (ds != nullptr) ds->Cancel();
}

}  // namespace host
