// LocalDatabaseUpdater brings the desktop's local read-only database up to date from the
// application server (Arquivo > Atualizar cadastros, and at start), through
// host::LocalDatabaseDownload with the settings' server (over TLS with its CA file when WebURL is
// https://), access token and the service's name.
//
// The download never runs on the user-interface thread, and it never touches the copy the
// screens read until it is whole:
// - It runs on a thread of its own into a staging copy beside the local one (a hard link of it,
//   so an unchanged copy still costs one small answer). Only when it ends and nobody gave up
//   waiting does the user-interface thread put the new copy in place (a rename) and close the
//   local database's connection, so the screens' next query reads the new copy.
// - Start() runs it in the background: the window paints and the screen opens on the local copy
//   meanwhile; the status bar says it runs and how it ended.
// - RefreshAndWait() (the menu entry) waits for it as for a remote call (CallRunner): the busy
//   panel turns with "Atualizando os cadastros...", after CallRunner::kOfferCancelAfter it offers
//   "Cancelar", Esc or Cancelar ends the wait at once, and a failure is shown once in a dialog.
// - A download given up (Cancel, a cancelled wait, the window closing) is abandoned: its exchange
//   is cancelled (host::DownloadCanceller), its thread ends and removes its staging copy; the
//   local copy stays as it was and a later refresh starts afresh.
// - Texts are the clerk's: "Cadastros atualizados.", "Os cadastros já estavam atualizados.", or
//   the download's failure, which says what happened and what is left (the old copy, or none)
//   and is also written on standard error when it comes in the background.
// - Nothing happens when the settings name no local database.
//
// Used on the user-interface thread only (the download function runs on its own thread). Not
// copyable (a QObject).
#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <string>

#include "host/net/LocalDatabaseDownload.h"

class QStatusBar;
class QTimer;

namespace desktop {

class QtHostServices;

class LocalDatabaseUpdater : public QObject {
  Q_OBJECT

 public:
  // Downloads into the file at the given path (the staging copy, a hard link of the local copy:
  // a new copy must replace it by a rename, never be written into it, as LocalDatabaseDownload
  // does); runs off the user-interface thread and must touch nothing shared with it. A throw
  // counts as a failure.
  using Download = std::function<host::LocalDatabaseRefresh(const std::string& path)>;

  // REQUIRES: services and bar outlive the updater.
  LocalDatabaseUpdater(QtHostServices& services, QStatusBar& bar, QObject* parent = nullptr);
  // Abandons a download under way (its thread ends by itself).
  ~LocalDatabaseUpdater() override;

  // Starts a refresh in the background (a no-op while one runs); returns at once.
  void Start();
  // Starts a refresh (or takes the one running) and waits for it (see the class comment).
  void RefreshAndWait();
  // Gives up the refresh under way, if any (see the class comment).
  void Cancel();
  bool Running() const { return job_ != nullptr; }
  // True when the settings' local database exists.
  bool HaveLocalCopy() const;

  // Replaces the download (tests); empty restores the server's.
  void SetDownload(Download download) { download_ = std::move(download); }

 signals:
  // A refresh ended and was reported (not sent for one given up).
  void Finished(host::LocalDatabaseRefresh::Outcome outcome);

 private:
  struct Job;
  void Poll();
  void Finish();
  void Report(const host::LocalDatabaseRefresh& refresh);

  QtHostServices& services_;
  QStatusBar& bar_;
  QTimer* poll_ = nullptr;
  std::shared_ptr<Job> job_;
  Download download_;
  bool waited_ = false;  // the refresh under way is waited for: its failure gets a dialog
  bool inWait_ = false;  // RefreshAndWait is waiting in CallRunner
};

}  // namespace desktop
