#include "desktop/GridView.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMainWindow>
#include <QStatusBar>
#include <QMouseEvent>
#include <QScrollBar>
#include <QToolButton>

#include "desktop/AccessibleNames.h"
#include "desktop/GridTableModel.h"
#include "desktop/UserAction.h"
#include "host/controls/Column.h"
#include "host/controls/DBGrid.h"
#include "host/core/Events.h"
#include "host/data/Field.h"

namespace desktop {

namespace {

constexpr int kEllipsisWidth = 18;
constexpr int kMinLastColumn = 60;

host::TShiftState ShiftOf(Qt::KeyboardModifiers m) {
  host::TShiftState s;
  s.shift = m.testFlag(Qt::ShiftModifier);
  s.ctrl = m.testFlag(Qt::ControlModifier);
  s.alt = m.testFlag(Qt::AltModifier);
  return s;
}

}  // namespace

GridView::GridView(host::TDBGrid& grid, QWidget* parent) : QTableView(parent), grid_(&grid) {
  setObjectName(QString::fromStdString(grid.Name()));
  adapter_ = new GridTableModel(grid, this);
  setModel(adapter_);
  setFocusPolicy(Qt::NoFocus);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  setTabKeyNavigation(false);
  setWordWrap(false);
  setCornerButtonEnabled(false);
  NameTableParts(*this);
  horizontalHeader()->setSectionsClickable(false);
  horizontalHeader()->setHighlightSections(false);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  verticalHeader()->setFixedWidth(14);
  verticalHeader()->setDefaultAlignment(Qt::AlignCenter);

  ellipsis_ = new QToolButton(viewport());
  ellipsis_->setObjectName(objectName() + QStringLiteral("_ellipsis"));
  ellipsis_->setText(QStringLiteral("…"));
  ellipsis_->setToolTip(QStringLiteral("Pesquisar"));
  ellipsis_->setFocusPolicy(Qt::NoFocus);
  ellipsis_->hide();
  connect(ellipsis_, &QToolButton::clicked, this, [this] { ClickEllipsis(); });

  connect(adapter_, &GridTableModel::CursorMoved, this, [this] { SyncCursor(); });
  connect(adapter_, &GridTableModel::ColumnsReset, this, [this] { ApplyWidths(); });
  connect(adapter_, &GridTableModel::SettingsChanged, this, [this] { ApplySettings(); });
  connect(horizontalHeader(), &QHeaderView::sectionResized, this, [this](int index, int, int size) {
    if (syncing_ || !grid_) return;
    host::TColumn* c = adapter_->ColumnAt(index);
    // The last column's drawn width is the leftover; only the others' drags are the user's.
    if (index + 1 >= adapter_->columnCount()) return;
    if (c && c->Width() != size) UserAction::Run([&] { c->SetWidth(size); });
    FitLastColumn();
  });
  OnModel("Color");
  ApplySettings();
  ApplyWidths();
  SyncCursor();
}

void GridView::OnModel(const std::string& property) {
  if (!grid_) return;
  if (property == "Color") {
    QPalette pal = palette();
    const std::string& colour = grid_->Color();
    if (colour == "clInfoBk") {
      pal.setColor(QPalette::Base, QApplication::palette().color(QPalette::ToolTipBase));
      pal.setColor(QPalette::Text, QApplication::palette().color(QPalette::ToolTipText));
    } else {
      pal.setColor(QPalette::Base, QApplication::palette().color(QPalette::Base));
      pal.setColor(QPalette::Text, QApplication::palette().color(QPalette::Text));
    }
    setPalette(pal);
    return;
  }
  if (property == "BorderStyle") {
    setFrameShape(grid_->BorderStyle() == "bsNone" ? QFrame::NoFrame : QFrame::StyledPanel);
    return;
  }
  adapter_->OnModel(property);
}

void GridView::Abandon() {
  grid_ = nullptr;
  adapter_->Abandon();
  ellipsis_->hide();
}

void GridView::ApplySettings() {
  if (!grid_) return;
  const host::TDBGridOptions o = grid_->Options();
  horizontalHeader()->setVisible(o.Contains(host::dgTitles));
  verticalHeader()->setVisible(o.Contains(host::dgIndicator));
  setShowGrid(o.Contains(host::dgColLines) || o.Contains(host::dgRowLines));
  horizontalHeader()->setSectionResizeMode(o.Contains(host::dgColumnResize) ? QHeaderView::Interactive
                                                                            : QHeaderView::Fixed);
  setFrameShape(grid_->BorderStyle() == "bsNone" ? QFrame::NoFrame : QFrame::StyledPanel);
  PlaceEllipsis();
}

void GridView::ApplyWidths() {
  if (!grid_) return;
  syncing_ = true;
  const int charWidth = fontMetrics().horizontalAdvance(QLatin1Char('0'));
  for (int c = 0; c < adapter_->columnCount(); ++c) setColumnWidth(c, adapter_->ColumnWidth(c, charWidth));
  syncing_ = false;
  FitLastColumn();
}

void GridView::FitLastColumn() {
  if (!grid_) return;
  const int count = adapter_->columnCount();
  if (count < 2) {
    PlaceEllipsis();
    return;
  }
  int others = 0;
  for (int c = 0; c + 1 < count; ++c) others += columnWidth(c);
  const int room = viewport()->width() - others;
  syncing_ = true;
  setColumnWidth(count - 1, std::max(kMinLastColumn, room));
  syncing_ = false;
  PlaceEllipsis();
}

void GridView::SyncCursor() {
  if (!grid_) return;
  syncing_ = true;
  const int row = grid_->CurrentRow() - 1;
  const int column = grid_->SelectedIndex();
  if (row >= 0 && row < adapter_->rowCount() && column >= 0 && column < adapter_->columnCount()) {
    const QModelIndex target = adapter_->index(row, column);
    selectionModel()->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect);
    scrollTo(target);
  } else {
    selectionModel()->clearSelection();
    selectionModel()->setCurrentIndex({}, QItemSelectionModel::NoUpdate);
  }
  viewport()->update();
  syncing_ = false;
  PlaceEllipsis();
}

