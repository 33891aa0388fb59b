// GridView draws a data grid (host::TDBGrid) and sends the user's hands to it. It owns no state
// of the grid: rows, columns, the current row, the selected column, the read-only flag and the
// cell buttons are the model's, read through GridTableModel.
//
// What the user does, and what the model is asked:
//   - a click on a cell: the form is asked to give the grid the focus (TForm::FocusControl, which
//     runs the exit and enter rules); only when the grid got it, the column is selected
//     (SetSelectedIndex, whose column exit may refuse) and the row is moved to (MoveToRow);
//   - a typed character: TypeChar (key-press rules, masks and field sizes decide); Backspace too;
//     a character typed where it cannot go (a read-only column or list, a stored row) beeps and
//     says why in the status bar (NotEditable), never lost silently;
//   - Tab / Shift+Tab, Enter, Esc, Up, Down, Insert, Ctrl+Delete: KeyDown (the grid's own keys
//     and its key-down rule); Left / Right / Home / End select columns through SetSelectedIndex;
//     PageUp / PageDown / Ctrl+Home / Ctrl+End move rows through MoveToRow;
//   - the "…" button drawn in the current cell while the selected column's button style is
//     ellipsis, or Ctrl+Enter: ClickEllipsis.
// Column widths start from the columns' models (the description, or the user's drag, which is
// written back into the model); the last column takes the width left over in the view, so the
// first columns (the code) stay in sight whichever column is current.
// Each action runs under UserAction's failure policy; afterwards the view shows the model's
// current cell again, so a refused column change leaves the old column selected on screen too.
//
// Used on the user-interface thread only. Not copyable (a QWidget).
#pragma once

#include <QTableView>
#include <functional>
#include <string>

class QToolButton;

namespace host {
class TDBGrid;
}

namespace desktop {

class GridTableModel;

class GridView : public QTableView {
  Q_OBJECT

 public:
  // Asks the form to give the grid the focus; returns true when the grid holds it afterwards.
  using FocusRequest = std::function<bool()>;

  // REQUIRES: grid outlives the view, or Abandon() is called before it dies.
  explicit GridView(host::TDBGrid& grid, QWidget* parent = nullptr);

  host::TDBGrid* Grid() const { return grid_; }
  GridTableModel* Adapter() const { return adapter_; }
  QToolButton* EllipsisButton() const { return ellipsis_; }
  void SetFocusRequest(FocusRequest request) { focusRequest_ = std::move(request); }

  // A property of the grid model changed (called by the form's observer).
  void OnModel(const std::string& property);
  // The grid is gone.
  void Abandon();
  // Shows the model's current cell (selection, scroll position, "…" button).
  void SyncCursor();
  // Clicks the cell at (row, column), both 0-based, as the mouse would. Returns false when the
  // focus or the move was refused.
  bool ClickCell(int row, int column);
  // Clicks the "…" button as the mouse would. Returns true when the grid ran its edit-button rule.
  bool ClickEllipsis();

 signals:
  // A character was typed where it cannot go (a read-only column or list, a stored row); `why`
  // says so in the clerk's words. The main window's status bar shows it too, with a beep.
  void NotEditable(const QString& why);

 protected:
  bool event(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool viewportEvent(QEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  bool RequestFocus();
  void ApplyWidths();
  // Gives the last column the width the others leave in the viewport (at least a minimum).
  void FitLastColumn();
  void ApplySettings();
  void PlaceEllipsis();
  // Runs one user action on the grid and shows the model's cursor afterwards.
  bool Act(const std::function<void()>& action);
  void HandleKey(QKeyEvent* event);
  void SayNotEditable(bool storedRow);

  host::TDBGrid* grid_;
  GridTableModel* adapter_;
  QToolButton* ellipsis_;
  FocusRequest focusRequest_;
  bool syncing_ = false;
};

}  // namespace desktop
