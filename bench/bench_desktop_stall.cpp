// How long the desktop's user-interface thread stops answering while the screen opens and while
// it stores one supplier (check, save, reload of the whole list), on demo data of 1,000, 100,000
// and 1,000,000 related rows. The real desktop (main window, Qt host services, call runner,
// screen module) runs on Qt's offscreen platform against a real server process on loopback.
//
// A probe timer asks to fire every 10 ms; each firing's lateness (time since the previous one
// minus the interval) is how long the thread was busy elsewhere. A stall shorter than about a
// frame goes unseen by the user; the busy animation moving means the thread came back often.
//
//   bench_desktop_stall [--now-only] [--rows-per-product N] [SIZE...]
//       sizes in related rows (default 1000 100000 1000000), N related rows per product
//       (default 10: 1,000,000 rows are 100,000 products x 10); --now-only skips the pass with
//       the record sets loaded on the user-interface thread (the desktop before loads had a
//       worker), which otherwise runs first, on the same server, for comparison.
//
// Prints, for each pass and step: its wall time, the longest stall, the 99th percentile of the lateness,
// and the busy animation's frames painted during the step.
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "SizeArgs.h"
#include "desktop/BusyIndicator.h"
#include "desktop/CallRunner.h"
#include "desktop/FormWindow.h"
#include "desktop/GridView.h"
#include "desktop/LayoutStore.h"
#include "desktop/MainWindow.h"
#include "desktop/QtHostServices.h"
#include "host/controls/Form.h"
#include "host/data/ClientDataSet.h"
#include "host/data/Field.h"
#include "host/db/ADOIBQuery.h"
#include "host/net/NetConnection.h"
#include "tests/support/TestServer.h"

namespace {

constexpr int kProbeMs = 10;

// Counts the paints of one widget.
class PaintCounter : public QObject {
 public:
  int paints = 0;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return QObject::eventFilter(watched, event);
  }
};

// The probe: a timer that fires every kProbeMs while started, noting how late each firing was.
class Probe {
 public:
  Probe() {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(kProbeMs);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      const qint64 now = clock_.nsecsElapsed();
      lateness_.push_back(std::max<qint64>(0, now - last_ - kProbeMs * 1000000LL) / 1e6);
      last_ = now;
    });
  }
  void Start() {
    lateness_.clear();
    clock_.start();
    last_ = 0;
    timer_.start();
  }
  // Stops the probe, counting the time since the last firing as a stall too.
  void Stop() {
    const qint64 now = clock_.nsecsElapsed();
    lateness_.push_back(std::max<qint64>(0, now - last_ - kProbeMs * 1000000LL) / 1e6);
    timer_.stop();
  }
  double Longest() const { return lateness_.empty() ? 0 : *std::max_element(lateness_.begin(), lateness_.end()); }
  double P99() const {
    if (lateness_.empty()) return 0;
    std::vector<double> v = lateness_;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, v.size() * 99 / 100)];
  }
  std::size_t Firings() const { return lateness_.size(); }
  double ElapsedMs() const { return clock_.nsecsElapsed() / 1e6; }

 private:
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 last_ = 0;
  std::vector<double> lateness_;
};

