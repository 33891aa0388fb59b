// The desktop's host services with their real dialogs, answered through the dialog hook: questions
// and their modal results, the error dialog and the failure policy of user actions, the pick list
// (incremental search, Enter, Esc, empty list) and the search dialog.
#include <gtest/gtest.h>

#include <QComboBox>
#include <array>
#include <span>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <string_view>
#include <tuple>

#include "desktop/BusyIndicator.h"
#include "desktop/DataSetTableModel.h"
#include "desktop/PickListDialog.h"
#include "desktop/QtHostServices.h"
#include "desktop/SearchDialog.h"
#include "desktop/UserAction.h"
#include "host/net/NetConnection.h"
#include "host/data/ClientDataSet.h"
#include "host/data/DataSource.h"
#include "host/services/HostLib.h"
#include "tests/desktop/DialogAnswers.h"

namespace {

using desktop::QtHostServices;
using desktoptest::DialogAnswers;

class ServicesTest : public ::testing::Test {
 protected:
  void SetUp() override { services_.Install(); }

  // Suppliers: number (digits), name, person type; the number is shown formatted by type.
  void LoadSuppliers(const std::vector<std::array<std::string_view, 3>>& rows) {
    auto* number = suppliers_.AddField("NRINSJURFORN", 20);
    number->DisplayLabel = "Código";
    auto* name = suppliers_.AddField("NMRAZSOCFORN", 40);
    name->DisplayLabel = "Nome";
    auto* type = suppliers_.AddField("IDTPIJURFORN", 1);
    type->Visible = false;
    number->OnGetText = [this](host::TField* f, std::string& text, bool) {
      const std::string t = suppliers_.FieldByName("IDTPIJURFORN")->AsString();
      if (t == "J" && f->AsString().size() == 14) {
        const std::string d = f->AsString();
        text = d.substr(0, 2) + "." + d.substr(2, 3) + "." + d.substr(5, 3) + "/" + d.substr(8, 4) +
               "-" + d.substr(12, 2);
      }
    };
    suppliers_.BeginLoad();
    for (const auto& r : rows) suppliers_.LoadRow(std::span<const std::string_view>(r.data(), r.size()));
    suppliers_.EndLoad();
    source_.SetDataSet(&suppliers_);
  }