void GridView::PlaceEllipsis() {
  if (!grid_) {
    ellipsis_->hide();
    return;
  }
  const host::TColumn* c = adapter_->ColumnAt(grid_->SelectedIndex());
  const int row = grid_->CurrentRow() - 1;
  const bool show = c && c->ButtonStyle() == host::TColumnButtonStyle::cbsEllipsis && row >= 0 &&
                    row < adapter_->rowCount();
  if (!show) {
    ellipsis_->hide();
    return;
  }
  const QRect cell = visualRect(adapter_->index(row, grid_->SelectedIndex()));
  if (!cell.isValid() || !viewport()->rect().intersects(cell)) {
    ellipsis_->hide();
    return;
  }
  ellipsis_->setGeometry(cell.right() - kEllipsisWidth + 1, cell.top(), kEllipsisWidth, cell.height());
  ellipsis_->show();
  ellipsis_->raise();
}

void GridView::resizeEvent(QResizeEvent* event) {
  QTableView::resizeEvent(event);
  FitLastColumn();
}

bool GridView::viewportEvent(QEvent* event) {
  const bool handled = QTableView::viewportEvent(event);
  // A scroll bar coming or going changes the room of the columns.
  if (event->type() == QEvent::Resize) FitLastColumn();
  return handled;
}

void GridView::scrollContentsBy(int dx, int dy) {
  QTableView::scrollContentsBy(dx, dy);
  PlaceEllipsis();
}

bool GridView::RequestFocus() {
  if (!grid_) return false;
  if (!focusRequest_) return true;
  return focusRequest_();
}

bool GridView::Act(const std::function<void()>& action) {
  if (!grid_) return false;
  const bool ok = UserAction::Run(action);
  SyncCursor();
  return ok;
}

bool GridView::ClickCell(int row, int column) {
  if (!RequestFocus()) return false;
  return Act([&] {
    if (column != grid_->SelectedIndex()) grid_->SetSelectedIndex(column);
    if (row + 1 != grid_->CurrentRow()) grid_->MoveToRow(row + 1);
  });
}

bool GridView::ClickEllipsis() {
  if (!RequestFocus()) return false;
  bool ran = false;
  Act([&] { ran = grid_->ClickEllipsis(); });
  return ran;
}

void GridView::mousePressEvent(QMouseEvent* event) {
  if (!grid_) return;
  const QModelIndex index = indexAt(event->position().toPoint());
  if (event->button() != Qt::LeftButton || !index.isValid()) {
    RequestFocus();
    return;
  }
  ClickCell(index.row(), index.column());
}

void GridView::mouseMoveEvent(QMouseEvent*) {
  // Dragging does not select: the model's current cell is the only selection.
}

void GridView::mouseReleaseEvent(QMouseEvent*) {}

void GridView::mouseDoubleClickEvent(QMouseEvent* event) { mousePressEvent(event); }

bool GridView::event(QEvent* event) {
  // The grid's own keys stay the grid's even where a menu entry shows the same key (Incluir:
  // Insert, Excluir: Ctrl+Delete, Cancelar: Esc, Confirmar: Ctrl+Enter, here the pick list).
  if (event->type() == QEvent::ShortcutOverride) {
    auto* key = static_cast<QKeyEvent*>(event);
    const bool ctrl = key->modifiers().testFlag(Qt::ControlModifier);
    const int k = key->key();
    if (k == Qt::Key_Insert || k == Qt::Key_Escape || (ctrl && k == Qt::Key_Delete) ||
        (ctrl && (k == Qt::Key_Return || k == Qt::Key_Enter))) {
      event->accept();
      return true;
    }
  }
  // Tab and Shift+Tab belong to the grid (cell to cell), not to Qt's focus chain.
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
      HandleKey(key);
      return true;
    }
  }
  return QTableView::event(event);
}

void GridView::keyPressEvent(QKeyEvent* event) { HandleKey(event); }

