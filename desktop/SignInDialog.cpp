#include "desktop/SignInDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>

#include "desktop/CallRunner.h"

namespace desktop {

namespace {

// A sign-in asks the directory at most 5 s; past this the server is not answering.
constexpr std::chrono::milliseconds kSignInTimeout{15000};

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

SignInDialog::SignInDialog(const DesktopSettings& settings, const QString& user, const QString& notice,
                           QWidget* parent, Signer signer)
    : QDialog(parent), settings_(settings), signer_(signer ? std::move(signer) : Signer(host::SignIn)) {
  setObjectName(QStringLiteral("dlgEntrar"));
  setWindowTitle(QStringLiteral("Entrar - PDI07310"));

  auto* intro = new QLabel(notice.isEmpty() ? QStringLiteral("Informe seu usuário e sua senha.") : notice, this);
  intro->setObjectName(QStringLiteral("lblAviso"));
  intro->setWordWrap(true);
  user_ = new QLineEdit(user, this);
  user_->setObjectName(QStringLiteral("edtUsuario"));
  user_->setMaxLength(64);
  password_ = new QLineEdit(this);
  password_->setObjectName(QStringLiteral("edtSenha"));
  password_->setEchoMode(QLineEdit::Password);
  password_->setMaxLength(1024);
  auto* server = new QLabel(QStringLiteral("%1:%2").arg(Q(settings.WebURL())).arg(settings.WebPort()), this);
  server->setObjectName(QStringLiteral("lblServidor"));
  server->setTextInteractionFlags(Qt::TextSelectableByMouse);
  message_ = new QLabel(this);
  message_->setObjectName(QStringLiteral("lblMensagem"));
  message_->setWordWrap(true);
  message_->setStyleSheet(QStringLiteral("color: #b00020;"));
  message_->hide();

  auto* form = new QFormLayout;
  auto* userLabel = new QLabel(QStringLiteral("&Usuário:"), this);
  userLabel->setBuddy(user_);
  auto* passwordLabel = new QLabel(QStringLiteral("&Senha:"), this);
  passwordLabel->setBuddy(password_);
  form->addRow(userLabel, user_);
  form->addRow(passwordLabel, password_);
  form->addRow(QStringLiteral("Servidor:"), server);

  auto* buttons = new QDialogButtonBox(this);
  // Enter in either box signs in; Esc (or Cancelar) gives up.
  signIn_ = buttons->addButton(QStringLiteral("&OK"), QDialogButtonBox::AcceptRole);
  signIn_->setObjectName(QStringLiteral("btnOK"));
  signIn_->setDefault(true);
  cancel_ = buttons->addButton(QStringLiteral("&Cancelar"), QDialogButtonBox::RejectRole);
  cancel_->setObjectName(QStringLiteral("btnCancelar"));
  cancel_->setAutoDefault(false);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] { Attempt(); });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(intro);
  layout->addLayout(form);
  layout->addWidget(message_);
  layout->addWidget(buttons);
  setMinimumWidth(std::max(360, fontMetrics().horizontalAdvance(QLatin1Char('M')) * 30));
  if (user.isEmpty()) {
    user_->setFocus();
  } else {
    password_->setFocus();
  }
}

void SignInDialog::ShowFailure(const QString& text) {
  message_->setText(text);
  message_->show();
}

bool SignInDialog::Attempt() {
  const std::string name = user_->text().trimmed().toStdString();
  std::string password = password_->text().toStdString();
  if (name.empty()) {
    ShowFailure(QStringLiteral("Informe o usuário."));
    user_->setFocus();
    return false;
  }
  if (password.empty()) {
    ShowFailure(QStringLiteral("Informe a senha."));
    password_->setFocus();
    return false;
  }
  password_->clear();
  host::SignInServer server{settings_.WebURL(), settings_.WebPort(), settings_.CaFile(), settings_.Insecure(),
                            kSignInTimeout};
  host::SignInAnswer answer;
  signIn_->setEnabled(false);
  cancel_->setEnabled(false);
  message_->setText(QStringLiteral("Entrando..."));
  message_->show();
  try {
    CallRunner::Run([&] { answer = signer_(server, name, password); });
  } catch (const std::exception& e) {
    answer = {};
    answer.message = e.what();
  }
  std::fill(password.begin(), password.end(), '\0');
  signIn_->setEnabled(true);
  cancel_->setEnabled(true);
  if (!answer.ok) {
    ShowFailure(answer.message.empty() ? QStringLiteral("O servidor recusou a entrada.") : Q(answer.message));
    password_->setFocus();
    return false;
  }
  answer_ = std::move(answer);
  accept();
  return true;
}

}  // namespace desktop