  QtHostServices services_{desktop::DesktopSettings{}};
  host::TClientDataSet suppliers_{"qryFornecedor"};
  host::TDataSource source_{"dtsForn"};
};

TEST_F(ServicesTest, QuestionsAnswerWithThePlatformsModalResults) {
  DialogAnswers answers(services_);
  answers.Press("Sim");
  EXPECT_EQ(host::MessageDlg("Confirma exclusão?", host::TMsgDlgType::mtConfirmation,
                             {host::mbYes, host::mbNo}),
            host::mrYes);
  answers.Press("Não");
  EXPECT_EQ(host::MessageDlg("Confirma exclusão?", host::TMsgDlgType::mtConfirmation,
                             {host::mbYes, host::mbNo}),
            host::mrNo);
  // Closed without a button: No when there is no Cancel, Cancel when there is one.
  answers.Escape();
  EXPECT_EQ(host::MessageDlg("Q?", host::TMsgDlgType::mtConfirmation, {host::mbYes, host::mbNo}),
            host::mrNo);
  answers.Escape();
  EXPECT_EQ(host::MessageDlg("Q?", host::TMsgDlgType::mtConfirmation,
                             {host::mbYes, host::mbNo, host::mbCancel}),
            host::mrCancel);
  EXPECT_EQ(services_.Log().front(), "question: Confirma exclusão? -> yes");
  EXPECT_EQ(services_.Log()[1], "question: Confirma exclusão? -> no");
}

TEST_F(ServicesTest, QuestionButtonsArePortugueseNoIsTheDefaultAndLettersAnswer) {
  DialogAnswers answers(services_);
  QStringList texts;
  bool noIsDefaultAndFocused = false;
  answers.Queue([&](QDialog& d) {
    auto* box = qobject_cast<QMessageBox*>(&d);
    ASSERT_NE(box, nullptr);
    for (QAbstractButton* b : box->buttons()) texts << b->text();
    noIsDefaultAndFocused = box->defaultButton() && box->defaultButton()->text() == QStringLiteral("&Não") &&
                            box->focusWidget() == box->defaultButton();
    QTest::keyClick(box, Qt::Key_Return);
  });
  // Enter presses the default button: a deletion is not one Enter away.
  EXPECT_EQ(host::MessageDlg("Excluir?", host::TMsgDlgType::mtConfirmation, {host::mbYes, host::mbNo}),
            host::mrNo);
  EXPECT_TRUE(texts.contains(QStringLiteral("&Sim")));
  EXPECT_TRUE(texts.contains(QStringLiteral("&Não")));
  EXPECT_TRUE(noIsDefaultAndFocused);
  // The letter alone, or with Alt, answers: "s" is Sim, Alt+C is Cancelar.
  for (const auto& [key, mods, expected] : {std::tuple{Qt::Key_S, Qt::NoModifier, host::mrYes},
                                            std::tuple{Qt::Key_C, Qt::AltModifier, host::mrCancel}}) {
    answers.Queue([key = key, mods = mods](QDialog& d) {
      QTest::keyClick(d.focusWidget(), key, mods);
      QTest::qWait(300);  // the button answers after its short press animation
    });
    EXPECT_EQ(host::MessageDlg("Excluir registro?", host::TMsgDlgType::mtConfirmation,
                               {host::mbYes, host::mbNo, host::mbCancel}),
              expected);
  }
}

TEST_F(ServicesTest, UserActionSwallowsTheSilentAbortAndShowsOtherFailures) {
  DialogAnswers answers(services_);
  EXPECT_FALSE(desktop::UserAction::Run([] { host::Abort(); }));
  EXPECT_TRUE(answers.Seen().empty());

  // MensErro shows its text once, then aborts silently.
  EXPECT_FALSE(desktop::UserAction::Run([] { host::MensErro("Fornecedor não cadastrado."); }));
  ASSERT_EQ(answers.Seen().size(), 1u);
  EXPECT_EQ(answers.Seen()[0], "Fornecedor não cadastrado.");

  EXPECT_FALSE(desktop::UserAction::Run([] { throw std::runtime_error("Falha inesperada"); }));
  ASSERT_EQ(answers.Seen().size(), 2u);
  EXPECT_EQ(answers.Seen()[1], "Falha inesperada");
  EXPECT_TRUE(desktop::UserAction::Run([] {}));
  EXPECT_EQ(answers.Unanswered(), 2);  // each dialog was closed by the hook, none blocked
}

TEST_F(ServicesTest, AConnectionFailureIsShownInTheClerksWordsWithTheCallBehindDetails) {
  QString shown, details;
  services_.SetDialogHook([&](QDialog& d) {
    if (auto* box = qobject_cast<QMessageBox*>(&d)) {
      shown = box->text();
      details = box->detailedText();
    }
  });
  EXPECT_FALSE(desktop::UserAction::Run(
      [] { throw host::ENetError("Falha ao chamar getDados em 127.0.0.1:18473: conexão recusada"); }));
  services_.SetDialogHook({});
  EXPECT_EQ(shown, QStringLiteral("Não foi possível falar com o servidor 127.0.0.1:18473 (conexão recusada)."));
  EXPECT_EQ(details, QStringLiteral("Falha ao chamar getDados em 127.0.0.1:18473: conexão recusada"));
  const auto& log = services_.Log();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], "message: Não foi possível falar com o servidor 127.0.0.1:18473 (conexão recusada).");
  EXPECT_EQ(log.back(), "detail: Falha ao chamar getDados em 127.0.0.1:18473: conexão recusada");
}

