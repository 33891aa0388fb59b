// SplitterView draws a splitter (TSplitter) and performs its drag: the new size of the control it
// resizes (its neighbour in the AlignBox) is written into that control's model (Height for a
// splitter aligned top or bottom, Width for left or right), and the layout follows the model.
// With the live resize style (rsUpdate) the size is written while dragging; otherwise when the
// mouse is released. The size never goes below the splitter's MinSize.
//
// Used on the user-interface thread only. Not copyable (a QWidget).
#pragma once

#include <QWidget>

namespace host {
class TSplitter;
class TControl;
}  // namespace host

namespace desktop {

class AlignBox;

class SplitterView : public QWidget {
  Q_OBJECT

 public:
  // REQUIRES: model outlives this widget; box is the container the splitter lies on.
  SplitterView(host::TSplitter* model, AlignBox* box, QWidget* parent = nullptr);

  // Drags by `delta` pixels (positive: down or right) as a finished mouse drag would.
  void DragBy(int delta);
  host::TSplitter* Model() const { return model_; }
  // The control the splitter resizes (its neighbour); null when none.
  host::TControl* Target() const;
  // True for a splitter aligned top or bottom (it resizes its neighbour's Height).
  bool Vertical() const;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void Apply(int delta);

  host::TSplitter* model_;
  AlignBox* box_;
  host::TControl* target_ = nullptr;
  int startPos_ = 0;
  int startSize_ = 0;
  bool dragging_ = false;
};

}  // namespace desktop
