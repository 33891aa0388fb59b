// ClerkWords holds what makes the desktop speak Brazilian Portuguese everywhere, whatever the
// system's locale: Qt's own texts (the file chooser, the details button of a message box, a text
// box's context menu, a document window's menu) from the Qt translations Debian ships
// (qt6-translations-l10n), and the names of keys as clerks read them on their keyboards
// ("Ctrl+Enter", "Ctrl+Shift+Tab", "Ctrl+PgDn") in menus and hints.
//
// Used on the user-interface thread only. Not instantiable: static members only.
#pragma once

#include <QKeySequence>
#include <QList>
#include <QString>

class QAction;
class QCoreApplication;

namespace desktop {

class ClerkWords {
 public:
  ClerkWords() = delete;

  // Makes Brazilian Portuguese the default locale and installs Qt's pt_BR translation into `app`
  // (once per process). Returns false, saying so on standard error, when the translation file
  // cannot be loaded (Qt's texts then stay in English).
  static bool InstallQtTranslation(QCoreApplication& app);

  // The key combination as a clerk reads it: "Ctrl+Enter" (not "Ctrl+Return"), "Ctrl+Shift+Tab"
  // (not "Backtab"), "Esc", "Insert", "Ctrl+Del", "Ctrl+PgDn"; empty for an empty sequence.
  static QString KeyText(const QKeySequence& keys);
  // The text of a menu entry showing its first key in those words ("&Confirmar\tCtrl+Enter"):
  // a menu shows what follows the tab instead of Qt's own name of the shortcut.
  static QString MenuText(const QString& caption, const QList<QKeySequence>& keys);
  // Sets `action`'s keys and its text (MenuText of `caption`).
  static void SetKeys(QAction& action, const QString& caption, const QList<QKeySequence>& keys);
};

}  // namespace desktop