TEST_F(ServicesTest, ARefusedRemoteResultIsShownOnceNotTwice) {
  DialogAnswers answers(services_);
  const host::Variant raw = host::Variant::FromText(
      R"({"ok":false,"error":"Fornecedor já cadastrado para o produto."})");
  EXPECT_FALSE(desktop::UserAction::Run([&] { host::CheckResultServ(raw, true, 0); }));
  ASSERT_EQ(answers.Seen().size(), 1u);
  EXPECT_EQ(answers.Seen()[0], "Fornecedor já cadastrado para o produto.");
  // Not reported by the result check (report false): the policy shows it.
  EXPECT_FALSE(desktop::UserAction::Run([&] { host::CheckResultServ(raw, false, 0); }));
  EXPECT_EQ(answers.Seen().size(), 2u);
}

TEST_F(ServicesTest, PickListFindsByTypingAndPositionsOnTheChosenRow) {
  LoadSuppliers({{{"11222333000181", "Ávila Comércio Ltda", "J"}},
                 {{"12345678909", "Bruno Souza", "F"}},
                 {{"44555666000199", "Casa do Parafuso", "J"}}});
  suppliers_.First();
  DialogAnswers answers(services_);
  QStringList shown;
  answers.Queue([&](QDialog& d) {
    auto* pick = qobject_cast<desktop::PickListDialog*>(&d);
    ASSERT_NE(pick, nullptr);
    // Titles are the display labels; hidden fields are not columns; numbers are formatted.
    auto* model = pick->Model();
    ASSERT_EQ(model->columnCount(), 2);
    shown << model->headerData(0, Qt::Horizontal).toString() << model->headerData(1, Qt::Horizontal).toString();
    for (int r = 0; r < model->rowCount(); ++r) shown << model->Text(r, 0);
    // "avila" finds the accented name; then the typed digits find the formatted number.
    QTest::keyClicks(pick->SearchBox(), "avila");
    EXPECT_EQ(pick->CurrentRow(), 1);
    pick->SearchBox()->clear();
    QTest::keyClicks(pick->SearchBox(), "4455");
    EXPECT_EQ(pick->CurrentRow(), 3);
    QTest::keyClick(pick->SearchBox(), Qt::Key_Return);
  });
  EXPECT_TRUE(host::Pesquisar_Plus(&source_, "Não há Fornecedor Cadastrado.", false, true));
  EXPECT_EQ(suppliers_.RecNo(), 3);
  EXPECT_EQ(suppliers_.FieldByName("NMRAZSOCFORN")->AsString(), "Casa do Parafuso");
  EXPECT_EQ(shown, (QStringList{"Código", "Nome", "11.222.333/0001-81", "12345678909",
                                "44.555.666/0001-99"}));
  EXPECT_EQ(services_.Log().back(), "picklist: Não há Fornecedor Cadastrado. -> 3");
}

TEST_F(ServicesTest, PickListClosedWithEscOrEnterWithNoMatchChoosesNothing) {
  LoadSuppliers({{{"11222333000181", "Ávila Comércio Ltda", "J"}},
                 {{"12345678909", "Bruno Souza", "F"}}});
  suppliers_.First();
  DialogAnswers answers(services_);
  bool openAfterEnter = false;
  answers.Queue([&](QDialog& d) {
    auto* pick = qobject_cast<desktop::PickListDialog*>(&d);
    QTest::keyClick(pick->Table(), Qt::Key_Down);
    // "Brux" matched "Bru" on its way; Enter with no match for the whole text picks nothing.
    QTest::keyClicks(pick->SearchBox(), "Brux");
    QTest::keyClick(pick->SearchBox(), Qt::Key_Return);
    openAfterEnter = pick->isVisible() && pick->ChosenRow() == 0;
    QTest::keyClick(pick->SearchBox(), Qt::Key_Escape);
  });
  EXPECT_FALSE(host::Pesquisar_Plus(&source_, "Não há Fornecedor Cadastrado.", false, true));
  EXPECT_TRUE(openAfterEnter);
  EXPECT_EQ(services_.Log().back(), "picklist: Não há Fornecedor Cadastrado. -> none");
}