// Runs the event loop for `ms` milliseconds (deferred work and paints of a step land here).
void Pump(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

void Report(const char* step, Probe& probe, int frames) {
  std::printf("   %-40s %8.1f ms   longest stall %7.1f ms   p99 %6.1f ms   %4d frames painted\n", step,
              probe.ElapsedMs(), probe.Longest(), probe.P99(), frames);
  std::fflush(stdout);
}

// Measures `step` with the probe, the busy animation's paints counted; the loop then runs for a
// while so that work the step left queued is measured too.
void Measure(const char* name, desktop::BusyIndicator* busy, const std::function<void()>& step) {
  PaintCounter counter;
  if (busy) busy->installEventFilter(&counter);
  Probe probe;
  probe.Start();
  step();
  Pump(200);
  probe.Stop();
  if (busy) busy->removeEventFilter(&counter);
  Report(name, probe, counter.paints);
}

host::TClientDataSet* DataSet(host::TForm& form, const std::string& name) {
  return dynamic_cast<host::TClientDataSet*>(form.FindComponent(name));
}

// A supplier of the local database that the current product does not have yet; empty if none.
std::string FreeSupplier(host::TForm& form) {
  auto* suppliers = dynamic_cast<host::TADOIBQuery*>(form.FindComponent("qryFornecedor"));
  host::TClientDataSet* list = DataSet(form, "cdsFornecedor");
  if (!suppliers || !list) return {};
  suppliers->Close();
  suppliers->Open();
  std::vector<std::string> taken;
  for (int n = 1; n <= list->RecordCount(); ++n) {
    list->SetDisplayRow(n);
    taken.push_back(list->FieldByName("NRINSJURFORN")->AsString());
  }
  list->SetDisplayRow(0);
  for (suppliers->First(); !suppliers->Eof(); suppliers->Next()) {
    const std::string number = suppliers->FieldByName("NRINSJURFORN")->AsString();
    if (std::find(taken.begin(), taken.end(), number) == taken.end()) return number;
  }
  return {};
}

// One pass over a fresh main window: open the screen, store one supplier. With inlineLoads the
// record sets load on the user-interface thread, as the desktop did before loads had a worker.
void Pass(testsupport::TestServer& server, bool inlineLoads) {
  std::printf(" %s\n", inlineLoads ? "record sets loaded on the user-interface thread (before)"
                                    : "record sets loaded on a worker thread (now)");
  desktop::DesktopSettings settings;
  settings.SetServer("127.0.0.1", server.Port());
  settings.SetLocalDatabase(server.LocalDatabase().string());
  settings.SetModulePath(testsupport::ScreenModule());
  desktop::QtHostServices services(settings);
  services.Install();
  if (inlineLoads) host::TClientDataSet::SetLoadRunner({});
  std::vector<std::string> dialogs;
  // A dialog would wait for a user: note its title and close it.
  services.SetDialogHook([&dialogs](QDialog& d) {
    dialogs.push_back(d.windowTitle().toStdString());
    d.reject();
  });
  host::TNetConnection::SetCallRunner(
      [](const std::function<void()>& exchange) { desktop::CallRunner::Run(exchange); });
  {
    desktop::MainWindow window(services);
    window.resize(1024, 768);
    window.show();
    Pump(100);
    desktop::BusyIndicator* busy = services.Busy();

    bool opened = false;
    Measure("open (connect, getDados, load, show)", busy, [&] { opened = window.OpenScreen(); });
    desktop::FormWindow* screen = window.ScreenWindow();
    if (!opened || !screen) {
      std::printf("   the screen did not open\n");
    } else {
      host::TForm& form = *screen->Form();
      host::TClientDataSet* productsSet = DataSet(form, "cdsProduto");
      host::TClientDataSet* list = DataSet(form, "cdsFornecedor");
      std::printf("   [%d products listed, %d suppliers in view]\n", productsSet ? productsSet->RecordCount() : -1,
                  list ? list->RecordCount() : -1);
      auto* insert = qobject_cast<QAbstractButton*>(screen->WidgetNamed("sbtIncluir"));
      auto* confirm = qobject_cast<QAbstractButton*>(screen->WidgetNamed("sbtConfirmar"));
      desktop::GridView* grid = screen->Grid("dbgFornecedor");
      if (productsSet) productsSet->MoveBy(7);
      Pump(50);
      const std::string number = FreeSupplier(form);
      if (number.empty() || !insert || !confirm || !grid || !list) {
        std::printf("   no supplier left to store\n");
      } else {
        grid->ClickCell(0, 0);
        insert->click();
        list->FieldByName("NRINSJURFORN")->SetAsString(number);
        const int before = list->RecordCount();
        Measure("store one supplier (check, save, reload)", busy, [&] { confirm->click(); });
        std::printf("   [suppliers in view %d -> %d]\n", before, list->RecordCount());
      }
    }
    for (const std::string& d : dialogs) std::printf("   dialog shown: %s\n", d.c_str());
    window.Shutdown();
  }
  host::TNetConnection::SetCallRunner({});
}

void Run(int relatedRows, int rowsPerProduct, bool before) {
  const int products = std::max(1, relatedRows / rowsPerProduct);
  std::printf("\n%d related rows (%d products x %d rows)\n", relatedRows, products, rowsPerProduct);
  std::fflush(stdout);
  testsupport::TestServer server(testsupport::TestServer::Demo{products, rowsPerProduct});
  if (before) Pass(server, true);
  Pass(server, false);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  // Remembered layouts go to a file of this run, never to the user's own settings.
  const QString layout = QDir::temp().filePath(QStringLiteral("pdi-bench-stall-layout-%1.ini").arg(getpid()));
  desktop::LayoutStore::SetUserFile(layout);
  bool before = true;
  const auto args = bench::ParseSizeArgs(argc, argv, "[SIZE...] [--rows-per-product M] [--now-only]",
                                         [&before](std::string_view arg, const char*) {
                                           if (arg != "--now-only") return 0;
                                           before = false;
                                           return 1;
                                         });
  if (!args) {
    QFile::remove(layout);
    return 2;
  }
  try {
    for (int size : args->sizes) Run(size, args->rowsPerProduct, before);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_desktop_stall: %s\n", e.what());
    QFile::remove(layout);
    return 1;
  }
  QFile::remove(layout);
  return 0;
}
