// PickListDialog is the host's modal pick list (Pesquisar_Plus): a table of the visible columns of
// a record set (titles from the fields' display labels, texts through the fields' shown text), a
// search box that moves to the first row matching what is typed (in the chosen column first,
// then in any column), Enter or a double click to choose the row, Esc to close without a choice.
// While the text typed matches no row, nothing is selected and Enter chooses nothing (the list
// stays open); the arrows move to a row that can be chosen again.
// An empty record set shows the pick list's message (for instance "Não há Fornecedor
// Cadastrado.") and nothing can be chosen.
//
// The dialog only reads the record set (DataSetTableModel); positioning the record set on the
// chosen row is the caller's (QtHostServices::PickList).
//
// Used on the user-interface thread only. Not copyable (a QDialog).
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace host {
class TDataSet;
}

namespace desktop {

class DataSetTableModel;

class PickListDialog : public QDialog {
  Q_OBJECT

 public:
  // REQUIRES: dataSet outlives the dialog.
  PickListDialog(host::TDataSet& dataSet, const QString& message, QWidget* parent = nullptr);

  // The chosen row (1-based among the record set's visible rows) once accepted; 0 otherwise.
  int ChosenRow() const { return chosen_; }
  // The row under the table's cursor (1-based), 0 when none.
  int CurrentRow() const;

  QLineEdit* SearchBox() const { return search_; }
  QTableView* Table() const { return table_; }
  DataSetTableModel* Model() const { return model_; }

  // Moves the table's cursor to the first row matching `typed` (see DataSetTableModel::Find).
  // Returns false, leaving the cursor, when nothing matches.
  bool Locate(const QString& typed);

  void accept() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  DataSetTableModel* model_;
  QTableView* table_;
  QLineEdit* search_;
  QLabel* status_;
  QPushButton* ok_;
  int chosen_ = 0;
  bool matched_ = true;  // the search text (if any) matches the row under the cursor
};

}  // namespace desktop
