// Toolbar commands, enabling, grid navigation and the display of taxpayer numbers.
#include "tests/screen/ScreenFixture.h"

namespace pdi07310 {
namespace {

using host::TDataSetState;

using CommandTest = ScreenTest;

TEST_F(CommandTest, ProductDeletionAnsweredNoStillReloadsAndKeepsTheFocus) {
  TfrmProdDesoneraImpos& s = Open();
  s.dbgPadrao->SetFocus();
  calls_.clear();
  host_.QueueAnswer(false);
  ASSERT_TRUE(Act([&] { s.sbtExcluir->Click(); }));
  EXPECT_EQ(calls_, (std::vector<std::string>{"getVersaoListas", "getDados"}));
  EXPECT_EQ(s.cdsProduto->RecordCount(), 3);
  EXPECT_EQ(s.ActiveControl(), s.dbgPadrao);
}

TEST_F(CommandTest, ProductDeletionRemovesItsRelatedRowsAtTheServer) {
  TfrmProdDesoneraImpos& s = Open();
  s.dbgPadrao->SetFocus();
  calls_.clear();
  host_.QueueAnswer(true);
  ASSERT_TRUE(Act([&] { s.sbtExcluir->Click(); }));
  EXPECT_EQ(calls_, (std::vector<std::string>{"SetProduto", "getVersaoListas", "getDados"}));
  EXPECT_EQ(Column(*s.cdsProduto, "CDPRODUTO"), (std::vector<std::string>{"200", "O'1"}));
  EXPECT_EQ(s.cdsProduto->ChangeCount(), 0);
}

TEST_F(CommandTest, DeleteOutsideTheGridsDoesNothing) {
  TfrmProdDesoneraImpos& s = Open();
  s.pgcGrade->SetFocus();
  calls_.clear();
  EXPECT_FALSE(Act([&] { s.sbtExcluirClick(nullptr); }));
  EXPECT_TRUE(host_.Log().empty() || LogLines("question:").empty());
  EXPECT_TRUE(calls_.empty());
}

TEST_F(CommandTest, ConfirmOutsideTheGridsNamesTheListOfThePageInView) {
  TfrmProdDesoneraImpos& s = Open();
  s.pgcGrade->SetActivePage(s.tshCliente);
  s.pgcGrade->SetFocus();
  EXPECT_FALSE(Act([&] { s.sbtConfirmarClick(nullptr); }));
  EXPECT_EQ(LogLines("message:"), std::vector<std::string>{"message: Cliente deve ser informado."});
}

TEST_F(CommandTest, CancelOfARelatedRowAnsweredNoKeepsItAndYesReloadsTheList) {
  TfrmProdDesoneraImpos& s = Open();
  s.dbgFornecedor->SetFocus();
  s.sbtIncluir->Click();
  host_.QueueAnswer(false);
  EXPECT_FALSE(Act([&] { s.sbtCancelar->Click(); }));
  EXPECT_EQ(s.cdsFornecedor->State(), TDataSetState::dsInsert);
  EXPECT_FALSE(s.tshCliente->Enabled());
  calls_.clear();
  host_.QueueAnswer(true);
  ASSERT_TRUE(Act([&] { s.sbtCancelar->Click(); }));
  EXPECT_EQ(s.cdsFornecedor->State(), TDataSetState::dsBrowse);
  EXPECT_EQ(calls_, std::vector<std::string>{"getFornecedorDesde"});
  EXPECT_TRUE(s.tshCliente->Enabled());
}

TEST_F(CommandTest, VerifyReloadsShowsTheSupplierPageAndFocusesTheProductGrid) {
  TfrmProdDesoneraImpos& s = Open();
  s.pgcGrade->SetActivePage(s.tshFilial);
  s.dbgFilial->SetFocus();
  calls_.clear();
  ASSERT_TRUE(Act([&] { s.sbtVerificarClick(nullptr); }));
  EXPECT_EQ(calls_, (std::vector<std::string>{"getVersaoListas", "getDados"}));
  EXPECT_EQ(s.pgcGrade->ActivePage(), s.tshFornecedor);
  EXPECT_EQ(s.ActiveControl(), s.dbgPadrao);

  s.sbtIncluir->Click();  // a product being inserted: verify does nothing
  calls_.clear();
  ASSERT_TRUE(Act([&] { s.sbtVerificarClick(nullptr); }));
  EXPECT_TRUE(calls_.empty());
}

TEST_F(CommandTest, SearchWithTheTabStripFocusedSearchesTheBranches) {
  TfrmProdDesoneraImpos& s = Open();
  s.pgcGrade->SetFocus();
  s.sbtProcurarClick(nullptr);
  s.dbgCliente->SetFocus();
  s.sbtProcurarClick(nullptr);
  EXPECT_EQ(LogLines("search:"), (std::vector<std::string>{"search: cdsFilial", "search: cdsCliente"}));
}

TEST_F(CommandTest, EnablingFollowsTheListInViewAndTheFocus) {
  TfrmProdDesoneraImpos& s = Open();
  s.dbgPadrao->SetFocus();
  EXPECT_TRUE(s.sbtIncluir->Enabled());
  EXPECT_TRUE(s.sbtExcluir->Enabled());
  EXPECT_FALSE(s.sbtConfirmar->Enabled());
  EXPECT_FALSE(s.sbtAuxiliar->Enabled());
  EXPECT_FALSE(s.mnuAuxiliar->Enabled());
  EXPECT_FALSE(s.sbtImprimir->Enabled());

  s.pgcGrade->SetFocus();
  s.pgcGradeMouseDown(s.pgcGrade, host::TMouseButton::mbLeft, {}, 0, 0);
  EXPECT_FALSE(s.sbtExcluir->Enabled());
  EXPECT_FALSE(s.sbtProcurar->Enabled());
  EXPECT_TRUE(s.sbtVerificar->Enabled());
  EXPECT_EQ(s.mnuExcluir->Enabled(), s.sbtExcluir->Enabled());

  s.dbgFornecedor->SetFocus();
  s.sbtIncluir->Click();
  EXPECT_TRUE(s.sbtConfirmar->Enabled());
  EXPECT_EQ(s.dbgFornecedor->Columns()[0]->ButtonStyle(), host::TColumnButtonStyle::cbsEllipsis);
  EXPECT_FALSE(s.tshCliente->Enabled());
  EXPECT_FALSE(s.tshFilial->Enabled());
  // A press on the tab strip while a list is inserting changes nothing.
  s.pgcGradeMouseDown(s.pgcGrade, host::TMouseButton::mbLeft, {}, 0, 0);
  EXPECT_TRUE(s.sbtConfirmar->Enabled());
  // Entering a page disables confirm and cancel on the toolbar only.
  s.tshFornecedor->OnEnter(s.tshFornecedor);
  EXPECT_FALSE(s.sbtConfirmar->Enabled());
  EXPECT_TRUE(s.mnuConfirmar->Enabled());
}

TEST_F(CommandTest, WithNoProductTheRelatedGridsAcceptNoTyping) {
  TfrmProdDesoneraImpos& s = Open();
  for (int i = 0; i < 3; ++i) {
    s.dbgPadrao->SetFocus();
    host_.QueueAnswer(true);
    ASSERT_TRUE(Act([&] { s.sbtExcluir->Click(); }));
  }
  ASSERT_TRUE(s.cdsProduto->IsEmpty());
  s.dbgCliente->SetFocus();
  EXPECT_TRUE(s.dbgCliente->ReadOnly());
  EXPECT_FALSE(s.sbtIncluir->Enabled());
}

TEST_F(CommandTest, TheNumberColumnsTakeDigitsOnlyAndTheNameColumnsAnything) {
  TfrmProdDesoneraImpos& s = Open();
  char key = 'a';
  s.dbgCliente->SetFocus();
  s.dbgCliente->OnKeyPress(s.dbgCliente, key);
  EXPECT_EQ(key, 0);
  key = '7';
  s.dbgCliente->OnKeyPress(s.dbgCliente, key);
  EXPECT_EQ(key, '7');
  key = static_cast<char>(host::VK_BACK);
  s.dbgCliente->OnKeyPress(s.dbgCliente, key);
  EXPECT_EQ(key, host::VK_BACK);
  s.dbgCliente->SetSelectedIndex(1);
  key = '.';
  s.dbgCliente->OnKeyPress(s.dbgCliente, key);
  EXPECT_EQ(key, '.');
}

TEST_F(CommandTest, TaxpayerNumbersShowWithTheMaskOfTheirPersonType) {
  TfrmProdDesoneraImpos& s = Open();
  host::TField* number = s.cdsFornecedor->FieldByName("NRINSJURFORN");
  EXPECT_EQ(number->Text(true), "11.222.333/0001-81");
  EXPECT_EQ(number->Text(false), "11.222.333/0001-81");
  EXPECT_EQ(number->AsString(), "11222333000181");
  s.cdsFornecedor->Next();
  EXPECT_EQ(number->Text(true), "529.982.247-25");
}

}  // namespace
}  // namespace pdi07310
