// DataSetTableModel lists the rows of a record set for the host's dialogs (pick list, search):
// one column per visible field, titled by the field's display label, each cell the field's shown
// text (through OnGetText, so taxpayer numbers appear formatted). The texts are read once, when
// the model is built, through host::RowReader: the record set's current row does not move and no
// event of the screen runs. The dialogs are modal, so the record set cannot change under them.
//
// Used on the user-interface thread only. Not copyable (a QObject).
#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <vector>

namespace host {
class TDataSet;
class TField;
}  // namespace host

namespace desktop {

class DataSetTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  // Reads every visible row of `dataSet` (which may be closed: the model is then empty).
  // REQUIRES: dataSet outlives the model.
  explicit DataSetTableModel(host::TDataSet& dataSet, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

  host::TDataSet& DataSet() const { return *dataSet_; }
  const std::vector<host::TField*>& Fields() const { return fields_; }
  // The shown text of row (0-based) and column.
  const QString& Text(int row, int column) const;
  // Display width in characters of column's field (its DisplayWidth, else its size).
  int DisplayWidth(int column) const;

  // The first row at or after `from` (wrapping around) whose text in `column` matches `typed`:
  // a prefix match, without regard to letter case or accents; a typed number also matches the
  // digits of a formatted one ("1234" finds "12.34..."). With column -1 every column is tried.
  // Returns -1 when no row matches. An empty `typed` matches nothing.
  int Find(const QString& typed, int column, int from = 0) const;

 private:
  host::TDataSet* dataSet_;
  std::vector<host::TField*> fields_;
  std::vector<QStringList> rows_;
};

}  // namespace desktop
