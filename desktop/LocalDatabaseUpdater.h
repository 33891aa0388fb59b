// LocalDatabaseUpdater brings the desktop's local read-only database up to date from the
// application server (Arquivo > Atualizar cadastros, and once at start), through
// host::LocalDatabaseDownload with the settings' server and access token and the service's name.
//
// Promises:
// - Nothing happens when the settings name no local database.
// - A failure keeps the old copy and is shown once, as an error through the host services; an
//   update or an unchanged copy is told in the status bar for a few seconds.
// - The download runs on the calling thread; its own deadlines bound the wait.
//
// Used on the user-interface thread only. Not copyable (holds references).
#pragma once

class QStatusBar;

namespace desktop {

class QtHostServices;

class LocalDatabaseUpdater {
 public:
  // REQUIRES: services and bar outlive the updater.
  LocalDatabaseUpdater(QtHostServices& services, QStatusBar& bar) : services_(services), bar_(bar) {}
  LocalDatabaseUpdater(const LocalDatabaseUpdater&) = delete;
  LocalDatabaseUpdater& operator=(const LocalDatabaseUpdater&) = delete;

  // Updates the local database now (see the class comment).
  void Refresh();

 private:
  QtHostServices& services_;
  QStatusBar& bar_;
};

}  // namespace desktop
