// The desktop against a server with named users: the sign-in dialog at start (given up, refused,
// accepted), the person and role in the status bar, a consulta session that cannot insert, and a
// session ended during work that asks again and keeps the row being typed.
//
// PDI_TEST_SHOTS=DIR saves the dialog and the status bar there as PNG files.
#include <gtest/gtest.h>
#include <httplib.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <cstdio>
#include <cstdlib>

#include "desktop/SignInDialog.h"
#include "host/controls/DBGrid.h"
#include "host/data/ClientDataSet.h"
#include "tests/desktop/ScreenDesktop.h"

namespace {

using host::TDataSetState;

constexpr char kPassword[] = "senha-longa-123";

void Shoot(QWidget& widget, const char* name) {
  const char* dir = std::getenv("PDI_TEST_SHOTS");
  if (dir && *dir) widget.grab().save(QString::fromUtf8(dir) + QLatin1Char('/') + QLatin1String(name), "PNG");
}

void AddUser(const testsupport::TestServer& server, const std::string& name, const std::string& role) {
  const std::string command = "'" + testsupport::ServerBinary() + "' user add --db '" + server.ServerDatabase().string() +
                              "' " + name + " --role " + role + " --password-stdin >/dev/null";
  FILE* pipe = ::popen(command.c_str(), "w");
  ASSERT_NE(pipe, nullptr);
  std::fprintf(pipe, "%s\n", kPassword);
  ASSERT_EQ(::pclose(pipe), 0) << command;
}

// Answers the sign-in dialog with `password` and presses OK; the dialog's message, if it stays
// open, goes to `message`.
desktoptest::DialogAnswers::Answer SignInWith(const std::string& user, const std::string& password,
                                              QString* message = nullptr) {
  return [=](QDialog& d) {
    auto* dialog = qobject_cast<desktop::SignInDialog*>(&d);
    ASSERT_NE(dialog, nullptr);
    if (!user.empty()) dialog->UserBox()->setText(QString::fromStdString(user));
    QTest::keyClicks(dialog->PasswordBox(), QString::fromStdString(password));
    QTest::keyClick(dialog->PasswordBox(), Qt::Key_Return);  // OK is the default button
    if (message && dialog->isVisible()) *message = dialog->MessageLabel()->text();
  };
}

class SignInDesktopTest : public desktoptest::ScreenDesktopTest {
 protected:
  virtual std::string User() const { return "ana"; }

  void Seed(testsupport::TestServer& server) override {
    testsupport::SeedSample(server);
    AddUser(server, "ana", "edicao");
    AddUser(server, "joao", "consulta");
    server.Restart();  // the server asks for a sign-in once it has users
  }
  void BeforeOpen() override {
    desktop::QtHostServices& services = desktop_->services;
    // Cancelar at start: the desktop ends (EnsureAccess false) and nothing is signed in.
    desktop_->answers->Escape();
    EXPECT_FALSE(services.EnsureAccess());
    EXPECT_TRUE(services.AccessToken().empty());
    // A wrong password is refused in the dialog, which stays open for the right one.
    QString refusal;
    desktop_->answers->Queue([&](QDialog& d) {
      SignInWith(User(), "senha-errada-000", &refusal)(d);
      EXPECT_TRUE(d.isVisible());
      EXPECT_TRUE(static_cast<desktop::SignInDialog&>(d).PasswordBox()->text().isEmpty());
      Shoot(d, "sign-in-refused.png");
      SignInWith("", kPassword)(d);
    });
    ASSERT_TRUE(services.EnsureAccess());
    EXPECT_FALSE(refusal.isEmpty());
    EXPECT_NE(refusal, QStringLiteral("Entrando..."));
    EXPECT_EQ(desktop_->answers->Pending(), 0u);
    EXPECT_EQ(services.CurrentSession().user, User());
    EXPECT_FALSE(services.AccessToken().empty());
  }

