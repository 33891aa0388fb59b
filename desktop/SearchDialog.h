// SearchDialog is the host's search dialog (Procura) over an open record set: the user picks one
// of the visible columns, types a value and presses "Localizar"; the record set's cursor moves to
// the first row after the current one (wrapping around) whose shown text in that column begins
// with the value (letter case and accents ignored; a number also matches the digits of a
// formatted one), and the dialog closes. When no row matches, the dialog says so and stays open.
// Moving the cursor is an ordinary navigation of the record set, so the screen's after-scroll
// handling runs as for any move.
//
// Used on the user-interface thread only. Not copyable (a QDialog).
#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;

namespace host {
class TDataSet;
}

namespace desktop {

class DataSetTableModel;

class SearchDialog : public QDialog {
  Q_OBJECT

 public:
  // REQUIRES: dataSet outlives the dialog.
  explicit SearchDialog(host::TDataSet& dataSet, QWidget* parent = nullptr);

  QComboBox* ColumnBox() const { return column_; }
  QLineEdit* ValueBox() const { return value_; }
  QLabel* Status() const { return status_; }

  // Looks for the value in the chosen column and moves the record set there. Returns true (and
  // accepts the dialog) when a row was found. A failure of the move (the screen refusing it) is
  // handled by the host's failure policy and leaves the dialog open.
  bool Locate();

 private:
  host::TDataSet* dataSet_;
  DataSetTableModel* model_;
  QComboBox* column_;
  QLineEdit* value_;
  QLabel* status_;
};

}  // namespace desktop
