// SignInDialog asks the person for a name and password and signs in at the application server
// (host::SignIn: POST /login), for a server that has named users instead of (or besides) access
// tokens. "&Usuário", "&Senha" (never echoed) and the server's address are shown; "&OK" is the
// default button (Enter in either box) and "&Cancelar" (Esc) gives up.
//
// Promises:
// - OK signs in off the user-interface thread (CallRunner::Run, as the desktop's other waits:
//   the window keeps painting); the buttons are disabled meanwhile. A refusal (wrong password,
//   locked out for a while, directory down, server unreachable) is shown in the dialog in the
//   server's words, the password is cleared and the dialog stays open for another try.
// - An empty name or password is refused in the dialog without asking the server.
// - Accepted only after a successful sign-in; Answer() then holds the session (token, the name as
//   the server spells it, the role).
// - The password is cleared from the box once used.
//
// Used on the user-interface thread only. Not copyable (a QWidget).
#pragma once

#include <QDialog>
#include <functional>
#include <string>

#include "desktop/DesktopSettings.h"
#include "host/net/SignIn.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace desktop {

class SignInDialog : public QDialog {
  Q_OBJECT

 public:
  // What signs in; host::SignIn unless a test gives another.
  using Signer = std::function<host::SignInAnswer(const host::SignInServer& server, const std::string& user,
                                                  const std::string& password)>;

  // `user` fills the name box (the password box then has the focus); `notice` (when not empty)
  // says why the sign-in is asked (the session ended).
  SignInDialog(const DesktopSettings& settings, const QString& user, const QString& notice, QWidget* parent = nullptr,
               Signer signer = {});

  // Signs in with the boxes' contents (what OK does). Returns true, and accepts the dialog,
  // on success.
  bool Attempt();
  // After a successful Attempt: the server's answer.
  const host::SignInAnswer& Answer() const { return answer_; }

  QLineEdit* UserBox() const { return user_; }
  QLineEdit* PasswordBox() const { return password_; }
  QLabel* MessageLabel() const { return message_; }
  QPushButton* SignInButton() const { return signIn_; }

 private:
  void ShowFailure(const QString& text);

  const DesktopSettings settings_;
  Signer signer_;
  host::SignInAnswer answer_;
  QLineEdit* user_ = nullptr;
  QLineEdit* password_ = nullptr;
  QLabel* message_ = nullptr;
  QPushButton* signIn_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

}  // namespace desktop
