// Test helper: answers the desktop's modal dialogs from a queue, through the host services'
// dialog hook, so no test ever waits on a dialog. Each queued answer is a function given the live
// dialog; helpers build the usual ones (press a button by its text, type into a pick list and
// press Enter, close with Esc). A dialog with no queued answer is closed with Esc and recorded.
#pragma once

#include <QAbstractButton>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "desktop/PickListDialog.h"
#include "desktop/QtHostServices.h"

namespace desktoptest {

class DialogAnswers {
 public:
  using Answer = std::function<void(QDialog&)>;

  explicit DialogAnswers(desktop::QtHostServices& services) : services_(services) {
    services_.SetDialogHook([this](QDialog& d) { Reply(d); });
  }
  ~DialogAnswers() { services_.SetDialogHook({}); }
  DialogAnswers(const DialogAnswers&) = delete;
  DialogAnswers& operator=(const DialogAnswers&) = delete;

  void Queue(Answer answer) { queue_.push_back(std::move(answer)); }
  // Presses the message box button whose text, without its '&', is `text` ("Sim", "Não", "OK").
  void Press(const QString& text) {
    Queue([text](QDialog& d) {
      auto* box = qobject_cast<QMessageBox*>(&d);
      if (!box) return;
      for (QAbstractButton* b : box->buttons())
        if (QString(b->text()).remove(QLatin1Char('&')) == text) b->click();
    });
  }
  // Types `text` into a pick list's search box, then presses Enter.
  void Pick(const QString& text) {
    Queue([text](QDialog& d) {
      auto* pick = qobject_cast<desktop::PickListDialog*>(&d);
      if (!pick) return;
      QTest::keyClicks(pick->SearchBox(), text);
      QTest::keyClick(pick->SearchBox(), Qt::Key_Return);
    });
  }
  // Closes the dialog with Esc.
  void Escape() {
    Queue([](QDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); });
  }

  // Texts of the message boxes seen, in order.
  const std::vector<std::string>& Seen() const { return seen_; }
  std::size_t Pending() const { return queue_.size(); }
  int Unanswered() const { return unanswered_; }

 private:
  void Reply(QDialog& d) {
    if (auto* box = qobject_cast<QMessageBox*>(&d)) seen_.push_back(box->text().toStdString());
    if (queue_.empty()) {
      ++unanswered_;
      d.reject();
      return;
    }
    auto next = std::move(queue_.front());
    queue_.pop_front();
    next(d);
  }

  desktop::QtHostServices& services_;
  std::deque<Answer> queue_;
  std::vector<std::string> seen_;
  int unanswered_ = 0;
};

}  // namespace desktoptest
