#include "desktop/QtHostServices.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <regex>
#include <utility>

#include "desktop/BusyIndicator.h"
#include "desktop/CallRunner.h"
#include "desktop/PickListDialog.h"
#include "desktop/SearchDialog.h"
#include "desktop/SignInDialog.h"
#include "host/core/Component.h"
#include "host/data/ClientDataSet.h"
#include "host/data/DataSet.h"
#include "host/data/DataSource.h"
#include "host/net/HttpTransport.h"
#include "host/net/NetConnection.h"
#include "host/services/HostLib.h"
#include "host/wire/ServiceName.h"

namespace desktop {

namespace {

QtHostServices* installed = nullptr;

QString Q(const std::string& s) { return QString::fromStdString(s); }

QString AviCaption(int kind, const std::string& caption) {
  if (!caption.empty()) return Q(caption);
  switch (kind) {
    case 0:
      return QStringLiteral("Conectando ao servidor de aplicação...");
    case 1:
      return QStringLiteral("Validando dados...");
    case 6:
      return QStringLiteral("Carregando dados...");
    default:
      return QStringLiteral("Aguarde...");
  }
}

struct ButtonSpec {
  host::TMsgDlgBtn button;
  const char* text;
  int result;
  QMessageBox::ButtonRole role;
};

// The platform's order of buttons in a question.
// The platform's order of buttons in a question. Each has a letter of its own, so a question is
// answered by that letter alone or with Alt ("s" for Sim).
const ButtonSpec kButtons[] = {
    {host::mbYes, "&Sim", host::mrYes, QMessageBox::YesRole},
    {host::mbNo, "&Não", host::mrNo, QMessageBox::NoRole},
    {host::mbOK, "&OK", host::mrOk, QMessageBox::AcceptRole},
    {host::mbCancel, "&Cancelar", host::mrCancel, QMessageBox::RejectRole},
    {host::mbAbort, "A&bortar", host::mrAbort, QMessageBox::RejectRole},
    {host::mbRetry, "&Repetir", host::mrRetry, QMessageBox::AcceptRole},
    {host::mbIgnore, "&Ignorar", host::mrIgnore, QMessageBox::AcceptRole},
    {host::mbAll, "&Todos", 8, QMessageBox::AcceptRole},
    {host::mbNoToAll, "Não p&ara todos", 9, QMessageBox::NoRole},
    {host::mbYesToAll, "Sim para to&dos", 10, QMessageBox::YesRole},
    {host::mbHelp, "Aj&uda", 0, QMessageBox::HelpRole},
};

const char* ResultWord(int result) {
  switch (result) {
    case host::mrYes:
      return "yes";
    case host::mrNo:
      return "no";
    case host::mrOk:
      return "ok";
    case host::mrCancel:
      return "cancel";
    default:
      return "other";
  }
}

}  // namespace

QtHostServices::QtHostServices(DesktopSettings settings) : settings_(std::move(settings)) {}

QtHostServices::~QtHostServices() {
  if (installed == this) {
    host::SetHostServices(nullptr);
    CallRunner::SetSlowCallObserver({});
    CallRunner::SetCanceller({});
    host::TClientDataSet::SetLoadRunner({});
    host::TNetConnection::SetAccessRenewer({});
    installed = nullptr;
  }
  CallRunner::SetCancelTarget(nullptr);
  if (waitCursor_ && QApplication::instance()) QApplication::restoreOverrideCursor();
}

void QtHostServices::Install() {
  host::SetHostServices(this);
  installed = this;
  host::TNetConnection::SetDefaultReadTimeout(std::chrono::seconds(settings_.StallTimeoutSeconds()));
  host::HttpTransport::SetCompressedAnswers(settings_.CompressedAnswers());
  CallRunner::SetCanceller([] { host::TNetConnection::CancelCalls(); });
  CallRunner::SetSlowCallObserver([this](bool slow) { SetCallSlow(slow); });
  host::TClientDataSet::SetLoadRunner([this](const std::function<void()>& work) { RunLoad(work); });
  host::TNetConnection::SetAccessRenewer([this] { return RenewAccess(); });
}

QtHostServices::Session QtHostServices::CurrentSession() const {
  const std::lock_guard<std::mutex> lock(sessionMutex_);
  return session_;
}

void QtHostServices::SetSession(Session session) {
  {
    const std::lock_guard<std::mutex> lock(sessionMutex_);
    session_ = std::move(session);
  }
  if (sessionObserver_) sessionObserver_();
}

std::string QtHostServices::AccessToken() {
  const std::lock_guard<std::mutex> lock(sessionMutex_);
  return session_.token.empty() ? settings_.AccessToken() : session_.token;
}

bool QtHostServices::ReadOnlyAccess() {
  const std::lock_guard<std::mutex> lock(sessionMutex_);
  return session_.role == "consulta";
}

bool QtHostServices::SignIn(const QString& notice) {
  if (signingIn_ || quitting_) return false;
  signingIn_ = true;
  const Session last = CurrentSession();
  SignInDialog dialog(settings_, Q(last.user), notice, window_, signer_);
  const bool signedIn = Exec(dialog) == QDialog::Accepted && dialog.Answer().ok;
  signingIn_ = false;
  Write(signedIn ? "signin: " + dialog.Answer().user + " " + dialog.Answer().role : std::string("signin: cancel"));
  if (!signedIn) return false;
  const host::SignInAnswer& answer = dialog.Answer();
  SetSession({answer.token, answer.user, answer.role});
  return true;
}

bool QtHostServices::EnsureAccess() {
  host::TNetConnection connection;
  connection.SetHost(settings_.WebURL());
  connection.SetPort(settings_.WebPort());
  connection.SetServerName(std::string(host::wire::kServiceName));
  connection.SetConnectTimeout(std::chrono::seconds(3));
  connection.SetReadTimeout(std::chrono::seconds(15));
  try {
    connection.Open();
  } catch (const host::ENetError& e) {
    if (e.Status() == 401) return false;
  }
  return true;
}

bool QtHostServices::RenewAccess() {
  // The history panel's requests run on a worker thread: they fail, and the next one made after
  // the screen's own sign-in goes through.
  if (!QApplication::instance() || QThread::currentThread() != QApplication::instance()->thread()) return false;
  const bool hadSession = !CurrentSession().token.empty();
  return SignIn(hadSession ? QStringLiteral("Sua sessão no servidor terminou. Entre de novo para continuar; "
                                            "o que estava sendo digitado continua na tela.")
                           : QStringLiteral("O servidor pede usuário e senha."));
}

void QtHostServices::RunLoad(const std::function<void()>& work) {
  // The animation turns while the rows go in, also when the screen has already hidden it.
  QPointer<BusyIndicator> shown;
  if (busy_ && !busy_->Running()) {
    shown = busy_;
    shown->Start(QStringLiteral("Carregando os dados..."));
  }
  struct StopAfter {
    QPointer<BusyIndicator>& busy;
    ~StopAfter() {
      if (busy) busy->Stop();
    }
  } stop{shown};
  CallRunner::RunToEnd(work);
}

void QtHostServices::SetCallSlow(bool slow) {
  if (!busy_) return;
  if (slow) {
    if (!busy_->Running()) {
      busy_->Start(QStringLiteral("Aguardando a resposta do servidor..."));
      busyForSlowCall_ = true;
    }
    busy_->SetCancelOffered(true);
    return;
  }
  busy_->SetCancelOffered(false);
  if (busyForSlowCall_ && busyDepth_ == 0) busy_->Stop();
  busyForSlowCall_ = false;
}

std::string QtHostServices::ClerkText(const std::string& text, std::string* details) {
  // The connection's failures read "Falha ao <what> em <host>:<port>: <reason>".
  static const std::regex kNetFailure(R"(Falha ao .+? em (\S+:[0-9]+): ([\s\S]*)$)");
  std::smatch m;
  if (!std::regex_search(text, m, kNetFailure)) {
    if (details) details->clear();
    return text;
  }
  std::string reason = m[2].str();
  while (!reason.empty() && (reason.back() == '.' || reason.back() == ' ')) reason.pop_back();
  if (details) *details = text;
  // The user gave up waiting: the server was not found wanting, the call was ended.
  // The server was reached and refused the access: the session ended (or the token was withdrawn)
  // and the person gave up signing in again. The call did nothing; trying again asks again.
  if (reason.find("HTTP 401") != std::string::npos) {
    return m.prefix().str() + "O servidor " + m[1].str() +
           " recusou o acesso: a sessão terminou ou o token de acesso não vale mais. Nada foi gravado por esta "
           "chamada; tente de novo para entrar outra vez.";
  }
  if (reason.find("cancelada") != std::string::npos) {
    return m.prefix().str() + "A chamada ao servidor " + m[1].str() + " foi cancelada; nada foi alterado por ela.";
  }
  return m.prefix().str() + "Não foi possível falar com o servidor " + m[1].str() + " (" + reason + ").";
}

QtHostServices* QtHostServices::Installed() { return installed; }

void QtHostServices::SetMainWindow(QWidget* window) {
  window_ = window;
  if (busy_) delete busy_.data();
  busy_ = window ? new BusyIndicator(window) : nullptr;
  busyForSlowCall_ = false;
  CallRunner::SetCancelTarget(busy_ ? busy_->CancelButton() : nullptr);
  if (busy_) QObject::connect(busy_, &BusyIndicator::CancelClicked, busy_, [] { CallRunner::Cancel(); });
}

BusyIndicator* QtHostServices::Busy() const { return busy_.data(); }

void QtHostServices::Write(std::string line) { log_.push_back(std::move(line)); }

int QtHostServices::Exec(QDialog& dialog) {
  // The desktop is closing after a wait the user ended: nobody is there to answer any more.
  if (quitting_) return QDialog::Rejected;
  if (dialogObserver_) dialogObserver_(dialog);
  if (hook_) {
    QPointer<QDialog> guard(&dialog);
    DialogHook hook = hook_;
    QTimer::singleShot(0, &dialog, [guard, hook] {
      if (guard) hook(*guard);
      if (guard && guard->isVisible()) guard->reject();
    });
  }
  const int result = dialog.exec();
  // The keys go back to the window the dialog interrupted (and there to the focused control).
  if (window_ && window_->isVisible()) window_->activateWindow();
  return result;
}

bool QtHostServices::ConsumeReported(const std::string& text) {
  if (reported_.empty() || reported_ != text) return false;
  reported_.clear();
  return true;
}

void QtHostServices::ShowError(const std::string& text) {
  std::string details;
  const std::string shown = ClerkText(text, &details);
  ShowErrorWithDetails(shown, details);
}

void QtHostServices::ShowErrorWithDetails(const std::string& shown, const std::string& details) {
  // A failure to reach the server (the only kind that carries the connection's details); a call
  // the user cancelled says nothing about the server.
  if (!details.empty() && unreachable_ && details.find("cancelada") == std::string::npos &&
      details.find("HTTP 401") == std::string::npos) {
    unreachable_();
  }
  Write("message: " + shown);
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Atenção"), Q(shown), QMessageBox::NoButton,
                  window_);
  box.setObjectName(QStringLiteral("errorDialog"));
  if (!details.empty()) {
    Write("detail: " + details);
    std::fprintf(stderr, "pdi07310-desktop: %s\n", details.c_str());
    // Behind Qt's own (translated) "Mostrar detalhes..." button.
    box.setDetailedText(Q(details));
  }
  box.setDefaultButton(box.addButton(QStringLiteral("&OK"), QMessageBox::AcceptRole));
  Exec(box);
}

