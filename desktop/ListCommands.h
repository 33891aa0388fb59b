// ListCommands holds the desktop's commands on a screen's lists that live around the screen, not
// in it: pasting a list of codes into a list (through host::ListPaste, so every row goes through
// the screen's own rules) and exporting a list to CSV or XLSX (through host::ListExport).
//
// Which list is which (the main list; a detail list, the rows of the main list's current record,
// e.g. a product's suppliers) and where a paste may go, host::ScreenLists says, as for every host.
//
// Promises of the paste:
// - It runs only into a detail list that is not read-only while every record set of the form is
//   browsing; otherwise Paste says why and does nothing.
// - A progress dialog shows "n de N" and "Parar" (the run stops between rows, never inside one);
//   the user interface repaints between rows; the dialog is modal, and a second paste cannot
//   start while one runs (Running()).
// - At the end a summary dialog lists every code with its outcome, and where the run stopped. A
//   save whose answer was lost with the connection is settled first by reading the lists again
//   (ListPaste::Recheck): the summary says what the server holds, never "not stored" by guess.
// - A clipboard with no codes, or with more than kMaxPasteCodes, is refused with a message and
//   nothing is entered.
//
// Used on the user-interface thread only.
#pragma once

#include <QDialog>
#include <QString>
#include <cstddef>
#include <string>
#include <vector>

#include "host/tools/ListPaste.h"

class QComboBox;
class QLineEdit;
class QRadioButton;
class QTableWidget;

namespace host {
class TDBGrid;
class TForm;
}  // namespace host

namespace desktop {

class QtHostServices;

class ListCommands {
 public:
  ListCommands() = delete;

  // The most codes one paste takes; a longer clipboard is refused whole, with a message.
  static constexpr std::size_t kMaxPasteCodes = host::ListPaste::kMaxCodes;

  // host::ScreenLists::PasteTarget, its reason as a QString.
  static host::TDBGrid* PasteTarget(const host::TForm& form, QString* why);
  // Pastes `text` (one code per line) into grid, with the progress and summary dialogs, through
  // `services` (its dialog hook answers the summary in tests). Returns the summary; a paste with
  // no codes shows a message and returns an empty summary.
  static host::PasteSummary Paste(QWidget* parent, host::TDBGrid& grid, const QString& text, QtHostServices& services);
  static bool Running();

  // Exports a list of `form` (null: no screen is open, which is said): the export dialog (the
  // main list, or the detail list in view, its current rows or all of them), a question before
  // replacing a file, the file (CSV or XLSX), then a message saying how many rows were written
  // or why none were. Dialogs run through `services`; the folder last written to is offered next.
  static void Export(QWidget* parent, const host::TForm* form, QtHostServices& services);
};

// The paste's summary: a line saying how many were stored and refused (and where the run
// stopped), and a table of every code with its outcome.
class PasteSummaryDialog : public QDialog {
  Q_OBJECT

 public:
  PasteSummaryDialog(const host::PasteSummary& summary, const QString& listName, QWidget* parent = nullptr);
  QTableWidget* Table() const { return table_; }
  // "N de T códigos gravados, M recusados." and, when stopped, where and why.
  static QString Headline(const host::PasteSummary& summary);

 private:
  QTableWidget* table_ = nullptr;
};

// Arquivo > Exportar lista…: which list, the format and the file.
class ExportDialog : public QDialog {
  Q_OBJECT

 public:
  enum class Choice { MainList, DetailCurrent, DetailAll };

  // detailName empty: no detail list in view (those choices are disabled).
  ExportDialog(const QString& mainName, const QString& detailName, const QString& folder, QWidget* parent = nullptr);

  Choice Chosen() const;
  void Choose(Choice choice);
  QString Path() const;
  void SetPath(const QString& path);
  // "csv" or "xlsx".
  QString Format() const;
  void SetFormat(const QString& extension);

  QRadioButton* Option(Choice choice) const;
  QLineEdit* PathEdit() const { return path_; }

  void accept() override;

 private:
  void Browse();
  void FollowFormat();

  QRadioButton* main_ = nullptr;
  QRadioButton* detail_ = nullptr;
  QRadioButton* detailAll_ = nullptr;
  QComboBox* format_ = nullptr;
  QLineEdit* path_ = nullptr;
};

}  // namespace desktop
