#include "desktop/ClerkWords.h"

#include <QAction>
#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <cstdio>

namespace desktop {

bool ClerkWords::InstallQtTranslation(QCoreApplication& app) {
  QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
  static QTranslator* installed = nullptr;
  if (installed) return true;
  auto* translator = new QTranslator(&app);
  const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  if (!translator->load(QStringLiteral("qtbase_pt_BR"), folder)) {
    std::fprintf(stderr, "pdi07310-desktop: a tradução dos textos do Qt (qtbase_pt_BR) não foi encontrada em %s; "
                         "instale o pacote qt6-translations-l10n\n", folder.toLocal8Bit().constData());
    delete translator;
    return false;
  }
  QCoreApplication::installTranslator(translator);
  installed = translator;
  return true;
}

QString ClerkWords::KeyText(const QKeySequence& keys) {
  if (keys.isEmpty()) return {};
  const QKeyCombination combination = keys[0];
  Qt::KeyboardModifiers mods = combination.keyboardModifiers();
  const Qt::Key key = combination.key();
  QString name;
  switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter: name = QStringLiteral("Enter"); break;
    case Qt::Key_Backtab:
      mods |= Qt::ShiftModifier;
      name = QStringLiteral("Tab");
      break;
    case Qt::Key_Tab: name = QStringLiteral("Tab"); break;
    case Qt::Key_Escape: name = QStringLiteral("Esc"); break;
    case Qt::Key_Insert: name = QStringLiteral("Insert"); break;
    case Qt::Key_Delete: name = QStringLiteral("Del"); break;
    case Qt::Key_PageUp: name = QStringLiteral("PgUp"); break;
    case Qt::Key_PageDown: name = QStringLiteral("PgDn"); break;
    case Qt::Key_Home: name = QStringLiteral("Home"); break;
    case Qt::Key_End: name = QStringLiteral("End"); break;
    case Qt::Key_Up: name = QStringLiteral("Seta para cima"); break;
    case Qt::Key_Down: name = QStringLiteral("Seta para baixo"); break;
    default: name = QKeySequence(key).toString(QKeySequence::PortableText); break;
  }
  QString text;
  if (mods.testFlag(Qt::ControlModifier)) text += QStringLiteral("Ctrl+");
  if (mods.testFlag(Qt::AltModifier)) text += QStringLiteral("Alt+");
  if (mods.testFlag(Qt::ShiftModifier)) text += QStringLiteral("Shift+");
  return text + name;
}

QString ClerkWords::MenuText(const QString& caption, const QList<QKeySequence>& keys) {
  if (keys.isEmpty() || keys.first().isEmpty()) return caption;
  return caption + QLatin1Char('\t') + KeyText(keys.first());
}

void ClerkWords::SetKeys(QAction& action, const QString& caption, const QList<QKeySequence>& keys) {
  action.setShortcuts(keys);
  action.setText(MenuText(caption, keys));
}

}  // namespace desktop