void GridView::HandleKey(QKeyEvent* event) {
  if (!grid_) return;
  event->accept();
  // Keys belong to the grid only while the form's focus is on it.
  if (!RequestFocus()) return;
  host::TDBGrid* g = grid_;
  const Qt::KeyboardModifiers mods = event->modifiers();
  const host::TShiftState shift = ShiftOf(mods);
  const bool ctrl = mods.testFlag(Qt::ControlModifier);
  const int columns = adapter_->columnCount();
  switch (event->key()) {
    case Qt::Key_Tab:
      Act([&] { g->KeyDown(host::VK_TAB, host::TShiftState{false, shift.alt, shift.ctrl}); });
      return;
    case Qt::Key_Backtab:
      Act([&] { g->KeyDown(host::VK_TAB, host::TShiftState{true, shift.alt, shift.ctrl}); });
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (ctrl) {
        ClickEllipsis();
      } else {
        Act([&] { g->KeyDown(host::VK_RETURN, shift); });
      }
      return;
    case Qt::Key_Escape:
      Act([&] { g->KeyDown(host::VK_ESCAPE, shift); });
      return;
    case Qt::Key_Up:
      Act([&] { g->KeyDown(host::VK_UP, shift); });
      return;
    case Qt::Key_Down:
      if (mods.testFlag(Qt::AltModifier)) {
        ClickEllipsis();
      } else {
        Act([&] { g->KeyDown(host::VK_DOWN, shift); });
      }
      return;
    case Qt::Key_Insert:
      Act([&] { g->KeyDown(host::VK_INSERT, shift); });
      return;
    case Qt::Key_Delete:
      if (ctrl) Act([&] { g->KeyDown(host::VK_DELETE, shift); });
      return;
    case Qt::Key_Left:
      Act([&] {
        if (g->SelectedIndex() > 0) g->SetSelectedIndex(g->SelectedIndex() - 1);
      });
      return;
    case Qt::Key_Right:
      Act([&] {
        if (g->SelectedIndex() + 1 < columns) g->SetSelectedIndex(g->SelectedIndex() + 1);
      });
      return;
    case Qt::Key_Home:
      Act([&] {
        if (ctrl) {
          g->MoveToRow(1);
        } else if (columns > 0) {
          g->SetSelectedIndex(0);
        }
      });
      return;
    case Qt::Key_End:
      Act([&] {
        if (ctrl) {
          g->MoveToRow(g->RowCount());
        } else if (columns > 0) {
          g->SetSelectedIndex(columns - 1);
        }
      });
      return;
    case Qt::Key_PageUp:
    case Qt::Key_PageDown: {
      const int page = std::max(1, viewport()->height() / std::max(1, rowHeight(0)) - 1);
      const int step = event->key() == Qt::Key_PageUp ? -page : page;
      Act([&] {
        const int target = std::clamp(g->CurrentRow() + step, 1, std::max(1, g->RowCount()));
        g->MoveToRow(target);
      });
      return;
    }
    case Qt::Key_Backspace:
      Act([&] { g->TypeChar(static_cast<char>(host::VK_BACK)); });
      return;
    default:
      break;
  }
  if (ctrl || mods.testFlag(Qt::AltModifier) || mods.testFlag(Qt::MetaModifier)) return;
  const QString text = event->text();
  if (text.isEmpty()) return;
  // The platform types one byte at a time: only printable ASCII reaches the cell (codes,
  // taxpayer numbers and branch codes are ASCII); other characters are dropped here.
  const bool editable = g->CanEditSelectedCell();
  bool refused = false;
  Act([&] {
    for (QChar ch : text) {
      const char16_t u = ch.unicode();
      if (u >= 0x20 && u < 0x7f) {
        g->TypeChar(static_cast<char>(u));
        refused = refused || g->LastTypingRefused();
      }
    }
  });
  if (grid_ && (!editable || refused)) SayNotEditable(refused);
}

void GridView::SayNotEditable(bool storedRow) {
  // A key typed where it cannot go is never lost silently: a beep, and the status bar says why.
  QApplication::beep();
  QString why;
  const host::TColumn* column = adapter_->ColumnAt(grid_->SelectedIndex());
  const QString title = column ? QString::fromStdString(column->TitleText()) : QString();
  const host::TField* field = grid_->SelectedField();
  if (storedRow) {
    why = QStringLiteral("Uma linha gravada não é alterada; para um novo registro, use Insert.");
  } else if (grid_->ReadOnly()) {
    why = QStringLiteral("Esta lista não aceita digitação agora.");
  } else if (grid_->RowCount() == 0) {
    why = QStringLiteral("A lista está vazia; para um novo registro, use Insert.");
  } else if ((column && column->ReadOnly()) || (field && field->ReadOnly)) {
    why = QStringLiteral("A coluna %1 não pode ser editada; digite o código na primeira coluna.").arg(title);
  } else {
    why = QStringLiteral("Esta célula não pode ser editada.");
  }
  emit NotEditable(why);
  if (auto* main = qobject_cast<QMainWindow*>(window())) main->statusBar()->showMessage(why, 6000);
}

}  // namespace desktop