  // Types a new supplier of product 100 and leaves its code column (validated, not yet stored).
  void TypeSupplierRow() {
    ASSERT_TRUE(Grid("dbgFornecedor")->ClickCell(0, 0));
    Button("sbtIncluir")->click();
    Settle();
    QTest::keyClicks(QApplication::focusWidget(), "45.723.174/0001-10");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(Model<host::TClientDataSet>("cdsFornecedor")->State(), TDataSetState::dsInsert);
  }
  // Ends the desktop's session at the server, as an idle timeout would.
  void EndSession() {
    httplib::Client http("127.0.0.1", server_->Port());
    const auto result =
        http.Post("/logout", {{"Authorization", "Bearer " + desktop_->services.AccessToken()}}, "", "application/json");
    ASSERT_TRUE(result);
    ASSERT_EQ(result->status, 200);
  }
};

TEST_F(SignInDesktopTest, AnEditingSessionShowsTheRoleAndAnEndedOneAsksAgainKeepingTheRow) {
  EXPECT_EQ(desktop_->window->PersonLabel()->text(), QStringLiteral("ana — edição"));
  EXPECT_FALSE(desktop_->services.ReadOnlyAccess());
  EXPECT_TRUE(desktop_->window->AboutText().contains(QStringLiteral("Usuário: ana — edição")));

  TypeSupplierRow();
  EndSession();
  const std::string ended = desktop_->services.AccessToken();
  // Given up: the save fails saying the session ended; the row typed is still there.
  desktop_->answers->Escape();
  EXPECT_FALSE(Grid("dbgPadrao")->ClickCell(0, 0));
  ASSERT_EQ(desktop_->answers->Seen().size(), 1u);
  EXPECT_NE(desktop_->answers->Seen()[0].find("a sessão terminou"), std::string::npos) << desktop_->answers->Seen()[0];
  auto* list = Model<host::TClientDataSet>("cdsFornecedor");
  EXPECT_EQ(list->State(), TDataSetState::dsInsert);
  EXPECT_EQ(list->FieldByName("NRINSJURFORN")->AsString(), "45723174000110");
  EXPECT_FALSE(desktop_->window->ConnectionLabel()->text().startsWith(QStringLiteral("Sem conexão")));  // reached

  // Tried again: the dialog comes back with the name filled in, and the same save goes through.
  QString shownUser;
  desktop_->answers->Queue([&](QDialog& d) {
    shownUser = static_cast<desktop::SignInDialog&>(d).UserBox()->text();
    Shoot(d, "sign-in-again.png");
    SignInWith("", kPassword)(d);
  });
  desktop_->ClearCalls();
  EXPECT_TRUE(Grid("dbgPadrao")->ClickCell(0, 0));
  EXPECT_EQ(shownUser, QStringLiteral("ana"));
  EXPECT_NE(desktop_->services.AccessToken(), ended);
  EXPECT_EQ(list->State(), TDataSetState::dsBrowse);
  EXPECT_EQ(ColumnTexts("dbgFornecedor", 0),
            (std::vector<std::string>{"11.222.333/0001-81", "45.723.174/0001-10", "529.982.247-25"}));
  EXPECT_EQ(desktop_->answers->Seen().size(), 1u);  // no new error
  EXPECT_EQ(desktop_->Count("SetFornecedor"), 1);   // the refused request is sent again, not the call
}

class ConsultaDesktopTest : public SignInDesktopTest {
 protected:
  std::string User() const override { return "joao"; }
};

TEST_F(ConsultaDesktopTest, AConsultaSessionShowsTheRoleAndCannotInsert) {
  EXPECT_TRUE(desktop_->services.ReadOnlyAccess());
  QLabel* person = desktop_->window->PersonLabel();
  EXPECT_EQ(person->text(), QStringLiteral("joao — somente consulta"));
  EXPECT_TRUE(person->isVisible());
  EXPECT_TRUE(desktop_->window->AboutText().contains(QStringLiteral("joao")));
  ASSERT_TRUE(Grid("dbgFornecedor")->ClickCell(0, 0));
  EXPECT_FALSE(Button("sbtIncluir")->isEnabled());
  EXPECT_FALSE(Button("sbtExcluir")->isEnabled());
  // The lists still load: the session is sent with every call.
  EXPECT_EQ(ColumnTexts("dbgFornecedor", 0), (std::vector<std::string>{"11.222.333/0001-81", "529.982.247-25"}));
  Shoot(*desktop_->window->statusBar(), "sign-in-status-bar.png");
}

}  // namespace
