#include "desktop/ElidedLabel.h"

#include <QFontMetrics>
#include <QPainter>

namespace desktop {

ElidedLabel::ElidedLabel(QWidget* parent) : QFrame(parent) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void ElidedLabel::setText(const QString& text) {
  if (text == text_) return;
  text_ = text;
  updateGeometry();
  UpdateToolTip();
  update();
}

QString ElidedLabel::ShownText() const {
  return fontMetrics().elidedText(text_, Qt::ElideRight, std::max(0, contentsRect().width()));
}

QSize ElidedLabel::sizeHint() const {
  const QFontMetrics fm = fontMetrics();
  return {fm.horizontalAdvance(text_) + 4, fm.height() + 2};
}

QSize ElidedLabel::minimumSizeHint() const { return {0, fontMetrics().height() + 2}; }

void ElidedLabel::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  QPainter p(this);
  p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
  p.drawText(contentsRect(), Qt::AlignLeft | Qt::AlignVCenter, ShownText());
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  UpdateToolTip();
}

void ElidedLabel::UpdateToolTip() { setToolTip(Elided() ? text_ : QString()); }

}  // namespace desktop
