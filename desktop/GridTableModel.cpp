#include "desktop/GridTableModel.h"

#include <QString>

#include "host/controls/Column.h"
#include "host/controls/DBGrid.h"
#include "host/data/DataSet.h"
#include "host/data/Field.h"
#include "host/data/RowReader.h"

namespace desktop {

GridTableModel::GridTableModel(host::TDBGrid& grid, QObject* parent)
    : QAbstractTableModel(parent), grid_(&grid) {
  columns_ = grid.Columns();
  rows_ = grid.RowCount();
}

host::TColumn* GridTableModel::ColumnAt(int column) const {
  if (column < 0 || column >= static_cast<int>(columns_.size())) return nullptr;
  return columns_[static_cast<std::size_t>(column)];
}

int GridTableModel::ColumnWidth(int column, int charWidth) const {
  const host::TColumn* c = ColumnAt(column);
  if (!c) return 64;
  if (c->Width() > 0) return c->Width();
  const host::TField* f = c->Field();
  const int chars = f ? (f->DisplayWidth > 0 ? f->DisplayWidth : f->Size()) : 10;
  return chars * charWidth + 8;
}

bool GridTableModel::SameColumns() const { return grid_ && grid_->Columns() == columns_; }

void GridTableModel::Reload() {
  beginResetModel();
  columns_ = grid_ ? grid_->Columns() : std::vector<host::TColumn*>{};
  rows_ = grid_ ? grid_->RowCount() : 0;
  endResetModel();
  emit ColumnsReset();
  emit CursorMoved();
}

void GridTableModel::Abandon() {
  beginResetModel();
  grid_ = nullptr;
  columns_.clear();
  rows_ = 0;
  endResetModel();
}

void GridTableModel::OnModel(const std::string& property) {
  if (!grid_) return;
  if (property == "Data" || property == "Row" || property == "State" || property == "DataSource") {
    emit RecordChanged();
  }
  if (property == "Columns" || property == "DataSource") {
    if (property == "Columns" && SameColumns()) {
      // Same columns: only titles, widths or button styles changed.
      emit headerDataChanged(Qt::Horizontal, 0, std::max(0, columnCount() - 1));
      emit ColumnsReset();
      emit SettingsChanged();
      return;
    }
    Reload();
    return;
  }
  if (property == "Data") {
    const int rows = grid_->RowCount();
    if (rows != rows_ || !SameColumns()) {
      Reload();
      return;
    }
    if (rows_ > 0 && !columns_.empty()) {
      emit dataChanged(index(0, 0), index(rows_ - 1, columnCount() - 1));
      emit headerDataChanged(Qt::Vertical, 0, rows_ - 1);
    }
    emit CursorMoved();
    return;
  }
  if (property == "Row" || property == "SelectedIndex") {
    if (grid_->RowCount() != rows_) {
      Reload();
      return;
    }
    if (rows_ > 0) emit headerDataChanged(Qt::Vertical, 0, rows_ - 1);
    emit CursorMoved();
    return;
  }
  if (property == "State") {
    if (grid_->RowCount() != rows_) {
      Reload();
      return;
    }
    if (rows_ > 0) emit headerDataChanged(Qt::Vertical, 0, rows_ - 1);
    emit SettingsChanged();
    return;
  }
  if (property == "ReadOnly" || property == "Options") emit SettingsChanged();
}

int GridTableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int GridTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant GridTableModel::data(const QModelIndex& index, int role) const {
  if (!grid_ || !index.isValid() || role != Qt::DisplayRole) return {};
  const host::TColumn* c = ColumnAt(index.column());
  if (!c || index.row() >= rows_) return {};
  try {
    const host::TField* f = c->Field();
    if (!f) return {};
    return QString::fromStdString(host::RowReader::Text(*f, index.row() + 1));
  } catch (...) {
    // Drawing never raises into Qt; a text that cannot be read is drawn empty.
    return {};
  }
}

QVariant GridTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (!grid_ || role != Qt::DisplayRole) return {};
  if (orientation == Qt::Horizontal) {
    const host::TColumn* c = ColumnAt(section);
    return c ? QString::fromStdString(c->TitleText()) : QVariant();
  }
  if (section + 1 != grid_->CurrentRow()) return QString();
  const host::TDataSet* ds = grid_->DataSet();
  if (!ds) return QString();
  switch (ds->State()) {
    case host::TDataSetState::dsInsert:
      return QStringLiteral("*");
    case host::TDataSetState::dsEdit:
      return QStringLiteral("I");
    default:
      return QStringLiteral("▶");
  }
}

Qt::ItemFlags GridTableModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

}  // namespace desktop
