// GridTableModel is the Qt item model of a data grid (host::TDBGrid): its rows are the grid's
// visible rows, its columns the grid's columns, titled by the column titles; every cell is the
// field's shown text (through OnGetText) read by host::RowReader, so the model holds no copy of the
// data. The vertical header shows the platform's row indicator on the current row ("▶" browsing,
// "*" inserting, "I" editing).
//
// The adapter does not subscribe to the grid itself: the form's window holds the one observer
// of each model and passes the grid's property changes to OnModel, which turns them into Qt's
// model signals (a reset when rows or columns change, dataChanged when only values changed), into
// CursorMoved / SettingsChanged for the view, and into RecordChanged for whoever follows the
// current record from outside the grid (the history panel).
//
// Used on the user-interface thread only. Not copyable (a QObject).
#pragma once

#include <QAbstractTableModel>
#include <string>
#include <vector>

namespace host {
class TColumn;
class TDBGrid;
}  // namespace host

namespace desktop {

class GridTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  // REQUIRES: grid outlives the adapter, or Abandon() is called before it dies.
  explicit GridTableModel(host::TDBGrid& grid, QObject* parent = nullptr);

  host::TDBGrid* Grid() const { return grid_; }
  // The grid's column shown at `column`; null when out of range or abandoned.
  host::TColumn* ColumnAt(int column) const;
  // Width in pixels of `column` (the column's Width, else its field's display width in
  // characters measured with `charWidth`).
  int ColumnWidth(int column, int charWidth) const;

  // A property of the grid changed (see the class comment).
  void OnModel(const std::string& property);
  // The grid is gone: the adapter becomes empty and never touches it again.
  void Abandon();

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 signals:
  // The grid's current row or selected column moved.
  void CursorMoved();
  // Columns were rebuilt: widths and the current cell must be set again.
  void ColumnsReset();
  // Read-only flag, options, state or column button styles changed.
  void SettingsChanged();
  // The grid's record set changed its rows, values, current row or state, or the grid changed its
  // data source. Emitted from inside the models' work: a receiver reads the models later, once
  // they are idle.
  void RecordChanged();

 private:
  void Reload();
  bool SameColumns() const;

  host::TDBGrid* grid_;
  std::vector<host::TColumn*> columns_;
  int rows_ = 0;
};

}  // namespace desktop
