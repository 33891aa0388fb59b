#include "desktop/WindowLayout.h"

#include <QByteArray>
#include <QDockWidget>
#include <QGuiApplication>
#include <QScreen>
#include <QMainWindow>
#include <QStringList>

#include "desktop/FormWindow.h"
#include "desktop/GridView.h"
#include "desktop/SplitterView.h"
#include "desktop/UserAction.h"
#include "host/controls/Column.h"
#include "host/controls/Control.h"
#include "host/controls/DBGrid.h"
#include "host/controls/Form.h"

namespace desktop {

namespace {

const QString kGeometryKey = QStringLiteral("Janela/Geometria");
const QString kStateKey = QStringLiteral("Janela/Estado");
const QString kArrangementKey = QStringLiteral("Janela/Arranjo");

QString Q(const std::string& s) { return QString::fromStdString(s); }

QString ColumnsKey(const FormWindow& window, const GridView& grid) {
  return QStringLiteral("Colunas/") + Q(window.Form()->Name()) + QLatin1Char('.') + grid.objectName();
}

QString ScreenKey(const FormWindow& window, const char* what) {
  return QStringLiteral("Telas/") + Q(window.Form()->Name()) + QLatin1Char('.') + QLatin1String(what);
}

QString SplitterKey(const FormWindow& window, const SplitterView& splitter) {
  return QStringLiteral("Divisores/") + Q(window.Form()->Name()) + QLatin1Char('.') + splitter.objectName();
}

}  // namespace

void WindowLayout::RestoreMain(QMainWindow& window, QDockWidget* panel) const {
  window.resize(settings_.WindowWidth(), settings_.WindowHeight());
  if (!settings_.WindowSizeGiven()) {
    const QByteArray geometry = store_.Read(kGeometryKey).toByteArray();
    if (!geometry.isEmpty()) {
      window.restoreGeometry(geometry);
    } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      // A default size that the screen cannot hold with the window's frame (1024x768 on a
      // 1024x768 screen hid the status bar): the whole screen instead.
      const QSize room = screen->availableGeometry().size();
      if (settings_.WindowWidth() >= room.width() || settings_.WindowHeight() >= room.height()) {
        window.setWindowState(window.windowState() | Qt::WindowMaximized);
      }
    }
  }
  const QByteArray state = store_.Read(kStateKey).toByteArray();
  if ((state.isEmpty() || !window.restoreState(state)) && panel) window.resizeDocks({panel}, {kPanelHeight}, Qt::Vertical);
}

void WindowLayout::RememberMain(const QMainWindow& window, const std::vector<FormWindow*>& screens) const {
  if (!store_.Enabled()) return;
  for (FormWindow* screen : screens)
    if (screen && !screen->Detached()) RememberScreen(*screen);
  store_.Write(kGeometryKey, window.saveGeometry());
  store_.Write(kStateKey, window.saveState());
  const Arrangement arrangement = Remembered();
  store_.Write(kArrangementKey, arrangement == Arrangement::Tiled      ? QStringLiteral("lado a lado")
                                : arrangement == Arrangement::Cascaded ? QStringLiteral("cascata")
                                                                       : QStringLiteral("nenhum"));
}

WindowLayout::Arrangement WindowLayout::Remembered() const {
  if (arrangement_) return *arrangement_;
  const QString text = store_.Read(kArrangementKey).toString();
  if (text == QLatin1String("lado a lado")) return Arrangement::Tiled;
  if (text == QLatin1String("cascata")) return Arrangement::Cascaded;
  if (text == QLatin1String("nenhum")) return Arrangement::None;
  // Nothing chosen yet: the screens share the whole document area.
  return Arrangement::Tiled;
}

void WindowLayout::RestoreWindowState(FormWindow& window) const {
  host::TForm* form = window.Form();
  if (!form || !store_.Enabled()) return;
  const QStringList bounds = store_.Read(ScreenKey(window, "Posicao")).toString().split(QLatin1Char(','));
  if (bounds.size() != 4) return;
  int v[4];
  for (int i = 0; i < 4; ++i) {
    bool ok = false;
    v[i] = bounds[i].toInt(&ok);
    if (!ok || v[i] < -4000 || v[i] > 8000) return;
  }
  if (v[2] < 120 || v[3] < 80) return;
  // As the user's own move and resize would: into the form's model, which the window follows.
  UserAction::Run([&] {
    form->SetLeft(v[0]);
    form->SetTop(v[1]);
    form->SetWidth(v[2]);
    form->SetHeight(v[3]);
  });
}

void WindowLayout::RestoreScreen(FormWindow& window) const {
  if (!store_.Enabled() || !window.Form()) return;
  for (GridView* grid : window.Grids()) {
    if (!grid->Grid()) continue;
    const QStringList widths = store_.Read(ColumnsKey(window, *grid)).toString().split(QLatin1Char(','));
    const std::vector<host::TColumn*> columns = grid->Grid()->Columns();
    // Only a list that matches the grid's columns is taken; the last column takes the rest anyway.
    if (widths.size() != static_cast<int>(columns.size())) continue;
    UserAction::Run([&] {
      for (std::size_t i = 0; i + 1 < columns.size(); ++i) {
        bool ok = false;
        const int w = widths[static_cast<int>(i)].toInt(&ok);
        if (ok && w >= 8 && w <= 4000 && columns[i]->Width() != w) columns[i]->SetWidth(w);
      }
    });
  }
  RestoreSplitters(window);
}

void WindowLayout::RememberScreen(FormWindow& window) const {
  if (!store_.Enabled() || !window.Form()) return;
  const host::TForm* form = window.Form();
  store_.Write(ScreenKey(window, "Posicao"), QStringLiteral("%1,%2,%3,%4")
                                                 .arg(form->Left()).arg(form->Top()).arg(form->Width()).arg(form->Height()));
  for (GridView* grid : window.Grids()) {
    if (!grid->Grid()) continue;
    QStringList widths;
    for (int c = 0; c < grid->model()->columnCount(); ++c) widths << QString::number(grid->columnWidth(c));
    store_.Write(ColumnsKey(window, *grid), widths.join(QLatin1Char(',')));
  }
  RememberSplitters(window);
}

void WindowLayout::RestoreSplitters(FormWindow& window) const {
  for (SplitterView* splitter : window.Splitters()) {
    host::TControl* target = splitter->Target();
    if (!target) continue;
    bool ok = false;
    const int size = store_.Read(SplitterKey(window, *splitter)).toInt(&ok);
    if (!ok || size < 8 || size > 4000) continue;
    // As a finished drag would: the neighbour's size in its model, the layout follows.
    UserAction::Run([&] {
      if (splitter->Vertical()) {
        if (target->Height() != size) target->SetHeight(size);
      } else if (target->Width() != size) {
        target->SetWidth(size);
      }
    });
  }
}

void WindowLayout::RememberSplitters(FormWindow& window) const {
  for (SplitterView* splitter : window.Splitters()) {
    const host::TControl* target = splitter->Target();
    if (!target) continue;
    store_.Write(SplitterKey(window, *splitter), splitter->Vertical() ? target->Height() : target->Width());
  }
}

}  // namespace desktop
