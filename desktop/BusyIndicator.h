// BusyIndicator is the host's busy animation: a panel drawn over the middle of the main window
// with a turning wheel and a caption ("Conectando ao servidor...", "Validando dados..."). It
// turns on a timer, so it keeps moving as long as the user-interface thread runs its event loop,
// which it does while a remote call runs on a worker thread (see CallRunner).
//
// It only draws: when to show it and with which caption is decided by the host services
// (QtHostServices::ShowAvi / HideAvi). While a call is slow it also offers a "Cancelar" button
// (SetCancelOffered), which emits CancelClicked; what a cancel does is the owner's business.
//
// Used on the user-interface thread only. Not copyable (a QWidget).
#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>

class QPushButton;

namespace desktop {

class BusyIndicator : public QWidget {
  Q_OBJECT

 public:
  // Sits over `window` (not owned; the indicator is its child and follows its size).
  explicit BusyIndicator(QWidget* window);

  // Shows the panel with `caption` (or changes the caption while shown) and paints it at once.
  void Start(const QString& caption);
  // Hides the panel and stops the timer.
  void Stop();
  bool Running() const { return timer_.isActive(); }
  // Shows or hides the "Cancelar" button under the caption.
  void SetCancelOffered(bool offered);
  bool CancelOffered() const;
  QPushButton* CancelButton() const { return cancel_; }
  QString Caption() const { return caption_; }
  // Number of animation steps taken since construction (tests use it to see the wheel move).
  quint64 Frames() const { return frames_; }

 signals:
  void CancelClicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Place();
  void Step();

  QTimer timer_;
  QPushButton* cancel_ = nullptr;
  QString caption_;
  int angle_ = 0;
  quint64 frames_ = 0;
};

}  // namespace desktop
