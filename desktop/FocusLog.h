// FocusLog is a test hook: a test that drives the desktop from outside, with real key events
// (tests/desktop/keyboard_e2e.sh), reads it to know where its keys went. Off unless opened (the
// desktop's --focus-log FILE): nothing is watched and nothing is written then.
//
// Promises, while open:
// - Every change of the widget holding the keyboard focus appends one line "focus: NAME" to the
//   file: the widget's object name, its class name when it has none, "-" for no widget.
// - Every dialog is named once, in a line "dialog: TEXT" (a message box's text, another dialog's
//   title): when it is about to be shown through the host services (NoteDialog), and otherwise
//   when the focus first lands in it (before that "focus:" line), so the log says what was asked.
// - The file is opened once, for appending, and each line is flushed as it is written: a reader
//   may follow the file while the desktop runs.
// - A file that cannot be opened is said on standard error once; the log then stays off.
//
// Used on the user-interface thread only. Not copyable (a QObject).
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdio>
#include <memory>
#include <string>

class QDialog;
class QWidget;

namespace desktop {

class FocusLog : public QObject {
  Q_OBJECT

 public:
  explicit FocusLog(QObject* parent = nullptr);
  ~FocusLog() override;

  // Opens `path` for appending and starts watching the focus (closing the file open before);
  // empty only closes. Returns false when the file cannot be opened (the log is then off).
  bool Open(const std::string& path);
  // Stops watching and closes the file (a no-op when off).
  void Close();
  bool IsOpen() const { return file_ != nullptr; }

  // Writes the lines of a focus change to `now` (null: no widget) as described above.
  void NoteFocus(const QWidget* now);
  // Writes "dialog: TEXT".
  void NoteDialog(const QString& text);
  // Names `dialog` (see the class comment), once for each dialog shown.
  void NoteDialog(const QDialog& dialog);

 private:
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  void WriteLine(const char* prefix, const QString& text);

  std::unique_ptr<std::FILE, Closer> file_;
  QPointer<const QDialog> lastDialog_;
};

}  // namespace desktop
