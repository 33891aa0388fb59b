#include "host/services/ScriptedHost.h"

#include <gtest/gtest.h>

#include <sstream>

#include "host/data/ClientDataSet.h"
#include "host/data/DataSource.h"
#include "host/services/HostLib.h"
#include "host/text/Messages.h"

namespace host {
namespace {

using Lines = std::vector<std::string>;

class ScriptedHostTest : public ::testing::Test {
 protected:
  void SetUp() override { SetHostServices(&host); }
  void TearDown() override { SetHostServices(nullptr); }
  std::ostringstream out;
  ScriptedHost host{&out};
};

TEST_F(ScriptedHostTest, ErrorDialogThenSilentAbort) {
  EXPECT_THROW(MensErro("Produto deve ser informado.", true), EAbort);
  EXPECT_NO_THROW(MensErro("Só aviso.", false));
  EXPECT_EQ(host.Log(), (Lines{"message: Produto deve ser informado.", "message: Só aviso."}));
  EXPECT_EQ(out.str(), "message: Produto deve ser informado.\nmessage: Só aviso.\n");
}

TEST_F(ScriptedHostTest, QuestionsAreAnsweredFromTheQueueThenNo) {
  host.QueueAnswer(true);
  host.QueueAnswer(false);
  TMessages msg("msgPadrao");
  msg.SetLines({"Excl|Confirma exclusão?"});
  EXPECT_EQ(msg.ShowMsg("Canc", TMsgDlgType::mtConfirmation, {mbYes, mbNo}, 0), mrYes);
  EXPECT_EQ(MessageDlg("Outra?", TMsgDlgType::mtConfirmation, {mbYes, mbNo}), mrNo);
  EXPECT_EQ(msg.ShowMsg("excl", TMsgDlgType::mtConfirmation, {mbYes, mbNo}, 0), mrNo);
  EXPECT_EQ(host.Log(), (Lines{"question: Deseja cancelar a operação? -> yes",
                               "question: Outra? -> no", "question: Confirma exclusão? -> no"}));
  // Without a Yes or No button the answer maps to OK or Cancel.
  host.QueueAnswer(true);
  EXPECT_EQ(MessageDlg("Ok?", TMsgDlgType::mtInformation, {mbOK}), mrOk);
  EXPECT_EQ(MessageDlg("Cancela?", TMsgDlgType::mtInformation, {mbOK, mbCancel}), mrCancel);
}

TEST_F(ScriptedHostTest, BusyAnimationNestsButOneHideEndsIt) {
  DeactiveShowAvi();  // harmless when hidden
  ActiveShowAvi(nullptr, 0);
  ActiveShowAvi(nullptr, 6);
  EXPECT_TRUE(AviActive());
  DeactiveShowAvi();
  DeactiveShowAvi();
  EXPECT_FALSE(AviActive());
  ActiveShowAvi(nullptr, 1, "Validando dados...");
  DeactiveShowAvi();
  EXPECT_EQ(host.Log(), (Lines{"busy: on 0", "busy: on 6", "busy: off",
                               "busy: on 1 Validando dados...", "busy: off"}));
  EXPECT_EQ(host.BusyShows(), 3);
  EXPECT_EQ(host.BusyHides(), 2);
  // The host on its own logs "off" only when the animation was on.
  host.HideAvi();
  EXPECT_EQ(host.BusyHides(), 2);
}

TEST_F(ScriptedHostTest, PickListMovesToTheQueuedRow) {
  TClientDataSet qry("qryFilial");
  qry.AddField("CDFILIAL", 21);
  qry.AddField("NMFILIAL", 30);
  qry.BeginLoad();
  for (std::string_view code : {"0001", "0002", "0003"}) {
    std::string_view row[] = {code, "Filial"};
    qry.LoadRow(row);
  }
  qry.EndLoad();
  TDataSource dts("dtsFil");
  dts.SetDataSet(&qry);

  host.QueuePick(2);
  host.QueuePickNone();
  host.QueuePick(9);
  EXPECT_TRUE(Pesquisar_Plus(&dts, "Não há Filial Cadastrada.", false, true));
  EXPECT_EQ(qry.FieldByName("CDFILIAL")->AsString(), "0002");
  EXPECT_FALSE(Pesquisar_Plus(&dts, "Não há Filial Cadastrada.", false, true));
  EXPECT_THROW(Pesquisar_Plus(&dts, "Filial", false, true), EPlatformError);
  EXPECT_FALSE(Pesquisar_Plus(&dts, "Vazia", false, true));  // nothing queued
  Procura(&qry);
  EXPECT_EQ(host.Log(), (Lines{"picklist: Não há Filial Cadastrada. -> 2",
                               "picklist: Não há Filial Cadastrada. -> none",
                               "picklist: Vazia -> none", "search: qryFilial"}));
  EXPECT_EQ(host.PendingPicks(), 0u);
}

TEST_F(ScriptedHostTest, SettingsHaveDefaultsAndCanBeSet) {
  EXPECT_EQ(WebURL(), "127.0.0.1");
  EXPECT_EQ(WebPort(), 8470);
  EXPECT_EQ(DBPict(0), "9999999999;0;_");
  EXPECT_EQ(DBPict(3), "");
  host.SetWebURL("10.0.0.5");
  host.SetWebPort(9000);
  host.SetDBPict(0, "999.999;0;_");
  EXPECT_EQ(WebURL(), "10.0.0.5");
  EXPECT_EQ(WebPort(), 9000);
  EXPECT_EQ(DBPict(0), "999.999;0;_");
}

TEST(HostLibTest, NothingInstalledIsAClearError) {
  SetHostServices(nullptr);
  EXPECT_THROW(Services(), EPlatformError);
  EXPECT_THROW(MensErro("x", true), EPlatformError);
  EXPECT_NO_THROW(DeactiveShowAvi());
}

}  // namespace
}  // namespace host
