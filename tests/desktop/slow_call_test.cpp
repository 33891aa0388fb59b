// A server that accepts the connection and never answers: the call fails after the stall timeout
// as a broken connection does, or at once when the user presses the busy animation's "Cancelar",
// offered once the call has waited CallRunner::kOfferCancelAfter. Keys typed while a slow call
// waits are delivered after it, unless the call was cancelled.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "desktop/BusyIndicator.h"
#include "desktop/CallRunner.h"
#include "desktop/QtHostServices.h"
#include "host/data/Variant.h"
#include "host/net/NetConnection.h"
#include "host/wire/ServiceName.h"

namespace {

// A loopback socket that listens and never accepts: connections complete in the kernel's
// backlog and then hear nothing.
class SilentServer {
 public:
  SilentServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(fd_, 16);
    socklen_t length = sizeof addr;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &length);
    port_ = ntohs(addr.sin_port);
  }
  ~SilentServer() { ::close(fd_); }
  SilentServer(const SilentServer&) = delete;
  SilentServer& operator=(const SilentServer&) = delete;
  int Port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

class SlowCallTest : public ::testing::Test {
 protected:
  SlowCallTest() : services_(Settings()) {
    services_.Install();
    host::TNetConnection::SetCallRunner(
        [](const std::function<void()>& exchange) { desktop::CallRunner::Run(exchange); });
    window_.resize(400, 300);
    window_.show();
    services_.SetMainWindow(&window_);
    connection_.SetHost("127.0.0.1");
    connection_.SetPort(server_.Port());
    connection_.SetServerName(std::string(host::wire::kServiceName));
  }
  ~SlowCallTest() override {
    services_.SetMainWindow(nullptr);
    host::TNetConnection::SetCallRunner({});
    host::TNetConnection::SetDefaultReadTimeout(std::chrono::seconds(120));
  }
  static desktop::DesktopSettings Settings() {
    desktop::DesktopSettings s;
    s.SetStallTimeoutSeconds(30);
    return s;
  }
  // The failure text of a call, or "" when it succeeded.
  std::string CallFailure() {
    try {
      connection_.Call("getDados", {host::Variant::FromText("x")});
    } catch (const host::ENetError& e) {
      return e.what();
    }
    return {};
  }

  SilentServer server_;
  desktop::QtHostServices services_;
  QWidget window_;
  host::TNetConnection connection_;
};

