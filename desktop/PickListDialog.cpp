#include "desktop/PickListDialog.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "desktop/DataSetTableModel.h"

namespace desktop {

PickListDialog::PickListDialog(host::TDataSet& dataSet, const QString& message, QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("pickListDialog"));
  setWindowTitle(QStringLiteral("Pesquisa"));
  model_ = new DataSetTableModel(dataSet, this);

  search_ = new QLineEdit(this);
  search_->setObjectName(QStringLiteral("pickSearch"));
  search_->setPlaceholderText(QStringLiteral("Digite para localizar"));
  table_ = new QTableView(this);
  table_->setObjectName(QStringLiteral("pickTable"));
  table_->setModel(model_);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->verticalHeader()->hide();
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
  table_->horizontalHeader()->setStretchLastSection(true);
  const int charWidth = table_->fontMetrics().horizontalAdvance(QLatin1Char('0'));
  int total = 0;
  for (int c = 0; c < model_->columnCount(); ++c) {
    const int w = std::clamp(model_->DisplayWidth(c) * charWidth + 12, 60, 480);
    table_->setColumnWidth(c, w);
    total += w;
  }
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("pickStatus"));

  auto* buttons = new QDialogButtonBox(this);
  // Alt+O, Alt+C (the letters alone go to the search box); Enter is OK.
  ok_ = buttons->addButton(QStringLiteral("&OK"), QDialogButtonBox::AcceptRole);
  ok_->setDefault(true);
  buttons->addButton(QStringLiteral("&Cancelar"), QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  // A row the mouse points at is a choice, whatever the search box says.
  connect(table_, &QTableView::pressed, this, [this] { matched_ = true; });
  connect(table_, &QTableView::doubleClicked, this, [this] {
    matched_ = true;
    accept();
  });
  connect(search_, &QLineEdit::textEdited, this, [this](const QString& t) { Locate(t); });

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(search_);
  layout->addWidget(table_);
  layout->addWidget(status_);
  layout->addWidget(buttons);
  resize(std::clamp(total + 40, 420, 900), 420);

  if (model_->rowCount() == 0) {
    status_->setText(message);
    ok_->setEnabled(false);
    search_->setEnabled(false);
  } else {
    status_->setText(QStringLiteral("%1 registro(s)").arg(model_->rowCount()));
    table_->selectRow(0);
  }
  search_->installEventFilter(this);
  search_->setFocus();
}

int PickListDialog::CurrentRow() const {
  const QModelIndex current = table_->currentIndex();
  return current.isValid() ? current.row() + 1 : 0;
}

bool PickListDialog::Locate(const QString& typed) {
  const int column = table_->currentIndex().isValid() ? table_->currentIndex().column() : 0;
  int row = model_->Find(typed, column);
  if (row < 0) row = model_->Find(typed, -1);
  matched_ = row >= 0 || typed.isEmpty();
  if (row < 0) {
    status_->setText(QStringLiteral("Nenhum registro começa com \"%1\"").arg(typed));
    // What is under the cursor is the last partial match, not what was asked for: Enter must not
    // pick it.
    table_->clearSelection();
    return false;
  }
  status_->setText(QStringLiteral("%1 registro(s)").arg(model_->rowCount()));
  const QModelIndex target = model_->index(row, std::max(column, 0));
  table_->setCurrentIndex(target);
  table_->selectRow(row);
  table_->scrollTo(target, QAbstractItemView::PositionAtCenter);
  return true;
}

void PickListDialog::accept() {
  const int row = CurrentRow();
  // Nothing to choose: Enter on an empty list, or after a search that found nothing, keeps the
  // list open and picks nothing.
  if (row == 0 || !matched_) return;
  chosen_ = row;
  QDialog::accept();
}

bool PickListDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == search_ && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    switch (key->key()) {
      case Qt::Key_Up:
      case Qt::Key_Down:
      case Qt::Key_PageUp:
      case Qt::Key_PageDown: {
        // The search box keeps the focus; the arrows move the table's cursor, to a row that can
        // be chosen again.
        QKeyEvent copy(key->type(), key->key(), key->modifiers());
        QCoreApplication::sendEvent(table_, &copy);
        matched_ = true;
        if (table_->currentIndex().isValid()) table_->selectRow(table_->currentIndex().row());
        return true;
      }
      default:
        break;
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace desktop
