#include "desktop/BusyIndicator.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QPushButton>
#include <QtMath>

namespace desktop {

namespace {
constexpr int kSpokes = 12;
constexpr int kStepMs = 80;
constexpr int kWheel = 36;
}  // namespace

BusyIndicator::BusyIndicator(QWidget* window) : QWidget(window) {
  setAttribute(Qt::WA_TransparentForMouseEvents, false);
  setObjectName(QStringLiteral("busyIndicator"));
  hide();
  cancel_ = new QPushButton(QStringLiteral("Cancelar"), this);
  cancel_->setObjectName(QStringLiteral("busyCancel"));
  cancel_->setToolTip(QStringLiteral("Desistir de esperar pelo servidor (Esc)"));
  cancel_->setFocusPolicy(Qt::NoFocus);
  cancel_->hide();
  connect(cancel_, &QPushButton::clicked, this, [this] { emit CancelClicked(); });
  timer_.setInterval(kStepMs);
  connect(&timer_, &QTimer::timeout, this, [this] { Step(); });
  if (window) window->installEventFilter(this);
}

void BusyIndicator::Start(const QString& caption) {
  caption_ = caption;
  Place();
  show();
  raise();
  if (!timer_.isActive()) timer_.start();
  repaint();
}

void BusyIndicator::Stop() {
  timer_.stop();
  cancel_->hide();
  hide();
}

void BusyIndicator::SetCancelOffered(bool offered) {
  cancel_->setVisible(offered);
  Place();
  update();
}

bool BusyIndicator::CancelOffered() const { return !cancel_->isHidden(); }

void BusyIndicator::Step() {
  angle_ = (angle_ + 1) % kSpokes;
  ++frames_;
  update();
}

void BusyIndicator::Place() {
  QWidget* window = parentWidget();
  const QFontMetrics fm(font());
  const int textWidth = fm.horizontalAdvance(caption_);
  const int w = std::max(220, textWidth + 40);
  const int buttonHeight = cancel_->isHidden() ? 0 : cancel_->sizeHint().height() + 8;
  const int h = kWheel + fm.height() + 40 + buttonHeight;
  if (window) {
    setGeometry((window->width() - w) / 2, (window->height() - h) / 2, w, h);
  } else {
    resize(w, h);
  }
  if (!cancel_->isHidden()) {
    const QSize b = cancel_->sizeHint();
    cancel_->setGeometry((w - b.width()) / 2, h - b.height() - 10, b.width(), b.height());
  }
}

bool BusyIndicator::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parentWidget() && event->type() == QEvent::Resize && isVisible()) Place();
  return QWidget::eventFilter(watched, event);
}

void BusyIndicator::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(palette().color(QPalette::Mid), 1));
  p.setBrush(palette().color(QPalette::Window));
  p.drawRoundedRect(rect().adjusted(0, 0, -1, -1), 8, 8);

  const QPointF centre(width() / 2.0, 14 + kWheel / 2.0);
  const QColor base = palette().color(QPalette::Highlight);
  for (int i = 0; i < kSpokes; ++i) {
    QColor c = base;
    const int age = (angle_ - i + kSpokes) % kSpokes;
    c.setAlphaF(1.0 - age / static_cast<double>(kSpokes));
    p.save();
    p.translate(centre);
    p.rotate(i * 360.0 / kSpokes);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawRoundedRect(QRectF(-2, -kWheel / 2.0, 4, kWheel / 3.5), 2, 2);
    p.restore();
  }
  p.setPen(palette().color(QPalette::WindowText));
  p.drawText(QRect(0, 20 + kWheel, width(), fontMetrics().height() + 4), Qt::AlignHCenter | Qt::AlignTop,
             caption_);
}

}  // namespace desktop