TEST_F(SlowCallTest, TheStallTimeoutOfTheSettingsReachesNewConnections) {
  host::TNetConnection fresh;
  EXPECT_EQ(fresh.ReadTimeout(), std::chrono::seconds(30));
  host::TNetConnection::SetDefaultReadTimeout(std::chrono::seconds(1));
  host::TNetConnection later;
  EXPECT_EQ(later.ReadTimeout(), std::chrono::seconds(1));
  // A silent server fails the call after the stall timeout, as a broken connection does.
  later.SetHost("127.0.0.1");
  later.SetPort(server_.Port());
  later.SetServerName(std::string(host::wire::kServiceName));
  try {
    later.Call("getDados", {host::Variant::FromText("x")});
    ADD_FAILURE() << "a silent server must fail the call";
  } catch (const host::ENetError& e) {
    EXPECT_NE(std::string(e.what()).find("tempo esgotado"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(later.Connected());
}

TEST_F(SlowCallTest, CancelIsOfferedAfterAWhileAndEndsTheCallAsABrokenConnection) {
  desktop::BusyIndicator* busy = services_.Busy();
  ASSERT_NE(busy, nullptr);
  bool offeredWhileWaiting = false;
  bool busyShownForTheCall = false;
  // Once offered, the user presses "Cancelar" (the only click that reaches the window now).
  QTimer press;
  press.setInterval(100);
  QObject::connect(&press, &QTimer::timeout, [&] {
    if (!busy->CancelOffered()) return;
    offeredWhileWaiting = desktop::CallRunner::CancelOffered();
    busyShownForTheCall = busy->Running();
    press.stop();
    busy->CancelButton()->click();
  });
  press.start();
  const std::string failure = CallFailure();
  EXPECT_TRUE(offeredWhileWaiting);
  EXPECT_TRUE(busyShownForTheCall);
  EXPECT_NE(failure.find("cancelada pelo usuário"), std::string::npos) << failure;
  // The clerk reads it without the method; the busy animation and its button are gone.
  EXPECT_EQ(desktop::QtHostServices::ClerkText(failure, nullptr),
            "A chamada ao servidor 127.0.0.1:" + std::to_string(server_.Port()) +
                " foi cancelada; nada foi alterado por ela.");
  EXPECT_FALSE(busy->Running());
  EXPECT_FALSE(busy->CancelOffered());
  EXPECT_FALSE(desktop::CallRunner::Waiting());
  EXPECT_FALSE(connection_.Connected());
}

// Runs a call that waits (on the worker) until the UI thread says so; `whileSlow` runs on the UI
// thread once the cancel is offered.
void RunSlowCall(const std::function<void()>& whileSlow, std::atomic<bool>& finish) {
  QTimer poll;
  poll.setInterval(50);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (!desktop::CallRunner::CancelOffered()) return;
    poll.stop();
    whileSlow();
  });
  poll.start();
  desktop::CallRunner::Run([&] {
    for (int i = 0; i < 1200 && !finish; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  });
}

TEST_F(SlowCallTest, KeysTypedDuringASlowCallArriveAfterItAndEscapeCancelsIt) {
  auto* edit = new QLineEdit(&window_);
  edit->show();
  edit->setFocus();
  QCoreApplication::processEvents();
  std::atomic<bool> finish{false};
  RunSlowCall([&] {
    QTest::keyClicks(edit, "ab");
    EXPECT_TRUE(edit->text().isEmpty());  // held while the call waits
    finish = true;
  }, finish);
  QCoreApplication::processEvents();
  EXPECT_EQ(edit->text(), QStringLiteral("ab"));
  // Escape asks for the cancel (the canceller runs) and the keys typed meanwhile are dropped.
  int cancels = 0;
  desktop::CallRunner::SetCanceller([&] { ++cancels; finish = true; });
  finish = false;
  RunSlowCall([&] {
    QTest::keyClicks(edit, "cd");
    QTest::keyClick(edit, Qt::Key_Escape);
  }, finish);
  QCoreApplication::processEvents();
  EXPECT_GE(cancels, 1);
  EXPECT_EQ(edit->text(), QStringLiteral("ab"));
  desktop::CallRunner::SetCanceller([] { host::TNetConnection::CancelCalls(); });
}

TEST(ClerkTextTest, ConnectionFailuresLoseTheMethodAndKeepItInTheDetails) {
  std::string details;
  EXPECT_EQ(desktop::QtHostServices::ClerkText(
                "Falha ao chamar getDados em 127.0.0.1:18473: conexão recusada", &details),
            "Não foi possível falar com o servidor 127.0.0.1:18473 (conexão recusada).");
  EXPECT_EQ(details, "Falha ao chamar getDados em 127.0.0.1:18473: conexão recusada");
  // A screen's own words before the failure stay.
  EXPECT_EQ(desktop::QtHostServices::ClerkText(
                "Erro ao carregar. Falha ao conectar ao serviço X em [::1]:8470: tempo esgotado ao conectar.",
                &details),
            "Erro ao carregar. Não foi possível falar com o servidor [::1]:8470 (tempo esgotado ao conectar).");
  // Anything else is shown as it is, with no details.
  EXPECT_EQ(desktop::QtHostServices::ClerkText("Fornecedor não cadastrado.", &details),
            "Fornecedor não cadastrado.");
  EXPECT_TRUE(details.empty());
}

}  // namespace