int QtHostServices::MessageDlg(const std::string& text, host::TMsgDlgType type,
                               host::TMsgDlgButtons buttons, int helpContext) {
  (void)helpContext;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QString title = QStringLiteral("Confirmação");
  switch (type) {
    case host::TMsgDlgType::mtWarning:
      icon = QMessageBox::Warning;
      title = QStringLiteral("Atenção");
      break;
    case host::TMsgDlgType::mtError:
      icon = QMessageBox::Critical;
      title = QStringLiteral("Erro");
      break;
    case host::TMsgDlgType::mtInformation:
      icon = QMessageBox::Information;
      title = QStringLiteral("Informação");
      break;
    case host::TMsgDlgType::mtConfirmation:
      icon = QMessageBox::Question;
      break;
    case host::TMsgDlgType::mtCustom:
      title = QStringLiteral("Mensagem");
      break;
  }
  QMessageBox box(icon, title, Q(text), QMessageBox::NoButton, window_);
  box.setObjectName(QStringLiteral("questionDialog"));
  if (buttons.Empty()) buttons = {host::mbOK};
  std::vector<std::pair<QAbstractButton*, int>> results;
  for (const ButtonSpec& spec : kButtons) {
    if (!buttons.Contains(spec.button)) continue;
    QPushButton* b = box.addButton(QString::fromUtf8(spec.text), spec.role);
    results.emplace_back(b, spec.result);
  }
  // Closing without a button: Cancel when offered, else No, else OK.
  int closed = host::mrOk;
  if (buttons.Contains(host::mbCancel)) {
    closed = host::mrCancel;
  } else if (buttons.Contains(host::mbNo)) {
    closed = host::mrNo;
  }
  // A destructive confirmation should not be one Enter away: No is the default when offered (else
  // the first button), and the default button holds the focus, so Enter and Space agree.
  QPushButton* preferred = results.empty() ? nullptr : static_cast<QPushButton*>(results.front().first);
  for (auto& [button, result] : results) {
    if (result == host::mrNo) preferred = static_cast<QPushButton*>(button);
    if (result == closed) box.setEscapeButton(button);
  }
  if (preferred) box.setDefaultButton(preferred);
  Exec(box);
  int result = closed;
  for (auto& [button, r] : results)
    if (box.clickedButton() == button) result = r;
  Write("question: " + text + " -> " + ResultWord(result));
  return result;
}

