#include "desktop/MenuMirror.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>

#include "desktop/ClerkWords.h"
#include "desktop/UserAction.h"
#include "host/controls/ButtonFlat.h"
#include "host/controls/MainMenu.h"
#include "host/controls/MenuItem.h"

namespace desktop {

namespace {

// The keys of the standard grid screen's entries (each mirrors the toolbar button of the same
// name: mnuVerificar and sbtVerificar). A grid holding the focus keeps the keys it handles itself
// (Insert, Ctrl+Delete, Esc, Ctrl+Enter; see GridView), so these reach the entries from
// elsewhere in the window; F5 and Ctrl+F reach them from everywhere.
QList<QKeySequence> KeysOf(const std::string& name) {
  if (name == "mnuVerificar") return {QKeySequence(Qt::Key_F5)};
  if (name == "mnuProcurar") return {QKeySequence(Qt::CTRL | Qt::Key_F)};
  if (name == "mnuIncluir") return {QKeySequence(Qt::Key_Insert)};
  if (name == "mnuExcluir") return {QKeySequence(Qt::CTRL | Qt::Key_Delete)};
  if (name == "mnuConfirmar") return {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)};
  if (name == "mnuCancelar") return {QKeySequence(Qt::Key_Escape)};
  return {};
}

// The toolbar button an entry mirrors ("mnuX" -> "sbtX" of the same form); null when none.
host::TButtonFlat* ButtonOf(const host::TMenuItem& item) {
  if (item.Name().rfind("mnu", 0) != 0 || item.Owner() == nullptr) return nullptr;
  return dynamic_cast<host::TButtonFlat*>(item.Owner()->FindComponent("sbt" + item.Name().substr(3)));
}

}  // namespace

MenuMirror::MenuMirror(host::TMainMenu& menu, QMenuBar* bar, QAction* before, QObject* parent)
    : QObject(parent), menu_(&menu), bar_(bar), before_(before) {
  Rebuild();
}

MenuMirror::~MenuMirror() { Clear(); }

void MenuMirror::Abandon() {
  for (Subscription& s : subscriptions_) s.Abandon();
  subscriptions_.clear();
  menu_ = nullptr;
  Clear();
}

void MenuMirror::Clear() {
  subscriptions_.clear();
  actions_.clear();
  for (QMenu* m : menus_) {
    if (bar_) bar_->removeAction(m->menuAction());
    delete m;
  }
  menus_.clear();
}

void MenuMirror::Rebuild() {
  Clear();
  if (!menu_ || !bar_) return;
  subscriptions_.emplace_back(*menu_, [this](const std::string& property) {
    if (property == "Items") QTimer::singleShot(0, this, [this] { Rebuild(); });
  });
  for (host::TMenuItem* top : menu_->Items()) {
    auto* qmenu = new QMenu(QString::fromStdString(top->Caption()));
    qmenu->setObjectName(QString::fromStdString(top->Name()));
    menus_.push_back(qmenu);
    if (before_) {
      bar_->insertMenu(before_, qmenu);
    } else {
      bar_->addMenu(qmenu);
    }
    actions_[top] = qmenu->menuAction();
    for (host::TMenuItem* item : top->Items()) AddItem(item, qmenu);
    subscriptions_.emplace_back(*top, [this, top](const std::string& property) {
      if (property == "Items") {
        QTimer::singleShot(0, this, [this] { Rebuild(); });
      } else {
        Sync(top);
      }
    });
    Sync(top);
  }
}

void MenuMirror::AddItem(host::TMenuItem* item, QMenu* into) {
  QAction* action = nullptr;
  if (!item->Items().empty()) {
    QMenu* sub = into->addMenu(QString::fromStdString(item->Caption()));
    action = sub->menuAction();
    for (host::TMenuItem* child : item->Items()) AddItem(child, sub);
  } else if (item->Caption() == "-") {
    action = into->addSeparator();
  } else {
    action = into->addAction(QString::fromStdString(item->Caption()));
    const QList<QKeySequence> keys = KeysOf(item->Name());
    if (!keys.isEmpty()) {
      action->setShortcuts(keys);
      action->setShortcutContext(Qt::WindowShortcut);
    }
    connect(action, &QAction::triggered, this, [this, item] {
      if (!menu_) return;
      // The entry runs its button's handler, and only while that button may be pressed.
      if (host::TButtonFlat* button = ButtonOf(*item); button && !button->Enabled()) return;
      UserAction::Run([item] { item->Click(); });
    });
  }
  action->setObjectName(QString::fromStdString(item->Name()));
  actions_[item] = action;
  subscriptions_.emplace_back(*item, [this, item](const std::string& property) {
    if (property == "Items") {
      QTimer::singleShot(0, this, [this] { Rebuild(); });
    } else {
      Sync(item);
    }
  });
  Sync(item);
}

void MenuMirror::Sync(host::TMenuItem* item) {
  const auto it = actions_.find(item);
  if (it == actions_.end()) return;
  QAction* a = it->second;
  // The entry's key is shown as clerks read it ("Ctrl+Enter", not Qt's "Ctrl+Return").
  if (item->Caption() != "-") a->setText(ClerkWords::MenuText(QString::fromStdString(item->Caption()), KeysOf(item->Name())));
  a->setEnabled(item->Enabled());
  const bool top = item->ParentItem() == nullptr;
  a->setVisible(item->Visible() && (!top || shown_));
}

void MenuMirror::SetShown(bool shown) {
  shown_ = shown;
  for (QMenu* m : menus_) {
    for (const auto& [item, action] : actions_) {
      if (action == m->menuAction()) m->menuAction()->setVisible(shown && item->Visible());
    }
  }
}

QAction* MenuMirror::ActionOf(const host::TMenuItem* item) const {
  const auto it = actions_.find(item);
  return it == actions_.end() ? nullptr : it->second;
}

}  // namespace desktop
