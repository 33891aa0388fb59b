#include "desktop/TabStrip.h"

#include <QMouseEvent>

namespace desktop {

TabStrip::TabStrip(QWidget* parent) : QTabBar(parent) {
  setFocusPolicy(Qt::NoFocus);
  setDrawBase(true);
  setExpanding(false);
  setToolTip(QStringLiteral("Próxima página: Ctrl+PgDown    Página anterior: Ctrl+PgUp"));
}

void TabStrip::mousePressEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  if (press_) press_(tabAt(pos), event->button(), event->modifiers(), pos);
}

void TabStrip::mouseMoveEvent(QMouseEvent*) {}

void TabStrip::mouseReleaseEvent(QMouseEvent*) {}

void TabStrip::keyPressEvent(QKeyEvent*) {}

void TabStrip::wheelEvent(QWheelEvent*) {}

}  // namespace desktop
