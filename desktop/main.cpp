// pdi07310-desktop: the Qt host of the screen PDI07310 (see MainWindow and DesktopSettings).
#include <QStringList>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPixmap>
#include <QTimer>
#include <cstdio>

#include "desktop/BusyIndicator.h"
#include "desktop/CallRunner.h"
#include "desktop/ClerkWords.h"
#include "desktop/DesktopSettings.h"
#include "desktop/MainWindow.h"
#include "pdi_version.h"
#include "desktop/QtHostServices.h"
#include "desktop/SignInDialog.h"
#include "host/net/NetConnection.h"
#include "host/wire/ServiceName.h"

namespace {

// In screenshot mode nobody is there to answer a dialog: its text goes to stderr and it closes.
void AnswerUnattended(QDialog& dialog) {
  if (auto* box = qobject_cast<QMessageBox*>(&dialog)) {
    std::fprintf(stderr, "pdi07310-desktop: %s\n", box->text().toUtf8().constData());
  }
  if (qobject_cast<desktop::SignInDialog*>(&dialog)) {
    std::fputs("pdi07310-desktop: o servidor pede usuário e senha; informe um token de acesso (--token)\n", stderr);
  }
  dialog.reject();
}

int TakeScreenshot(QApplication& app, desktop::MainWindow& window, desktop::QtHostServices& services,
                   const std::string& path) {
  QElapsedTimer clock;
  clock.start();
  const quint64 framesBefore = services.Busy() ? services.Busy()->Frames() : 0;
  const bool opened = window.OpenScreen();
  // How long the screen took to open and how far the busy animation turned meanwhile.
  std::fprintf(stderr, "pdi07310-desktop: abertura da tela em %lld ms, animação de espera: %llu quadros\n",
               static_cast<long long>(clock.elapsed()),
               static_cast<unsigned long long>((services.Busy() ? services.Busy()->Frames() : 0) - framesBefore));
  if (!opened) {
    std::fprintf(stderr, "pdi07310-desktop: a tela não abriu; nenhuma imagem gravada\n");
    return 1;
  }
  // The history panel shows the current product's changes (asked off the user-interface
  // thread after a short pause): give it up to 5 s.
  QElapsedTimer history;
  history.start();
  desktop::HistoryPanel* panel = window.History();
  while (panel && panel->isVisible() && history.elapsed() < 5000 &&
         (panel->Key() != window.CurrentHistoryKey() || panel->Requests() == 0 || panel->Busy())) {
    app.processEvents(QEventLoop::AllEvents, 50);
  }
  // Let the layout and the first paint of every widget settle before grabbing.
  for (int i = 0; i < 5; ++i) app.processEvents();
  const QPixmap shot = window.grab();
  if (!shot.save(QString::fromStdString(path), "PNG")) {
    std::fprintf(stderr, "pdi07310-desktop: não foi possível gravar %s\n", path.c_str());
    return 1;
  }
  std::fprintf(stderr, "pdi07310-desktop: imagem gravada em %s\n", path.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication::setApplicationName(QStringLiteral("pdi07310-desktop"));
  QCoreApplication::setOrganizationName(QStringLiteral("PDI07310"));
  // The command line is checked before the display is opened, so --help and mistakes work
  // anywhere.
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments.append(QString::fromLocal8Bit(argv[i]));
  if (arguments.contains(QStringLiteral("--version"))) {
    std::fputs("pdi07310-desktop " PDI_VERSION "\n", stdout);
    return 0;
  }
  desktop::DesktopSettings settings;
  bool help = false;
  try {
    settings = desktop::DesktopSettings::Load(arguments, &help);
  } catch (const desktop::ESettingsError& e) {
    std::fprintf(stderr, "pdi07310-desktop: %s\n\n%s", e.what(),
                 desktop::DesktopSettings::Usage().c_str());
    return 2;
  }
  if (help) {
    std::fputs(desktop::DesktopSettings::Usage().c_str(), stdout);
    return 0;
  }

  // Fractional scale factors are kept as they are (no rounding to whole numbers), so a 150 %
  // screen gets icons drawn for 1.5x instead of blurred ones.
  QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
  QApplication app(argc, argv);
  // Qt's own texts (file chooser, details button, context menus) in Brazilian Portuguese,
  // whatever the system's locale.
  desktop::ClerkWords::InstallQtTranslation(app);
  if (settings.ModulePath().empty()) {
    settings.SetModulePath(desktop::DesktopSettings::DefaultModulePath());
  }
  desktop::QtHostServices services(settings);
  services.Install();
  host::TNetConnection::SetCallRunner(
      [](const std::function<void()>& exchange) { desktop::CallRunner::Run(exchange); });
  if (!settings.ScreenshotPath().empty()) services.SetDialogHook(AnswerUnattended);

  // A server that wants a sign-in gets it before the screen opens and the local database is
  // downloaded; Cancelar ends the desktop.
  if (!services.EnsureAccess()) {
    host::TNetConnection::SetCallRunner({});
    return settings.ScreenshotPath().empty() ? 0 : 1;
  }

  int rc = 0;
  {
    desktop::MainWindow window(services);
    host::TNetConnection::SetCallRunner(window.TimedCallRunner());
    window.SetHistoryFetcher(desktop::HistoryPanel::ServerFetcher(settings, std::string(host::wire::kServiceName),
                                                                  [&services] { return services.AccessToken(); }));
    window.show();
    if (!settings.ScreenshotPath().empty()) {
      QTimer::singleShot(0, &window, [&] {
        const int code = TakeScreenshot(app, window, services, settings.ScreenshotPath());
        window.Shutdown();
        QApplication::exit(code);
      });
    } else {
      // The window is painted first; the local database is refreshed off the user-interface
      // thread while the screen opens on the copy at hand (see MainWindow::StartUp).
      QTimer::singleShot(0, &window, [&] { window.StartUp(settings.OpenAtStart()); });
    }
    rc = QApplication::exec();
    window.Shutdown();
    host::TNetConnection::SetCallRunner(
        [](const std::function<void()>& exchange) { desktop::CallRunner::Run(exchange); });
  }
  host::TNetConnection::SetCallRunner({});
  return rc;
}
