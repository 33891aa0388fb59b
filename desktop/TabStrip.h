// TabStrip is the tab row of a page control's view. It never changes the page by itself: a mouse
// press on a tab is handed to the owner's callback (which asks the model, TPageControl::PressTab),
// and the shown tab follows the model's active page. Keys do not change pages here: the form's
// window turns Ctrl+PageDown / Ctrl+PageUp into presses (PageControlView::PressNeighbourTab).
//
// Used on the user-interface thread only. Not copyable (a QWidget).
#pragma once

#include <QTabBar>
#include <functional>

namespace desktop {

class TabStrip : public QTabBar {
  Q_OBJECT

 public:
  // Called with the index of the pressed tab, the button and the position.
  using PressHandler = std::function<void(int index, Qt::MouseButton button,
                                          Qt::KeyboardModifiers modifiers, QPoint position)>;

  explicit TabStrip(QWidget* parent = nullptr);
  void SetPressHandler(PressHandler handler) { press_ = std::move(handler); }

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  PressHandler press_;
};

}  // namespace desktop
