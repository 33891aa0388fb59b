// Product entry: the typed code is validated locally, then at the server; stored rows are never
// edited; a new product needs a related row before it is posted.
#include "tests/screen/ScreenFixture.h"

namespace pdi07310 {
namespace {

using host::TDataSetState;

class ProductEntryTest : public ScreenTest {
 protected:
  // Starts a new product from the product grid and types its code.
  TfrmProdDesoneraImpos& StartProduct(const std::string& code) {
    TfrmProdDesoneraImpos& s = Open();
    s.dbgPadrao->SetFocus();
    s.sbtIncluir->Click();
    for (char c : code) s.dbgPadrao->TypeChar(c);
    calls_.clear();
    host_.ClearLog();
    return s;
  }
};

TEST_F(ProductEntryTest, InsertPutsTheCursorOnTheCodeColumnAndKeepsThePagesEnabled) {
  TfrmProdDesoneraImpos& s = StartProduct("");
  EXPECT_EQ(s.dbgPadrao->SelectedField()->FieldName(), "CDARVPROD");
  EXPECT_TRUE(s.tshCliente->Enabled());
  EXPECT_TRUE(s.tshFilial->Enabled());
  EXPECT_TRUE(s.sbtConfirmar->Enabled());
  EXPECT_FALSE(s.sbtIncluir->Enabled());
}

TEST_F(ProductEntryTest, AnEmptyCodePassesAColumnExitButNotLeavingTheGrid) {
  TfrmProdDesoneraImpos& s = StartProduct("");
  EXPECT_TRUE(Act([&] { s.dbgPadrao->SetSelectedIndex(1); }));
  EXPECT_TRUE(host_.Log().empty());
  EXPECT_FALSE(Act([&] { s.dbgCliente->SetFocus(); }));
  EXPECT_EQ(LogLines("message:"), std::vector<std::string>{"message: Produto deve ser informado."});
  EXPECT_EQ(s.ActiveControl(), s.dbgPadrao);
  EXPECT_EQ(s.dbgPadrao->SelectedIndex(), 0);
}

TEST_F(ProductEntryTest, AnUnknownCodeIsRefusedWithoutARemoteCall) {
  TfrmProdDesoneraImpos& s = StartProduct("999");
  EXPECT_FALSE(Act([&] { s.Vd_Produto(true); }));
  EXPECT_EQ(LogLines("message:"), std::vector<std::string>{"message: Produto não cadastrado."});
  EXPECT_TRUE(calls_.empty());
  EXPECT_EQ(s.cdsProdutoCDARVPROD->AsString(), "999");
  EXPECT_EQ(s.cdsProduto->State(), TDataSetState::dsInsert);
}

TEST_F(ProductEntryTest, MaskCharactersAndBlanksAreIgnoredAndTheSmallestKeyOfASharedCodeIsTaken) {
  TfrmProdDesoneraImpos& s = StartProduct("1004");
  s.cdsProdutoCDARVPROD->SetAsString(" 1.00-4 ");
  ASSERT_TRUE(Act([&] { s.Vd_Produto(true); }));
  EXPECT_EQ(s.cdsProdutoCDPRODUTO->AsString(), "300");
  EXPECT_EQ(s.cdsProdutoCDARVPROD->AsString(), "1004");
  EXPECT_EQ(s.cdsProduto->FieldByName("NMPRODUTO")->AsString(), "Açúcar Cristal");
  EXPECT_EQ(calls_, std::vector<std::string>{"getVd_Produto"});
  EXPECT_EQ(LogLines("busy:"), (std::vector<std::string>{"busy: on 1 Validando dados...", "busy: off"}));
}

TEST_F(ProductEntryTest, AProductAlreadyInTheListIsRefusedWhileInserting) {
  TfrmProdDesoneraImpos& s = StartProduct("1001");
  EXPECT_FALSE(Act([&] { s.Vd_Produto(false); }));
  EXPECT_EQ(LogLines("message:"), std::vector<std::string>{"message: Produto já cadastrado."});
  EXPECT_EQ(s.cdsProdutoCDPRODUTO->AsString(), "100");
  EXPECT_FALSE(host_.BusyShown());
}

TEST_F(ProductEntryTest, ConfirmingWithoutARelatedRowDemandsOneOnThePageInView) {
  TfrmProdDesoneraImpos& s = StartProduct("1005");
  EXPECT_FALSE(Act([&] { s.sbtConfirmar->Click(); }));
  EXPECT_EQ(LogLines("message:"), std::vector<std::string>{"message: Fornecedor deve ser informado."});
  EXPECT_EQ(s.cdsProduto->State(), TDataSetState::dsInsert);
  EXPECT_EQ(s.ActiveControl(), s.dbgFornecedor);
  EXPECT_EQ(s.cdsFornecedor->State(), TDataSetState::dsInsert);
  EXPECT_FALSE(s.tshCliente->Enabled());
  EXPECT_EQ(s.cdsProduto->ChangeCount(), 0);
}

TEST_F(ProductEntryTest, TheBranchPageDemandsABranch) {
  TfrmProdDesoneraImpos& s = StartProduct("1005");
  s.pgcGrade->SetActivePage(s.tshFilial);
  EXPECT_FALSE(Act([&] { s.sbtConfirmar->Click(); }));
  EXPECT_EQ(LogLines("message:"), std::vector<std::string>{"message: Filial deve ser informada."});
  EXPECT_EQ(s.cdsFilial->State(), TDataSetState::dsInsert);
}

TEST_F(ProductEntryTest, TypingIntoAStoredRowChangesNothingAndShowsNothing) {
  TfrmProdDesoneraImpos& s = Open();
  s.dbgPadrao->SetFocus();
  host_.ClearLog();
  s.dbgPadrao->TypeChar('7');
  EXPECT_EQ(s.cdsProdutoCDARVPROD->AsString(), "1001");
  EXPECT_EQ(s.cdsProduto->State(), TDataSetState::dsBrowse);
  EXPECT_TRUE(host_.Log().empty());
}

TEST_F(ProductEntryTest, ThePickListFillsTheNewRowWithoutValidating) {
  TfrmProdDesoneraImpos& s = StartProduct("");
  host_.QueuePick(6);  // products by code: 1001, 1002, 1003, 1004, 1004, 1005
  ASSERT_TRUE(Act([&] { s.dbgPadrao->ClickEllipsis(); }));
  EXPECT_EQ(s.cdsProdutoCDPRODUTO->AsString(), "400");
  EXPECT_EQ(s.cdsProdutoCDARVPROD->AsString(), "1005");
  EXPECT_TRUE(calls_.empty());
  EXPECT_EQ(LogLines("picklist:"), std::vector<std::string>{"picklist: Não há Produto cadastrado. -> 6"});
}

TEST(RetSemMascaraTest, RemovesOnlyTheSixMaskCharacters) {
  EXPECT_EQ(TfrmProdDesoneraImpos::RetSemMascara("12.345/67-8(9),0"), "1234567890");
  EXPECT_EQ(TfrmProdDesoneraImpos::RetSemMascara("a b_c"), "a b_c");
  EXPECT_EQ(TfrmProdDesoneraImpos::RetSemMascara(""), "");
}

}  // namespace
}  // namespace pdi07310
