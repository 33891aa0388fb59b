#include "desktop/LocalDatabaseUpdater.h"

#include <QStatusBar>
#include <string>

#include "desktop/QtHostServices.h"
#include "host/net/LocalDatabaseDownload.h"
#include "host/wire/ServiceName.h"

namespace desktop {

void LocalDatabaseUpdater::Refresh() {
  const DesktopSettings& s = services_.Settings();
  if (s.LocalDatabase().empty()) return;
  const host::LocalDatabaseDownload download(s.WebURL(), s.WebPort(), std::string(host::wire::kServiceName),
                                             s.AccessToken());
  const host::LocalDatabaseRefresh refresh = download.Refresh(s.LocalDatabase());
  if (refresh.outcome == host::LocalDatabaseRefresh::Outcome::Failed) {
    services_.ShowError(refresh.message);
  } else {
    bar_.showMessage(QString::fromStdString(refresh.message), 5000);
  }
}

}  // namespace desktop
