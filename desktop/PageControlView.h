// PageControlView draws a page control (host::TPageControl): a tab strip with one tab per page
// whose tab is shown (TabVisible), each tab enabled as its page is, and under it the active
// page's widget. A press on the strip goes to TPageControl::PressTab, which runs the page
// control's mouse-down rule and changes the page only when the page may be chosen; the view
// follows the model's ActivePage. A press beside the tabs is still a press on the strip (the
// mouse-down rule runs; no page changes).
//
// Used on the user-interface thread only. Not copyable (a QWidget).
#pragma once

#include <QWidget>
#include <string>
#include <vector>

class QStackedWidget;

namespace host {
class TPageControl;
class TTabSheet;
}  // namespace host

namespace desktop {

class TabStrip;

class PageControlView : public QWidget {
  Q_OBJECT

 public:
  // REQUIRES: model outlives the view, or Abandon() is called before it dies.
  explicit PageControlView(host::TPageControl* model, QWidget* parent = nullptr);

  // Adds the widget of one page (a child of the page control in the model).
  void AddPage(host::TTabSheet* sheet, QWidget* page);
  // The page control's or one of its pages' properties changed.
  void OnModel(const std::string& property);
  // Redraws tabs and the shown page from the model.
  void Sync();
  void Abandon();

  TabStrip* Strip() const { return strip_; }
  QStackedWidget* Stack() const { return stack_; }
  // The page shown by tab `index` of the strip; null when none.
  host::TTabSheet* PageOfTab(int index) const;
  // Presses the tab of `sheet` as the mouse would; returns true when the page changed.
  bool PressTab(host::TTabSheet* sheet);
  // Presses the tab `step` places after (negative: before) the shown one, wrapping around, as a
  // left click in the middle of that tab would (the keys Ctrl+PageDown / Ctrl+PageUp). Returns
  // true when the page changed.
  bool PressNeighbourTab(int step);
  // Number of tabs shown.
  int TabCount() const { return static_cast<int>(tabs_.size()); }

 private:
  struct Page {
    host::TTabSheet* sheet;
    QWidget* widget;
  };
  void Press(int index, Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint position);

  host::TPageControl* model_;
  TabStrip* strip_;
  QStackedWidget* stack_;
  std::vector<Page> pages_;
  std::vector<host::TTabSheet*> tabs_;
  bool syncing_ = false;
};

}  // namespace desktop
