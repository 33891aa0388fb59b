// TfrmPadraoGrid is the host's standard grid screen, the base of every list-and-detail screen: a
// toolbar (panMenu) with the insert, auxiliary, delete, search, verify, confirm, cancel and print
// buttons, the screen-code label, a page control (pgcPadrao, one page tshPadrao) holding the main
// grid dbgPadrao on dtsPadrao, a navigator bar (panNavigator) at the bottom, the operation menu
// (mnuMenu / mnuOperacao) whose entries mirror the buttons, the screen's message table msgPadrao
// and the common message table msgComum. Its own description, embedded in the library
// (BaseDescription), creates these components and binds their events by name.
//
// Creation is two-phase (see TForm): the constructor is cheap; InitializeForm loads the base
// description, then the screen's ("inherited" adjustments and new components), binding every
// event name through the screen's handler table first and then this class's table
// (BaseHandlers), and finally runs OnCreate. A derived screen overrides Initialize() to call
// InitializeForm with its own description and table.
//
// The base handlers are virtual members, bound by name: a derived screen overrides them (and
// usually calls the base version first, e.g. TfrmPadraoGrid::FormCreate(sender)), or binds its
// own handler under the same name in its table, which always takes precedence.
//
// Used on the user-interface thread only. Not copyable, not movable.
#pragma once

#include <string_view>

#include "host/controls/Form.h"
#include "host/forms/HandlerTable.h"

namespace host {

class TButtonFlat;
class TDataSource;
class TDBGrid;
class TLabel;
class TMainMenu;
class TMenuItem;
class TMessages;
class TPageControl;
class TPanel;
class TTabSheet;

class TfrmPadraoGrid : public TForm {
 public:
  explicit TfrmPadraoGrid(TComponent* owner = nullptr);
  ~TfrmPadraoGrid() override;

  // Second phase of creation: the base description, then `screenDescription` (skipped when
  // empty), bound through `screenHandlers` first and BaseHandlers() second, then OnCreate.
  // Raises EDescriptionError for a faulty description; any exception of OnCreate propagates.
  // Raises EPlatformError when called a second time.
  // REQUIRES: screenHandlers outlives the call (the bindings copy the handlers).
  void InitializeForm(std::string_view screenDescription, const HandlerTable& screenHandlers);
  // The base screen alone: InitializeForm with no screen description.
  void Initialize() override;

  // The base screen's own description text.
  static std::string_view BaseDescription();
  // The base handlers by name (FormCreate, FormClose, dtsPadraoStateChange, dbgPadraoKeyDown,
  // sbtIncluirClick, sbtExcluirClick, sbtProcurarClick, sbtVerificarClick, sbtConfirmarClick,
  // sbtCancelarClick), each calling the virtual member of the same name.
  const HandlerTable& BaseHandlers() const { return baseHandlers_; }

  // ---- Base handlers ----------------------------------------------------------------------------

  // Nothing to prepare in the base screen.
  virtual void FormCreate(TObject* sender);
  // Sets the close action to caHide: the screen stays in existence so the host can show it again.
  virtual void FormClose(TObject* sender, TCloseAction& action);
  // Generic toolbar enabling from dtsPadrao's state: insert while browsing (or inactive); delete,
  // search, verify and print while browsing a non-empty list; confirm and cancel while editing
  // or inserting; the auxiliary button off. Each menu entry follows its button.
  virtual void dtsPadraoStateChange(TObject* sender);
  // Enter acts as Tab in the grid (the key is replaced by VK_TAB).
  virtual void dbgPadraoKeyDown(TObject* sender, int& key, TShiftState shift);
  // Generic toolbar commands on dtsPadrao's record set: insert a row and focus the grid; delete
  // the current row after msgComum's "Excl" question; the host's search dialog; refresh the
  // toolbar; post; cancel. Each does nothing when the record set is closed or missing.
  virtual void sbtIncluirClick(TObject* sender);
  virtual void sbtExcluirClick(TObject* sender);
  virtual void sbtProcurarClick(TObject* sender);
  virtual void sbtVerificarClick(TObject* sender);
  virtual void sbtConfirmarClick(TObject* sender);
  virtual void sbtCancelarClick(TObject* sender);

  // Copies the enabled state of each toolbar button into the operation-menu entry that mirrors
  // it, in the order Incluir, Excluir, Procurar, Verificar, Confirmar, Cancelar, Auxiliar. Under
  // read-only access (host::ReadOnlyAccess) Incluir and Excluir are disabled first.
  void CopyButtonsToMenu();

  // ---- Components (set by the base description; null before InitializeForm) -------------------

  TPanel* panMenu = nullptr;
  TButtonFlat* sbtIncluir = nullptr;
  TButtonFlat* sbtAuxiliar = nullptr;
  TButtonFlat* sbtExcluir = nullptr;
  TButtonFlat* sbtProcurar = nullptr;
  TButtonFlat* sbtVerificar = nullptr;
  TButtonFlat* sbtConfirmar = nullptr;
  TButtonFlat* sbtCancelar = nullptr;
  // The print button; a screen without listings disables it.
  TButtonFlat* sbtImprimir = nullptr;
  TLabel* lblCodTela = nullptr;
  TPageControl* pgcPadrao = nullptr;
  TTabSheet* tshPadrao = nullptr;
  TDBGrid* dbgPadrao = nullptr;
  TDataSource* dtsPadrao = nullptr;
  TPanel* panNavigator = nullptr;
  TMainMenu* mnuMenu = nullptr;
  TMenuItem* mnuOperacao = nullptr;
  TMenuItem* mnuIncluir = nullptr;
  TMenuItem* mnuAuxiliar = nullptr;
  TMenuItem* mnuExcluir = nullptr;
  TMenuItem* mnuProcurar = nullptr;
  TMenuItem* mnuVerificar = nullptr;
  TMenuItem* mnuConfirmar = nullptr;
  TMenuItem* mnuCancelar = nullptr;
  TMenuItem* mnuListagem = nullptr;
  TMenuItem* mnuConfigImpressora = nullptr;
  TMessages* msgPadrao = nullptr;
  TMessages* msgComum = nullptr;

 private:
  template <class T>
  T* Component(const char* name) const;
  void ResolveBaseComponents();

  HandlerTable baseHandlers_;
  bool initialized_ = false;
};

}  // namespace host
