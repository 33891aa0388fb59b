// ConnectionStatus is the main window's status bar account of the application server: where the
// server and the local database are ("Servidor: HOST:PORT    Banco local: FILE"), whether the last
// remote call reached the server ("Conectado a HOST:PORT", or "Sem conexão com HOST:PORT" in red)
// and how long it took ("Última chamada: N ms").
//
// It also supplies the call runner that the desktop gives TNetConnection: every call of the
// user-interface thread runs through CallRunner and is timed here; calls off that thread (the
// history panel's) run unshown.
//
// Used on the user-interface thread only (except the call runner, see TimedCallRunner). Not
// copyable (a QObject).
#pragma once

#include <QObject>
#include <functional>

#include "desktop/DesktopSettings.h"

class QLabel;
class QStatusBar;

namespace desktop {

class ConnectionStatus : public QObject {
  Q_OBJECT

 public:
  // Adds its labels to `bar`. REQUIRES: settings and bar outlive this object.
  ConnectionStatus(const DesktopSettings& settings, QStatusBar& bar, QObject* parent = nullptr);

  // A call runner for TNetConnection::SetCallRunner that runs `exchange` through CallRunner and
  // records how long it took (see NoteCall). Safe to keep after this object is gone (it then
  // only runs the exchange).
  std::function<void(const std::function<void()>&)> TimedCallRunner();
  // Records a finished call: a negative time keeps the last time shown (only the connection
  // state changes). After a call that reached the server, the observer set with
  // SetReachedObserver is told.
  void NoteCall(qint64 milliseconds, bool ok);
  // Told after each timed call that reached the server (the screen may have stored a change).
  void SetReachedObserver(std::function<void()> observer) { reached_ = std::move(observer); }

  QLabel* ConnectionLabel() const { return connection_; }
  QLabel* LastCallLabel() const { return lastCall_; }

 private:
  const DesktopSettings& settings_;
  QLabel* connection_ = nullptr;
  QLabel* lastCall_ = nullptr;
  std::function<void()> reached_;
};

}  // namespace desktop
