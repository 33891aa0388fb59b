#include "desktop/FocusLog.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QWidget>

namespace desktop {

FocusLog::FocusLog(QObject* parent) : QObject(parent) {}

FocusLog::~FocusLog() { Close(); }

bool FocusLog::Open(const std::string& path) {
  Close();
  if (path.empty()) return true;
  file_.reset(std::fopen(path.c_str(), "a"));
  if (!file_) {
    std::fprintf(stderr, "pdi07310-desktop: não foi possível abrir o registro de foco %s\n", path.c_str());
    return false;
  }
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { NoteFocus(now); });
  return true;
}

void FocusLog::Close() {
  if (qApp) disconnect(qApp, nullptr, this, nullptr);
  file_.reset();
}

void FocusLog::NoteFocus(const QWidget* now) {
  if (!file_) return;
  QString name = QStringLiteral("-");
  if (now) name = now->objectName().isEmpty() ? QString::fromLatin1(now->metaObject()->className()) : now->objectName();
  // A dialog says what it asks, so a log reader knows where the keys went.
  if (const auto* dialog = now ? qobject_cast<const QDialog*>(now->window()) : nullptr) NoteDialog(*dialog);
  WriteLine("focus: ", name);
}

void FocusLog::NoteDialog(const QString& text) { WriteLine("dialog: ", text); }

void FocusLog::NoteDialog(const QDialog& dialog) {
  if (!file_ || lastDialog_ == &dialog) return;
  lastDialog_ = &dialog;
  const auto* box = qobject_cast<const QMessageBox*>(&dialog);
  NoteDialog(box ? box->text() : dialog.windowTitle());
}

void FocusLog::WriteLine(const char* prefix, const QString& text) {
  if (!file_) return;
  std::fprintf(file_.get(), "%s%s\n", prefix, text.toUtf8().constData());
  std::fflush(file_.get());
}

}  // namespace desktop
