#include "desktop/ConnectionStatus.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QStatusBar>
#include <QThread>

#include "desktop/CallRunner.h"

namespace desktop {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

ConnectionStatus::ConnectionStatus(const DesktopSettings& settings, QStatusBar& bar, QObject* parent)
    : QObject(parent), settings_(settings) {
  auto* where = new QLabel(QStringLiteral("Servidor: %1:%2    Banco local: %3")
                               .arg(Q(settings.WebURL()))
                               .arg(settings.WebPort())
                               .arg(settings.LocalDatabase().empty() ? QStringLiteral("(não informado)")
                                                                     : Q(settings.LocalDatabase())));
  where->setObjectName(QStringLiteral("lblOnde"));
  bar.addWidget(where);
  connection_ = new QLabel(QStringLiteral("Sem chamadas ao servidor ainda"), &bar);
  connection_->setObjectName(QStringLiteral("lblConexao"));
  lastCall_ = new QLabel(&bar);
  lastCall_->setObjectName(QStringLiteral("lblUltimaChamada"));
  bar.addPermanentWidget(connection_);
  bar.addPermanentWidget(lastCall_);
}

std::function<void(const std::function<void()>&)> ConnectionStatus::TimedCallRunner() {
  QPointer<ConnectionStatus> self(this);
  return [self](const std::function<void()>& exchange) {
    // Calls off the user-interface thread (the history's) are not the screen's: not shown.
    if (!qApp || QThread::currentThread() != qApp->thread()) {
      CallRunner::Run(exchange);
      return;
    }
    QElapsedTimer clock;
    clock.start();
    try {
      CallRunner::Run(exchange);
    } catch (...) {
      if (self) self->NoteCall(clock.elapsed(), false);
      throw;
    }
    // The exchange has ended; a failure to reach the server is only known from its outcome,
    // which the connection raises after this, and the host services report (SetUnreachable...).
    if (self) self->NoteCall(clock.elapsed(), true);
  };
}

void ConnectionStatus::NoteCall(qint64 milliseconds, bool ok) {
  const QString server = QStringLiteral("%1:%2").arg(Q(settings_.WebURL())).arg(settings_.WebPort());
  connection_->setText(ok ? QStringLiteral("Conectado a %1").arg(server) : QStringLiteral("Sem conexão com %1").arg(server));
  connection_->setStyleSheet(ok ? QString() : QStringLiteral("color: #a01e1e;"));
  if (milliseconds >= 0) lastCall_->setText(QStringLiteral("Última chamada: %1 ms").arg(milliseconds));
  if (ok && milliseconds >= 0 && reached_) reached_();
}

}  // namespace desktop
