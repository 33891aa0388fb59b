#include "desktop/DataSetTableModel.h"

#include "host/data/DataSet.h"
#include "host/data/Field.h"
#include "host/data/RowReader.h"

namespace desktop {

namespace {

// Lower case without accents, for matching what the user types.
QString Fold(const QString& s) {
  const QString decomposed = s.normalized(QString::NormalizationForm_D);
  QString out;
  out.reserve(decomposed.size());
  for (QChar c : decomposed) {
    if (c.category() == QChar::Mark_NonSpacing) continue;
    out.append(c.toLower());
  }
  return out;
}

QString DigitsOf(const QString& s) {
  QString out;
  for (QChar c : s)
    if (c.isDigit()) out.append(c);
  return out;
}

bool AllDigits(const QString& s) {
  for (QChar c : s)
    if (!c.isDigit()) return false;
  return !s.isEmpty();
}

}  // namespace

DataSetTableModel::DataSetTableModel(host::TDataSet& dataSet, QObject* parent)
    : QAbstractTableModel(parent), dataSet_(&dataSet) {
  for (host::TField* f : dataSet.Fields())
    if (f->Visible) fields_.push_back(f);
  if (!dataSet.Active()) return;
  const int count = dataSet.RecordCount();
  rows_.reserve(static_cast<std::size_t>(count));
  for (int r = 1; r <= count; ++r) {
    QStringList texts;
    for (const std::string& t : host::RowReader::Texts(fields_, r)) texts.append(QString::fromStdString(t));
    rows_.push_back(std::move(texts));
  }
}

int DataSetTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int DataSetTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(fields_.size());
}

const QString& DataSetTableModel::Text(int row, int column) const {
  return rows_[static_cast<std::size_t>(row)][column];
}

int DataSetTableModel::DisplayWidth(int column) const {
  const host::TField* f = fields_[static_cast<std::size_t>(column)];
  return f->DisplayWidth > 0 ? f->DisplayWidth : f->Size();
}

QVariant DataSetTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || role != Qt::DisplayRole) return {};
  return Text(index.row(), index.column());
}

QVariant DataSetTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Vertical) return section + 1;
  if (section < 0 || section >= columnCount()) return {};
  return QString::fromStdString(fields_[static_cast<std::size_t>(section)]->DisplayName());
}

int DataSetTableModel::Find(const QString& typed, int column, int from) const {
  const QString key = Fold(typed.trimmed());
  if (key.isEmpty() || rows_.empty()) return -1;
  const bool numeric = AllDigits(key);
  const int n = static_cast<int>(rows_.size());
  const int first = (from < 0 || from >= n) ? 0 : from;
  auto matches = [&](const QString& cell) {
    if (Fold(cell).startsWith(key)) return true;
    return numeric && DigitsOf(cell).startsWith(key);
  };
  for (int i = 0; i < n; ++i) {
    const int r = (first + i) % n;
    const QStringList& texts = rows_[static_cast<std::size_t>(r)];
    if (column >= 0) {
      if (column < texts.size() && matches(texts[column])) return r;
    } else {
      for (const QString& cell : texts)
        if (matches(cell)) return r;
    }
  }
  return -1;
}

}  // namespace desktop
