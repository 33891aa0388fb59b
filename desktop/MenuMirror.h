// MenuMirror shows a form's menu (host::TMainMenu and its TMenuItems) in the main window's menu
// bar while the form's window exists: one Qt menu per top-level entry, one action per entry,
// each with the entry's caption ('&' marks the accelerator, as in Qt), enabled and visible as the
// entry is. Choosing an action calls TMenuItem::Click, which does nothing for a disabled entry.
//
// The mirror holds one observer per menu model and rebuilds itself when the entries change. It
// removes its menus from the bar when destroyed.
//
// Used on the user-interface thread only. Not copyable (a QObject).
#pragma once

#include <QObject>
#include <QPointer>
#include <map>
#include <vector>

#include "desktop/Subscription.h"

class QAction;
class QMenu;
class QMenuBar;

namespace host {
class TMainMenu;
class TMenuItem;
}  // namespace host

namespace desktop {

class MenuMirror : public QObject {
  Q_OBJECT

 public:
  // Adds the menus of `menu` to `bar` before `before` (null: at the end).
  // REQUIRES: menu outlives the mirror, or Abandon() is called before it dies.
  MenuMirror(host::TMainMenu& menu, QMenuBar* bar, QAction* before, QObject* parent = nullptr);
  ~MenuMirror() override;

  // Shows or hides the mirrored menus in the bar (only the active screen's menus are shown).
  void SetShown(bool shown);
  // The action of a menu entry; null when the entry is not mirrored.
  QAction* ActionOf(const host::TMenuItem* item) const;
  void Abandon();

 private:
  void Rebuild();
  void Clear();
  void AddItem(host::TMenuItem* item, QMenu* into);
  void Sync(host::TMenuItem* item);

  host::TMainMenu* menu_;
  QPointer<QMenuBar> bar_;
  QPointer<QAction> before_;
  std::vector<QMenu*> menus_;
  std::map<const host::TMenuItem*, QAction*> actions_;
  std::vector<Subscription> subscriptions_;
  bool shown_ = true;
};

}  // namespace desktop
