// Test helper: the desktop as a user starts it (host services, dialog answers, main window and a
// call runner) against a real server, and a fixture that opens the real screen in it. Calls are
// logged by method; the log may be written from a worker thread (the history panel's). Tests that
// need other data or runners override the fixture's hooks.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QToolButton>
#include <algorithm>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "desktop/CallRunner.h"
#include "desktop/FormWindow.h"
#include "desktop/GridView.h"
#include "desktop/MainWindow.h"
#include "desktop/QtHostServices.h"
#include "host/controls/Form.h"
#include "host/net/NetConnection.h"
#include "tests/desktop/DialogAnswers.h"
#include "tests/support/TestServer.h"

namespace desktoptest {

inline desktop::DesktopSettings SettingsFor(int port, const std::string& localDb) {
  desktop::DesktopSettings s;
  s.SetServer("127.0.0.1", port);
  s.SetLocalDatabase(localDb);
  s.SetModulePath(testsupport::ScreenModule());
  return s;
}

// Why the tests with the real server and screen module cannot run here ("" when they can): a
// build of some targets only may not have made them.
inline std::string MissingPrograms() {
  std::string why;
  for (const std::string& program : {testsupport::ServerBinary(), testsupport::ScreenModule()}) {
    if (!std::filesystem::exists(program)) why += (why.empty() ? "not built: " : ", ") + program;
  }
  return why;
}

// Skips the running test (GTEST_SKIP), saying why, when MissingPrograms() names any.
#define PDI_SKIP_WITHOUT_PROGRAMS()                                    \
  do {                                                                 \
    const std::string why = ::desktoptest::MissingPrograms();          \
    if (!why.empty()) GTEST_SKIP() << why;                             \
  } while (false)

class Desktop {
 public:
  // Plain runs each call with the busy animation; Timed is the main window's runner, which also
  // reports the last call's time in the status bar.
  enum class Runner { Plain, Timed };

  explicit Desktop(const desktop::DesktopSettings& settings, Runner runner = Runner::Plain) : services(settings) {
    services.Install();
    answers = std::make_unique<DialogAnswers>(services);
    window = std::make_unique<desktop::MainWindow>(services);
    if (runner == Runner::Timed)
      host::TNetConnection::SetCallRunner(window->TimedCallRunner());
    else
      host::TNetConnection::SetCallRunner(
          [](const std::function<void()>& exchange) { desktop::CallRunner::Run(exchange); });
    host::TNetConnection::SetCallObserver([this](const std::string& method, const std::vector<host::Variant>&) {
      const std::lock_guard<std::mutex> lock(mutex_);
      calls_.push_back(method);
    });
    window->resize(1024, 768);
    window->show();
    QApplication::setActiveWindow(window.get());
  }
  ~Desktop() {
    window->Shutdown();
    window.reset();
    answers.reset();
    host::TNetConnection::SetCallRunner({});
    host::TNetConnection::SetCallObserver({});
  }
  Desktop(const Desktop&) = delete;
  Desktop& operator=(const Desktop&) = delete;

  std::vector<std::string> Calls() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }
  void ClearCalls() {
    const std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
  }
  int Count(const std::string& method) {
    const std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(std::count(calls_.begin(), calls_.end(), method));
  }

  desktop::QtHostServices services;
  std::unique_ptr<DialogAnswers> answers;
  std::unique_ptr<desktop::MainWindow> window;

 private:
  std::mutex mutex_;
  std::vector<std::string> calls_;
};

// Starts a server over the sample master data, lets the test add its rows (Seed), starts the
// desktop, lets the test set up what the screen's opening should see (BeforeOpen) and opens the
// screen.
class ScreenDesktopTest : public ::testing::Test {
 protected:
  virtual void Seed(testsupport::TestServer& server) = 0;
  virtual Desktop::Runner CallRunner() const { return Desktop::Runner::Plain; }
  virtual void BeforeOpen() {}

  void SetUp() override {
    PDI_SKIP_WITHOUT_PROGRAMS();
    server_ = std::make_unique<testsupport::TestServer>();
    Seed(*server_);
    settings_ = SettingsFor(server_->Port(), server_->LocalDatabase().string());
    desktop_ = std::make_unique<Desktop>(settings_, CallRunner());
    BeforeOpen();
    ASSERT_TRUE(desktop_->window->OpenScreen());
    screen_ = desktop_->window->ScreenWindow();
    ASSERT_NE(screen_, nullptr);
    form_ = screen_->Form();
    Settle();
  }
  void TearDown() override {
    desktop_.reset();
    server_.reset();
  }

  // Lets deferred work (the focus put back after an action) run.
  static void Settle() {
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
  }
  template <class T>
  T* Model(const std::string& name) const {
    return dynamic_cast<T*>(form_->FindComponent(name));
  }
  desktop::GridView* Grid(const std::string& name) const { return screen_->Grid(name); }
  QToolButton* Button(const std::string& name) const {
    return qobject_cast<QToolButton*>(screen_->WidgetNamed(name));
  }
  // The shown texts of one column of a grid, every row.
  std::vector<std::string> ColumnTexts(const std::string& grid, int column = 0) const {
    auto* m = Grid(grid)->model();
    std::vector<std::string> out;
    for (int r = 0; r < m->rowCount(); ++r) out.push_back(m->data(m->index(r, column)).toString().toStdString());
    return out;
  }

  std::unique_ptr<testsupport::TestServer> server_;
  desktop::DesktopSettings settings_;
  std::unique_ptr<Desktop> desktop_;
  desktop::FormWindow* screen_ = nullptr;
  host::TForm* form_ = nullptr;
};

}  // namespace desktoptest