void QtHostServices::ReportResultError(const std::string& text) {
  ShowError(text);
  reported_ = text;
}

bool QtHostServices::PickList(host::TDataSource* source, const std::string& text, bool flag1,
                              bool flag2) {
  (void)flag1;
  (void)flag2;
  if (!source || !source->DataSet()) {
    throw host::EPlatformError("Lista de pesquisa sem conjunto de dados");
  }
  host::TDataSet& ds = *source->DataSet();
  PickListDialog dialog(ds, Q(text), window_);
  Exec(dialog);
  const int row = dialog.ChosenRow();
  if (dialog.result() != QDialog::Accepted || row == 0) {
    Write("picklist: " + text + " -> none");
    return false;
  }
  ds.SetRecNo(row);
  Write("picklist: " + text + " -> " + std::to_string(row));
  return true;
}

void QtHostServices::Search(host::TDataSet* dataSet) {
  if (!dataSet) throw host::EPlatformError("Procura sem conjunto de dados");
  Write("search: " + dataSet->Name());
  SearchDialog dialog(*dataSet, window_);
  Exec(dialog);
}

void QtHostServices::ShowAvi(host::TForm* mainForm, int kind, const std::string& caption) {
  (void)mainForm;
  ++busyDepth_;
  Write("busy: on " + std::to_string(kind) + (caption.empty() ? "" : " " + caption));
  if (!waitCursor_ && QApplication::instance()) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    waitCursor_ = true;
  }
  if (busy_) busy_->Start(AviCaption(kind, caption));
}

void QtHostServices::HideAvi() {
  busyDepth_ = 0;
  Write("busy: off");
  if (waitCursor_ && QApplication::instance()) {
    QApplication::restoreOverrideCursor();
    waitCursor_ = false;
  }
  if (busy_) busy_->Stop();
}

std::string QtHostServices::DBPict(int pictType) {
  return pictType == 0 ? settings_.ProductMask() : std::string();
}

}  // namespace desktop
