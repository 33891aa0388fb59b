// CallRunner: the work runs on another thread while the user-interface thread keeps running its
// timers (the busy animation turns), and what the work raises reaches the caller unchanged.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "desktop/BusyIndicator.h"
#include "desktop/CallRunner.h"

namespace {

// Waits (on the worker) until `flag` reaches `count`; gives up after a long while so a broken
// runner fails the test instead of hanging it.
bool WaitFor(const std::atomic<int>& flag, int count) {
  for (int i = 0; i < 20000 && flag.load() < count; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return flag.load() >= count;
}

TEST(CallRunnerTest, TimersKeepRunningOnTheUiThreadDuringTheCall) {
  std::atomic<int> ticks{0};
  QTimer timer;
  timer.setInterval(1);
  QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
  timer.start();
  std::thread::id workerThread;
  bool sawTicks = false;
  desktop::CallRunner::Run([&] {
    workerThread = std::this_thread::get_id();
    sawTicks = WaitFor(ticks, 5);
  });
  EXPECT_TRUE(sawTicks);
  EXPECT_NE(workerThread, std::this_thread::get_id());
  EXPECT_FALSE(desktop::CallRunner::Waiting());
}

TEST(CallRunnerTest, BusyAnimationTurnsWhileACallRuns) {
  QWidget window;
  window.resize(300, 200);
  window.show();
  desktop::BusyIndicator busy(&window);
  busy.Start(QStringLiteral("Carregando dados..."));
  const quint64 before = busy.Frames();
  std::atomic<int> frames{0};
  // The indicator's own timer drives it; a mirror counter lets the worker watch it safely.
  QTimer probe;
  probe.setInterval(5);
  QObject::connect(&probe, &QTimer::timeout, [&] { frames = static_cast<int>(busy.Frames() - before); });
  probe.start();
  bool moved = false;
  desktop::CallRunner::Run([&] { moved = WaitFor(frames, 3); });
  EXPECT_TRUE(moved);
  busy.Stop();
}

TEST(CallRunnerTest, FailuresOfTheWorkReachTheCallerUnchanged) {
  struct Marker : std::runtime_error {
    using std::runtime_error::runtime_error;
  };
  try {
    desktop::CallRunner::Run([] { throw Marker("conexão recusada"); });
    FAIL() << "no exception";
  } catch (const Marker& e) {
    EXPECT_STREQ(e.what(), "conexão recusada");
  }
}

}  // namespace
