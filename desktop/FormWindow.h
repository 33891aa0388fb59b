// FormWindow is the multiple-document child window that draws one screen (a host::TForm): it
// builds one widget per control of the form (panels, scroll boxes, page controls and their tab
// sheets, splitters, labels, data-bound labels, flat buttons, data grids), holds the one observer
// of each control model, and mirrors the form's menu into the main window's menu bar.
//
// Promises:
// - Every widget shows its model only: caption, bounds and alignment, visibility, enabling,
//   hints, and the control-specific properties (see GridView, PageControlView, SplitterView).
// - The focus is the model's: widgets never take the focus by themselves; a click asks the form
//   (TForm::FocusControl) and the Qt focus then follows the form's ActiveControl. When the form
//   refuses (the call raises), the Qt focus is put back on the model's active control.
// - Closing the window asks the form (TForm::Close); whether it closes is the form's decision.
//   When a data set of the form is inserting, the user is asked first whether to discard the
//   record; "Não" keeps the window and everything in it as it was.
// - The window's caption, position, size and state follow the form and are written back into it
//   when the user moves, resizes, minimizes or restores the window.
//
// Lifetime: the main window creates a FormWindow when a form becomes visible and destroys it when
// the form is hidden or destroyed, calling Detach() first: the window drops its observers at once
// (unsubscribing while the models live, merely forgetting them when the form already died) and
// never touches the models again.
//
// Used on the user-interface thread only. Not copyable (a QWidget).
#pragma once

#include <QMdiSubWindow>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "desktop/Subscription.h"

class QAction;
class QMenuBar;

namespace host {
class TControl;
class TForm;
}  // namespace host

namespace desktop {

class AlignBox;
class GridView;
class MenuMirror;
class PageControlView;
class SplitterView;

class FormWindow : public QMdiSubWindow {
  Q_OBJECT

 public:
  // Builds the window of `form`. Its menu goes into `bar` before `menusBefore` (both may be
  // null). REQUIRES: form outlives the window, or Detach(false) is called before it dies.
  FormWindow(host::TForm& form, QMenuBar* bar, QAction* menusBefore, QWidget* parent = nullptr);
  ~FormWindow() override;

  host::TForm* Form() const { return form_; }
  // The widget drawing `control`; null when none.
  QWidget* WidgetOf(const host::TControl* control) const;
  // The widget drawing the control named `name`; null when none.
  QWidget* WidgetNamed(const std::string& name) const;
  GridView* Grid(const std::string& name) const;
  const std::vector<GridView*>& Grids() const { return grids_; }
  PageControlView* PageControl(const std::string& name) const;
  const std::vector<SplitterView*>& Splitters() const { return splitters_; }
  MenuMirror* Menus() const { return menus_.get(); }

  // Shows the window where the form says (the document area would place a new window itself),
  // in the form's window state. From then on, moves and resizes are written back into the form.
  void ShowPlaced();
  // A property of the form changed (the main window holds the form's observer).
  void OnFormModel(const std::string& property);
  // Asks the form to move the focus to `control`; returns true when the control holds it after.
  // A refusal is handled by UserAction and the Qt focus is put back on the form's active control.
  bool RequestFocus(host::TControl* control);
  // Puts the Qt focus on the widget of the form's active control.
  void SyncFocus();
  // SyncFocus, after asking the form to focus its first grid shown when it has no active
  // control (a form just shown). Call it outside user actions.
  void EnsureFocus();
  // The widget that should hold the Qt focus for the form's active control; null when none.
  QWidget* FocusTarget() const;
  // Ctrl+Tab / Ctrl+Shift+Tab: asks the form to move the focus to the next (step 1) or previous
  // (step -1) grid shown and enabled, in the order the grids were built, wrapping around, as a
  // click on that grid would; from a page control or tab sheet, forward goes to the grid it
  // shows. Returns true when the focus moved.
  bool FocusNeighbourGrid(int step);
  // Ctrl+PageDown / Ctrl+PageUp: presses the neighbour tab of the page control in view (the
  // innermost one holding the focused control that has more than one tab, else the first shown
  // one that has). Returns true when the page changed.
  bool PressNeighbourPage(int step);
  // True when a data set of the form is inserting a record not yet posted.
  bool HasPendingInsert() const;
  // Asks the user whether to discard a record being inserted (Sim/Não, Não the default) through
  // the installed host services; returns true for Sim.
  static bool ConfirmDiscardPending();
  // Shows or hides this screen's menus in the bar (only the active screen's are shown).
  void SetMenusShown(bool shown);
  // Drops every observer now and stops drawing the models: unsubscribes when `modelsAlive`,
  // otherwise forgets the observers without touching the (destroyed) models.
  void Detach(bool modelsAlive);
  bool Detached() const { return abandoned_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  using Handler = std::function<void(const std::string& property)>;

  QWidget* Build(host::TControl* control, AlignBox* box);
  void BuildChildren(host::TControl* control, AlignBox* box);
  void Bind(host::TControl* control, QWidget* widget, AlignBox* box, Handler specific);
  void ApplyBounds();
  void ApplyWindowState();
  void WriteBackBounds();

  host::TForm* form_;
  AlignBox* root_ = nullptr;
  std::map<const host::TControl*, QWidget*> widgets_;
  std::vector<AlignBox*> boxes_;
  std::vector<GridView*> grids_;
  std::vector<PageControlView*> pageControls_;
  std::vector<SplitterView*> splitters_;
  std::vector<Subscription> subscriptions_;
  std::unique_ptr<MenuMirror> menus_;
  bool syncing_ = false;
  bool abandoned_ = false;
  bool placed_ = false;
};

}  // namespace desktop
