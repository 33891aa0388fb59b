// The related lists: entry, validation, saving, deletion and abandoning of supplier, client and
// branch rows, and the new product that their first row carries to the server.
#include "tests/screen/ScreenFixture.h"

namespace pdi07310 {
namespace {

using host::TDataSetState;

class RelatedListTest : public ScreenTest {
 protected:
  // Opens the screen, focuses the grid of a list on its page and starts a new row there.
  TfrmProdDesoneraImpos& StartRow(host::TDBGrid* TfrmProdDesoneraImpos::*grid, host::TTabSheet* TfrmProdDesoneraImpos::*page) {
    TfrmProdDesoneraImpos& s = Open();
    s.pgcGrade->SetActivePage(s.*page);
    (s.*grid)->SetFocus();
    s.sbtIncluir->Click();
    calls_.clear();
    host_.ClearLog();
    return s;
  }
  static void Type(host::TDBGrid* grid, const std::string& text) {
    for (char c : text) grid->TypeChar(c);
  }
};

TEST_F(RelatedListTest, AStoredSupplierRowIsSentMergedAndTheListReloaded) {
  TfrmProdDesoneraImpos& s = StartRow(&TfrmProdDesoneraImpos::dbgFornecedor, &TfrmProdDesoneraImpos::tshFornecedor);
  EXPECT_FALSE(s.tshCliente->Enabled());
  Type(s.dbgFornecedor, "45.723.174/0001-10");  // the key filter keeps the digits only
  EXPECT_EQ(s.cdsFornecedor->FieldByName("NRINSJURFORN")->AsString(), "45723174000110");
  ASSERT_TRUE(Act([&] { s.dbgPadrao->SetFocus(); }));  // leaving the grid posts the row

  EXPECT_EQ(calls_, (std::vector<std::string>{"getVd_Fornecedor", "SetFornecedor", "getFornecedorDesde"}));
  EXPECT_EQ(s.cdsFornecedor->State(), TDataSetState::dsBrowse);
  EXPECT_EQ(s.cdsFornecedor->ChangeCount(), 0);
  EXPECT_EQ(Column(*s.cdsFornecedor, "CDFORNECED"), (std::vector<std::string>{"F001", "F002", "F003"}));
  // The reloaded row carries the person type that only the server fills in.
  EXPECT_EQ(Column(*s.cdsFornecedor, "IDTPIJURFORN"), (std::vector<std::string>{"J", "J", "F"}));
  EXPECT_TRUE(s.tshCliente->Enabled());
  EXPECT_FALSE(host_.BusyShown());
}

TEST_F(RelatedListTest, ValidationFillsTheKeysFromTheLocalLookup) {
  TfrmProdDesoneraImpos& s = StartRow(&TfrmProdDesoneraImpos::dbgCliente, &TfrmProdDesoneraImpos::tshCliente);
  s.cdsCliente->FieldByName("NRINSJURCLIE")->SetAsString("  39053344705 ");
  s.dbgCliente->SetSelectedIndex(1);  // the read-only name column validates as much
  ASSERT_TRUE(Act([&] { s.Vd_Cliente(true); }));
  EXPECT_EQ(s.cdsCliente->FieldByName("CDCLIENTE")->AsString(), "C002");
  EXPECT_EQ(s.cdsCliente->FieldByName("CDCLIENTEDES")->AsString(), "39053344705");
  EXPECT_EQ(s.cdsCliente->FieldByName("CDPRODUTODES")->AsString(), "100");
  EXPECT_EQ(s.cdsCliente->FieldByName("NMRAZSOCCLIE")->AsString(), "Maria Aparecida Gonça");
}

TEST_F(RelatedListTest, AnUnknownNumberIsRefusedAndTheRowStaysNewOnItsCodeColumn) {
  TfrmProdDesoneraImpos& s = StartRow(&TfrmProdDesoneraImpos::dbgFornecedor, &TfrmProdDesoneraImpos::tshFornecedor);
  Type(s.dbgFornecedor, "123");
  EXPECT_FALSE(Act([&] { s.dbgFornecedor->SetSelectedIndex(1); }));  // the column exit refuses it
  EXPECT_FALSE(Act([&] { s.dbgPadrao->SetFocus(); }));              // and so does leaving the grid
  EXPECT_EQ(LogLines("message:"),
            (std::vector<std::string>{"message: Fornecedor não cadastrado.", "message: Fornecedor não cadastrado."}));
  EXPECT_EQ(s.cdsFornecedor->State(), TDataSetState::dsInsert);
  EXPECT_EQ(s.ActiveControl(), s.dbgFornecedor);
  EXPECT_EQ(s.dbgFornecedor->SelectedField()->FieldName(), "NRINSJURFORN");
  EXPECT_TRUE(s.cdsFornecedor->FieldByName("CDFORNECED")->AsString().empty());
  EXPECT_TRUE(calls_.empty());
}

TEST_F(RelatedListTest, ASupplierAlreadyRelatedIsRefusedKeepingTheLookedUpValues) {
  TfrmProdDesoneraImpos& s = StartRow(&TfrmProdDesoneraImpos::dbgFornecedor, &TfrmProdDesoneraImpos::tshFornecedor);
  Type(s.dbgFornecedor, "11222333000181");
  EXPECT_FALSE(Act([&] { s.sbtConfirmar->Click(); }));
  EXPECT_EQ(LogLines("message:"), std::vector<std::string>{"message: Fornecedor já cadastrado para o produto."});
  EXPECT_EQ(s.cdsFornecedor->FieldByName("CDFORNECED")->AsString(), "F001");
  EXPECT_EQ(s.cdsFornecedor->State(), TDataSetState::dsInsert);
  EXPECT_FALSE(host_.BusyShown());
}

TEST_F(RelatedListTest, AnEmptyCodePassesTheColumnExitButNotThePost) {
  TfrmProdDesoneraImpos& s = StartRow(&TfrmProdDesoneraImpos::dbgFilial, &TfrmProdDesoneraImpos::tshFilial);
  EXPECT_TRUE(Act([&] { s.dbgFilial->SetSelectedIndex(1); }));
  EXPECT_TRUE(host_.Log().empty());
  EXPECT_FALSE(Act([&] { s.dbgPadrao->SetFocus(); }));
  EXPECT_EQ(LogLines("message:"), std::vector<std::string>{"message: Filial deve ser informada."});
  EXPECT_EQ(s.cdsFilial->State(), TDataSetState::dsInsert);
}

TEST_F(RelatedListTest, ABranchCodeIsUpperCasedAndHeldToFourCharacters) {
  TfrmProdDesoneraImpos& s = StartRow(&TfrmProdDesoneraImpos::dbgFilial, &TfrmProdDesoneraImpos::tshFilial);
  Type(s.dbgFilial, "rj02x");
  EXPECT_EQ(s.cdsFilial->FieldByName("CDFILIALDES")->AsString(), "RJ02");
  ASSERT_TRUE(Act([&] { s.sbtConfirmar->Click(); }));
  EXPECT_EQ(Column(*s.cdsFilial, "CDFILIALDES"), (std::vector<std::string>{"RJ02", "SP01"}));
}

TEST_F(RelatedListTest, APickedBranchLongerThanFourCharactersKeepsItsFirstFour) {
  TfrmProdDesoneraImpos& s = StartRow(&TfrmProdDesoneraImpos::dbgFilial, &TfrmProdDesoneraImpos::tshFilial);
  host_.QueuePick(1);  // branches by code: MG003, RJ02, SP01
  ASSERT_TRUE(Act([&] { s.dbgFilial->ClickEllipsis(); }));
  EXPECT_EQ(s.cdsFilial->FieldByName("CDFILIALDES")->AsString(), "MG00");
  EXPECT_EQ(s.cdsFilial->FieldByName("NMFILIAL")->AsString(), "Belo Horizonte");
  EXPECT_TRUE(calls_.empty());
}

TEST_F(RelatedListTest, APickedSupplierCopiesTheStoredNumberAndAClosedPickListChangesNothing) {
  TfrmProdDesoneraImpos& s = StartRow(&TfrmProdDesoneraImpos::dbgFornecedor, &TfrmProdDesoneraImpos::tshFornecedor);
  host_.QueuePickNone();
  ASSERT_TRUE(Act([&] { s.dbgFornecedor->ClickEllipsis(); }));
  EXPECT_TRUE(s.cdsFornecedor->FieldByName("NRINSJURFORN")->AsString().empty());
  host_.QueuePick(2);  // suppliers by name: Comércio…, Distribuidora…, José…
  ASSERT_TRUE(Act([&] { s.dbgFornecedor->ClickEllipsis(); }));
  EXPECT_EQ(s.cdsFornecedor->FieldByName("NRINSJURFORN")->AsString(), "11222333000181");
  EXPECT_EQ(s.cdsFornecedor->FieldByName("CDFORNECED")->AsString(), "F001");
  EXPECT_TRUE(s.cdsFornecedor->FieldByName("CDPRODUTODES")->AsString().empty());
  EXPECT_TRUE(s.cdsFornecedor->FieldByName("IDTPIJURFORN")->AsString().empty());
}

TEST_F(RelatedListTest, ARefusedSaveKeepsTheRowPendingAndTheNextSaveSendsBoth) {
  // The local database knows a supplier that the server's master data does not have yet.
  auto data = testsupport::SampleMasterData();
  data.suppliers.push_back({"27865757000102", "Atacadão Nordeste Ltda", "J", "F009"});
  testsupport::WriteLocalDatabase(server_->LocalDatabase(), data);
  TfrmProdDesoneraImpos& s = StartRow(&TfrmProdDesoneraImpos::dbgFornecedor, &TfrmProdDesoneraImpos::tshFornecedor);
  Type(s.dbgFornecedor, "27865757000102");
  EXPECT_THROW(s.dbgPadrao->SetFocus(), host::ERemoteError);
  ASSERT_EQ(LogLines("message:").size(), 1u);
  EXPECT_EQ(s.cdsFornecedor->ChangeCount(), 1);
  EXPECT_FALSE(host_.BusyShown());
  EXPECT_TRUE(boValida);

  server_->ImportMaster();
  s.sbtIncluir->Click();
  Type(s.dbgFornecedor, "45723174000110");
  calls_.clear();
  ASSERT_TRUE(Act([&] { s.dbgPadrao->SetFocus(); }));
  EXPECT_EQ(calls_, (std::vector<std::string>{"getVd_Fornecedor", "SetFornecedor", "getFornecedorDesde"}));
  EXPECT_EQ(s.cdsFornecedor->ChangeCount(), 0);
  EXPECT_EQ(Column(*s.cdsFornecedor, "CDFORNECED"), (std::vector<std::string>{"F001", "F009", "F002", "F003"}));
}

TEST_F(RelatedListTest, TheFirstRelatedRowCarriesANewProductToTheServer) {
  TfrmProdDesoneraImpos& s = Open();
  s.dbgPadrao->SetFocus();
  s.sbtIncluir->Click();
  Type(s.dbgPadrao, "1005");
  s.pgcGrade->SetActivePage(s.tshCliente);
  ASSERT_TRUE(Act([&] { s.dbgCliente->SetFocus(); }));  // validates the product, starts a client row
  EXPECT_EQ(s.cdsCliente->State(), TDataSetState::dsInsert);
  EXPECT_TRUE(s.sbtConfirmar->Enabled());
  Type(s.dbgCliente, "60701190000104");
  calls_.clear();
  ASSERT_TRUE(Act([&] { s.sbtConfirmar->Click(); }));
  EXPECT_EQ(calls_, (std::vector<std::string>{"getVd_Cliente", "getVd_Produto", "getVd_Cliente", "SetCliente", "getClienteDesde"}));
  EXPECT_EQ(s.cdsProduto->State(), TDataSetState::dsBrowse);
  EXPECT_EQ(s.cdsProduto->ChangeCount(), 0);
  EXPECT_EQ(s.cdsProdutoCDPRODUTO->AsString(), "400");
  EXPECT_TRUE(boValida);
  EXPECT_EQ(Column(*s.cdsCliente, "CDCLIENTE"), std::vector<std::string>{"C001"});
  EXPECT_EQ(s.cdsCliente->Filter(), "CDPRODUTODES = '400'");
  // The server lists the product from now on.
  s.sbtVerificarClick(nullptr);
  EXPECT_EQ(s.cdsProduto->RecordCount(), 4);
}

TEST_F(RelatedListTest, AbandoningTheFirstRelatedRowOfANewProductAbandonsTheProduct) {
  TfrmProdDesoneraImpos& s = Open();
  s.dbgPadrao->SetFocus();
  s.sbtIncluir->Click();
  Type(s.dbgPadrao, "1005");
  ASSERT_TRUE(Act([&] { s.dbgFornecedor->SetFocus(); }));
  ASSERT_EQ(s.cdsFornecedor->State(), TDataSetState::dsInsert);
  calls_.clear();
  s.dbgFornecedor->Escape();
  EXPECT_EQ(s.cdsProduto->State(), TDataSetState::dsBrowse);
  EXPECT_EQ(s.cdsFornecedor->State(), TDataSetState::dsBrowse);
  EXPECT_EQ(calls_, (std::vector<std::string>{"getVersaoListas", "getDados"}));
  EXPECT_EQ(s.cdsProduto->RecordCount(), 3);
  EXPECT_EQ(s.ActiveControl(), s.dbgPadrao);
}

TEST_F(RelatedListTest, AbandoningARowOfAStoredProductChangesNothingElse) {
  TfrmProdDesoneraImpos& s = StartRow(&TfrmProdDesoneraImpos::dbgFornecedor, &TfrmProdDesoneraImpos::tshFornecedor);
  s.dbgFornecedor->Escape();
  EXPECT_TRUE(calls_.empty());
  EXPECT_EQ(s.cdsFornecedor->RecordCount(), 2);
}

TEST_F(RelatedListTest, DeletingARowSendsItAtOnceWithoutAReload) {
  TfrmProdDesoneraImpos& s = Open();
  s.dbgFornecedor->SetFocus();
  calls_.clear();
  host_.QueueAnswer(true);
  ASSERT_TRUE(Act([&] { s.sbtExcluir->Click(); }));
  EXPECT_EQ(LogLines("question:"), std::vector<std::string>{"question: Deseja excluir o Fornecedor selecionado? -> yes"});
  EXPECT_EQ(calls_, std::vector<std::string>{"SetFornecedor"});
  EXPECT_EQ(s.cdsFornecedor->RecordCount(), 1);
  EXPECT_EQ(s.cdsFornecedor->ChangeCount(), 0);
  EXPECT_EQ(s.cdsProduto->RecordCount(), 3);
}

TEST_F(RelatedListTest, DeletingTheLastRelatedRowDeletesTheProductToo) {
  TfrmProdDesoneraImpos& s = Open();
  s.cdsProduto->Next();  // product 200: one supplier, nothing else
  s.dbgFornecedor->SetFocus();
  calls_.clear();
  host_.QueueAnswer(true);
  ASSERT_TRUE(Act([&] { s.sbtExcluir->Click(); }));
  EXPECT_EQ(calls_, (std::vector<std::string>{"SetFornecedor", "SetProduto"}));
  EXPECT_EQ(Column(*s.cdsProduto, "CDPRODUTO"), (std::vector<std::string>{"100", "O'1"}));
  EXPECT_EQ(s.ActiveControl(), s.dbgPadrao);
  s.sbtVerificarClick(nullptr);
  EXPECT_EQ(s.cdsProduto->RecordCount(), 2);
}

TEST_F(RelatedListTest, AStoredRowCannotBeEdited) {
  TfrmProdDesoneraImpos& s = Open();
  s.dbgCliente->SetFocus();
  EXPECT_THROW(s.cdsCliente->FieldByName("NMRAZSOCCLIE")->SetAsString("x"), host::EAbort);
  EXPECT_EQ(s.cdsCliente->State(), TDataSetState::dsBrowse);
  EXPECT_EQ(s.cdsCliente->FieldByName("NMRAZSOCCLIE")->AsString(), "Supermercados Irmãos Conceição");
}

}  // namespace
}  // namespace pdi07310