TEST_F(ServicesTest, EmptyPickListShowsItsMessageAndCannotChoose) {
  LoadSuppliers({});
  DialogAnswers answers(services_);
  QString status;
  answers.Queue([&](QDialog& d) {
    auto* pick = qobject_cast<desktop::PickListDialog*>(&d);
    status = pick->findChild<QLabel*>(QStringLiteral("pickStatus"))->text();
    QTest::keyClick(pick, Qt::Key_Return);  // Enter on an empty list chooses nothing
  });
  EXPECT_FALSE(host::Pesquisar_Plus(&source_, "Não há Fornecedor Cadastrado.", false, true));
  EXPECT_EQ(status, QStringLiteral("Não há Fornecedor Cadastrado."));
}

TEST_F(ServicesTest, ReadingRowsForTheDialogsNeitherMovesNorScrolls) {
  LoadSuppliers({{{"1", "A", "F"}}, {{"2", "B", "F"}}, {{"3", "C", "F"}}});
  suppliers_.SetRecNo(2);
  int scrolls = 0;
  suppliers_.AfterScroll = [&](host::TDataSet*) { ++scrolls; };
  desktop::DataSetTableModel model(suppliers_);
  EXPECT_EQ(model.rowCount(), 3);
  EXPECT_EQ(model.Text(0, 1), QStringLiteral("A"));
  EXPECT_EQ(model.Text(2, 1), QStringLiteral("C"));
  EXPECT_EQ(suppliers_.RecNo(), 2);
  EXPECT_EQ(scrolls, 0);
}

TEST_F(ServicesTest, SearchDialogMovesTheCursorToTheRowFound) {
  LoadSuppliers({{{"11222333000181", "Ávila Comércio Ltda", "J"}},
                 {{"12345678909", "Bruno Souza", "F"}},
                 {{"44555666000199", "Casa do Parafuso", "J"}}});
  suppliers_.First();
  DialogAnswers answers(services_);
  QString notFound;
  answers.Queue([&](QDialog& d) {
    auto* search = qobject_cast<desktop::SearchDialog*>(&d);
    ASSERT_NE(search, nullptr);
    search->ColumnBox()->setCurrentIndex(1);
    QTest::keyClicks(search->ValueBox(), "zzz");
    EXPECT_FALSE(search->Locate());
    notFound = search->Status()->text();
    search->ValueBox()->setText(QStringLiteral("bruno"));
    EXPECT_TRUE(search->Locate());
  });
  host::Procura(&suppliers_);
  EXPECT_EQ(suppliers_.RecNo(), 2);
  EXPECT_EQ(notFound, QStringLiteral("Nenhum registro encontrado."));
  EXPECT_EQ(services_.Log().front(), "search: qryFornecedor");
}

TEST_F(ServicesTest, BusyAnimationShowsItsCaptionAndHidesOnce) {
  QWidget window;
  window.resize(400, 300);
  services_.SetMainWindow(&window);
  host::ActiveShowAvi(nullptr, 0);
  ASSERT_NE(services_.Busy(), nullptr);
  EXPECT_TRUE(services_.Busy()->Running());
  EXPECT_EQ(services_.Busy()->Caption(), QStringLiteral("Conectando ao servidor de aplicação..."));
  host::ActiveShowAvi(nullptr, 1, "Validando os dados...");
  EXPECT_EQ(services_.Busy()->Caption(), QStringLiteral("Validando os dados..."));
  host::DeactiveShowAvi();
  EXPECT_FALSE(services_.Busy()->Running());
  host::DeactiveShowAvi();  // harmless when hidden
  EXPECT_EQ(services_.Log(), (std::vector<std::string>{"busy: on 0", "busy: on 1 Validando os dados...",
                                                       "busy: off"}));
  services_.SetMainWindow(nullptr);
}

}  // namespace
