#include "host/text/Messages.h"

#include <gtest/gtest.h>

namespace host {
namespace {

class MessagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    msg.SetLines({"Excl|Confirma exclusão?", "CdForne|Fornecedor|Não há Fornecedor Cadastrado.",
                  "inf_Filial|Filial deve ser informada.", "cli_NCad|Cliente não cadastrado.",
                  "", "Pipe|A|b|c\r"});
  }
  void TearDown() override { SetMessageDialogHandler({}); }
  TMessages msg{"msgPadrao"};
};

TEST_F(MessagesTest, KeysMatchInAnyLetterCase) {
  EXPECT_EQ(msg.Msg("Excl"), "Confirma exclusão?");
  EXPECT_EQ(msg.Msg("Inf_Filial"), "Filial deve ser informada.");
  EXPECT_EQ(msg.Msg("CLI_NCAD"), "Cliente não cadastrado.");
  EXPECT_TRUE(msg.Contains("cdforne"));
}

TEST_F(MessagesTest, TitleAndTextAndFurtherBars) {
  EXPECT_EQ(msg.Title("CdForne"), "Fornecedor");
  EXPECT_EQ(msg.Msg("CdForne"), "Não há Fornecedor Cadastrado.");
  EXPECT_EQ(msg.Title("Excl"), "");
  EXPECT_EQ(msg.Title("Pipe"), "A");
  EXPECT_EQ(msg.Msg("Pipe"), "b|c");
}

TEST_F(MessagesTest, MissingKeysComeFromCommonMessagesElseRaise) {
  EXPECT_EQ(msg.Msg("Valida_dados"), "Validando dados...");
  EXPECT_EQ(msg.Msg("canc"), "Deseja cancelar a operação?");
  // The screen's own line wins over the common one.
  EXPECT_EQ(msg.Msg("EXCL"), "Confirma exclusão?");
  try {
    msg.Msg("Nada_Disso");
    FAIL() << "no error";
  } catch (const EMessageError& e) {
    EXPECT_NE(std::string(e.what()).find("\"Nada_Disso\""), std::string::npos);
  }
  EXPECT_FALSE(msg.Contains("Nada_Disso"));
  EXPECT_THROW(msg.Title("Nada_Disso"), EMessageError);
}

TEST_F(MessagesTest, MalformedLinesRaiseAndKeepTheTable) {
  EXPECT_THROW(msg.SetLines({"Ok|fine", "sem barra"}), EMessageError);
  EXPECT_THROW(msg.SetLines({"|texto"}), EMessageError);
  try {
    msg.SetLines({"Excl|a", "EXCL|b"});
    FAIL() << "no error";
  } catch (const EMessageError& e) {
    EXPECT_NE(std::string(e.what()).find("linha 2"), std::string::npos);
  }
  EXPECT_EQ(msg.Msg("Excl"), "Confirma exclusão?");
  EXPECT_EQ(msg.Lines().size(), 6u);
}

TEST_F(MessagesTest, SetLinesReplacesTheWholeTable) {
  msg.SetLines({"Outra|Outra mensagem"});
  EXPECT_EQ(msg.Msg("outra"), "Outra mensagem");
  EXPECT_THROW(msg.Msg("CdForne"), EMessageError);
}

TEST_F(MessagesTest, ShowMsgAsksThroughTheInstalledDialog) {
  EXPECT_THROW(msg.ShowMsg("Canc", TMsgDlgType::mtConfirmation, {mbYes, mbNo}, 0), EPlatformError);
  std::string asked;
  TMsgDlgButtons seen;
  SetMessageDialogHandler([&](const std::string& text, TMsgDlgType, TMsgDlgButtons buttons, int) {
    asked = text;
    seen = buttons;
    return mrYes;
  });
  EXPECT_EQ(msg.ShowMsg("Canc", TMsgDlgType::mtConfirmation, {mbYes, mbNo}, 0), mrYes);
  EXPECT_EQ(asked, "Deseja cancelar a operação?");
  EXPECT_TRUE(seen.Contains(mbYes));
  EXPECT_TRUE(seen.Contains(mbNo));
  EXPECT_FALSE(seen.Contains(mbOK));
  EXPECT_THROW(msg.ShowMsg("Nada", TMsgDlgType::mtConfirmation, {mbYes}, 0), EMessageError);
}

}  // namespace
}  // namespace host
