// Module entry, creation, connection, closing and loading of the screen.
#include "host/controls/Screen.h"
#include "tests/screen/ScreenFixture.h"

namespace pdi07310 {
namespace {

using host::TDataSetState;

TEST_F(ScreenTest, OpeningLoadsAllListsInOneCallAndFiltersToTheFirstProduct) {
  TfrmProdDesoneraImpos& s = Open();
  EXPECT_EQ(calls_, (std::vector<std::string>{"getVersaoListas", "getDados"}));
  EXPECT_TRUE(boIdCriado);
  EXPECT_EQ(s.Caption(), "Produtos para Desoneração de Impostos");
  EXPECT_EQ(Column(*s.cdsProduto, "CDPRODUTO"), (std::vector<std::string>{"100", "200", "O'1"}));
  EXPECT_EQ(s.cdsProdutoCDPRODUTO->AsString(), "100");
  EXPECT_EQ(Column(*s.cdsFornecedor, "CDFORNECED"), (std::vector<std::string>{"F001", "F003"}));
  EXPECT_EQ(s.cdsCliente->RecordCount(), 1);
  EXPECT_EQ(s.cdsFilial->FieldByName("NMFILIAL")->AsString(), "São Paulo - Matriz");
  EXPECT_EQ(s.cdsFornecedor->Filter(), "CDPRODUTODES = '100'");
  EXPECT_EQ(host::Screen().Cursor(), host::crDefault);
  EXPECT_EQ(host_.BusyShown(), false);
}

TEST_F(ScreenTest, ASecondOpenShowsTheSameScreenRestored) {
  TfrmProdDesoneraImpos& first = Open();
  first.SetWindowState(host::TWindowState::wsMinimized);
  TfrmProdDesoneraImpos& second = Open();
  EXPECT_EQ(&first, &second);
  EXPECT_EQ(second.WindowState(), host::TWindowState::wsNormal);
  EXPECT_EQ(calls_.size(), 2u);
}

TEST_F(ScreenTest, AFailedCreationCanBeRetriedAndRestoresTheCursor) {
  host_.SetWebPort(1);  // nothing listens there
  EXPECT_THROW(IniProc(), std::exception);
  EXPECT_FALSE(boIdCriado);
  EXPECT_EQ(frmProdDesoneraImpos, nullptr);
  EXPECT_EQ(host::Screen().Cursor(), host::crDefault);
  EXPECT_FALSE(host_.BusyShown());

  host_.SetWebPort(server_->Port());
  TfrmProdDesoneraImpos& s = Open();
  EXPECT_TRUE(boIdCriado);
  EXPECT_TRUE(s.netProdDeso->Connected());
}

TEST_F(ScreenTest, CreationTakesTheProductMaskFromTheHostAndMarksTheKeyFields) {
  host_.SetDBPict(0, "9.999;0;_");
  TfrmProdDesoneraImpos& s = Open();
  EXPECT_EQ(s.cdsProdutoCDARVPROD->EditMask, "9.999;0;_");
  EXPECT_EQ(s.qryProdutoCDARVPROD->EditMask, "9.999;0;_");
  EXPECT_EQ(s.cdsProdutoCDARVPROD->Tag, 1);
  EXPECT_EQ(s.cdsProdutoCDPRODUTO->Tag, 1);
  EXPECT_EQ(s.cdsProduto->FieldByName("NMPRODUTO")->Tag, 0);
}

TEST_F(ScreenTest, ClosingDisconnectsAndTheNextCallConnectsWithTheCurrentSettings) {
  TfrmProdDesoneraImpos& s = Open();
  s.Close();
  EXPECT_FALSE(s.netProdDeso->Connected());

  server_->Restart();  // a new port
  host_.SetWebPort(server_->Port());
  Open();
  ASSERT_TRUE(Act([&] { s.sbtVerificarClick(nullptr); }));
  EXPECT_EQ(s.netProdDeso->Port(), server_->Port());
  EXPECT_EQ(s.cdsProduto->RecordCount(), 3);
}

TEST_F(ScreenTest, MovingThroughProductsFiltersTheRelatedListsWithoutCallingTheServer) {
  TfrmProdDesoneraImpos& s = Open();
  calls_.clear();
  s.cdsProduto->Next();
  EXPECT_EQ(Column(*s.cdsFornecedor, "CDFORNECED"), std::vector<std::string>{"F002"});
  EXPECT_TRUE(s.cdsCliente->IsEmpty());
  s.cdsProduto->Next();  // key O'1, quoted in the expression
  EXPECT_EQ(s.cdsFilial->Filter(), "CDPRODUTODES = 'O''1'");
  EXPECT_EQ(Column(*s.cdsFilial, "CDFILIALDES"), std::vector<std::string>{"RJ02"});
  EXPECT_TRUE(s.cdsFornecedor->IsEmpty());
  s.cdsProduto->First();
  EXPECT_EQ(s.cdsFornecedor->RecordCount(), 2);
  EXPECT_TRUE(calls_.empty());
}

TEST_F(ScreenTest, BeginningAProductInsertEmptiesTheRelatedViewsAndCancelRestoresThem) {
  TfrmProdDesoneraImpos& s = Open();
  s.dbgPadrao->SetFocus();
  s.sbtIncluir->Click();
  EXPECT_EQ(s.cdsProduto->State(), TDataSetState::dsInsert);
  EXPECT_TRUE(s.cdsFornecedor->IsEmpty());
  EXPECT_TRUE(s.cdsFilial->IsEmpty());
  host_.QueueAnswer(true);
  s.sbtCancelar->Click();
  EXPECT_EQ(s.cdsProduto->State(), TDataSetState::dsBrowse);
  EXPECT_EQ(s.cdsFornecedor->RecordCount(), 2);
}

TEST_F(ScreenTest, UnloadAndLoadGiveTheGlobalsTheirLoadTimeValues) {
  Open();
  boValida = false;
  Finalize();
  EXPECT_EQ(frmProdDesoneraImpos, nullptr);
  Initialize();
  EXPECT_FALSE(boIdCriado);
  EXPECT_TRUE(boValida);
}

}  // namespace
}  // namespace pdi07310
