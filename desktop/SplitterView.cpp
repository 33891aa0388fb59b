#include "desktop/SplitterView.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

#include "desktop/AlignBox.h"
#include "desktop/UserAction.h"
#include "host/controls/Splitter.h"

namespace desktop {

SplitterView::SplitterView(host::TSplitter* model, AlignBox* box, QWidget* parent)
    : QWidget(parent), model_(model), box_(box) {
  setCursor(Vertical() ? Qt::SizeVerCursor : Qt::SizeHorCursor);
}

bool SplitterView::Vertical() const {
  const host::TAlign a = model_->Align();
  return a != host::TAlign::alLeft && a != host::TAlign::alRight;
}

void SplitterView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  target_ = box_ ? box_->NeighbourOf(model_) : nullptr;
  if (!target_) return;
  dragging_ = true;
  startPos_ = Vertical() ? event->globalPosition().toPoint().y() : event->globalPosition().toPoint().x();
  startSize_ = Vertical() ? target_->Height() : target_->Width();
}

void SplitterView::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging_ || model_->ResizeStyle() != host::TResizeStyle::rsUpdate) return;
  const QPoint g = event->globalPosition().toPoint();
  Apply((Vertical() ? g.y() : g.x()) - startPos_);
}

void SplitterView::mouseReleaseEvent(QMouseEvent* event) {
  if (!dragging_) return;
  dragging_ = false;
  const QPoint g = event->globalPosition().toPoint();
  Apply((Vertical() ? g.y() : g.x()) - startPos_);
}

void SplitterView::DragBy(int delta) {
  target_ = box_ ? box_->NeighbourOf(model_) : nullptr;
  if (!target_) return;
  startSize_ = Vertical() ? target_->Height() : target_->Width();
  Apply(delta);
}

host::TControl* SplitterView::Target() const { return box_ ? box_->NeighbourOf(model_) : nullptr; }

void SplitterView::Apply(int delta) {
  if (!target_) return;
  const host::TAlign a = model_->Align();
  // A splitter at the bottom or right grows its neighbour when dragged up or left.
  if (a == host::TAlign::alBottom || a == host::TAlign::alRight) delta = -delta;
  const int room = Vertical() ? box_->height() : box_->width();
  const int size = std::clamp(startSize_ + delta, model_->MinSize(), std::max(model_->MinSize(), room - model_->MinSize()));
  host::TControl* target = target_;
  UserAction::Run([&] {
    if (Vertical()) {
      target->SetHeight(size);
    } else {
      target->SetWidth(size);
    }
  });
}

void SplitterView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().color(QPalette::Window));
  p.setPen(palette().color(QPalette::Mid));
  if (Vertical()) {
    p.drawLine(0, height() - 1, width(), height() - 1);
  } else {
    p.drawLine(width() - 1, 0, width() - 1, height());
  }
}

}  // namespace desktop
