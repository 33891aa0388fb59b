// ElidedLabel draws a one-line text (a data-bound label) in the width its layout gives it. When
// the whole text fits it is drawn as it is, with no tool tip; when it does not, it is cut with
// "…" and the whole text becomes the tool tip, so nothing is lost from sight for good. Its size
// hint is the whole text's, so a layout that can give the room shows all of it.
//
// Used on the user-interface thread only. Not copyable (a QWidget).
#pragma once

#include <QFrame>
#include <QString>

namespace desktop {

class ElidedLabel : public QFrame {
  Q_OBJECT

 public:
  explicit ElidedLabel(QWidget* parent = nullptr);

  void setText(const QString& text);
  QString text() const { return text_; }
  // The text as drawn now (the whole text, or its start followed by "…").
  QString ShownText() const;
  bool Elided() const { return ShownText() != text_; }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void UpdateToolTip();

  QString text_;
};

}  // namespace desktop
