// AlignBox is the widget of a container control (a form's client area, a panel, a scroll box, a
// tab sheet): it places the widgets of the controls lying on it as their models say, the way the
// platform aligns controls. Controls aligned top are stacked from the top in the order of their
// Top, bottom ones from the bottom, then left and right ones; the control aligned to the client
// takes what is left; unaligned controls keep their Left/Top/Width/Height. Sizes come from the
// models only, so a splitter that writes a new height into its neighbour's model moves it.
// Two drawing rules of the host: an unaligned control without a size (0) takes the height its
// content needs and the width up to the next control on its right (or the box's right edge), so
// a data-bound label follows the window's width; and a control lying past the right or bottom
// edge is drawn against that edge.
//
// Used on the user-interface thread only. Not copyable (a QWidget).
#pragma once

#include <QFrame>
#include <map>
#include <vector>

namespace host {
class TControl;
}

namespace desktop {

class AlignBox : public QFrame {
  Q_OBJECT

 public:
  // REQUIRES: model outlives this widget, or Abandon() is called before it dies.
  explicit AlignBox(host::TControl* model, QWidget* parent = nullptr);

  host::TControl* Model() const { return model_; }
  // Places `widget` (which becomes a child of this box) for the control `model`.
  void AddChild(host::TControl* model, QWidget* widget);
  // Lays the children out again from their models.
  void Relayout();
  // The control that a splitter lying on this box resizes: the visible control laid out just
  // before it with the same alignment; null when none.
  host::TControl* NeighbourOf(const host::TControl* splitter) const;
  // Forgets every model (they are gone); the box no longer lays anything out.
  void Abandon();

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  struct Child {
    host::TControl* model;
    QWidget* widget;
  };
  host::TControl* model_;
  std::vector<Child> children_;
  std::map<const host::TControl*, host::TControl*> neighbours_;
};

}  // namespace desktop
