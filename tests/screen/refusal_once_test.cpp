// A refusal at confirm time, after the code had passed the column exit (another user stored the
// same pair in between), is shown once: moving the focus back to the code column runs the grid's
// column exit, which must not validate and refuse a second time.
#include "tests/screen/ScreenFixture.h"

namespace pdi07310 {
namespace {

using host::TDataSetState;

class RefusalOnceTest : public ScreenTest {};

TEST_F(RefusalOnceTest, ARelatedRowStoredElsewhereAfterTheColumnExitIsRefusedOnce) {
  const auto data = testsupport::SampleMasterData();
  struct Case {
    host::TDBGrid* TfrmProdDesoneraImpos::*grid;
    host::TTabSheet* TfrmProdDesoneraImpos::*page;
    std::string code;
    std::function<void()> storeElsewhere;
    std::string message;
  };
  const std::vector<Case> cases = {
      {&TfrmProdDesoneraImpos::dbgFornecedor, &TfrmProdDesoneraImpos::tshFornecedor, "45723174000110",
       [&] { server_->AddSupplier("100", data.suppliers[1]); }, "message: Fornecedor já cadastrado para o produto."},
      {&TfrmProdDesoneraImpos::dbgCliente, &TfrmProdDesoneraImpos::tshCliente, "39053344705",
       [&] { server_->AddClient("100", data.clients[1]); }, "message: Cliente já cadastrado para o produto."},
      {&TfrmProdDesoneraImpos::dbgFilial, &TfrmProdDesoneraImpos::tshFilial, "RJ02",
       [&] { server_->AddBranch("100", data.branches[1]); }, "message: Filial já cadastrada para o produto."},
  };
  TfrmProdDesoneraImpos& s = Open();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    host::TDBGrid* grid = s.*(c.grid);
    s.pgcGrade->SetActivePage(s.*(c.page));
    grid->SetFocus();
    s.sbtIncluir->Click();
    for (char ch : c.code) grid->TypeChar(ch);
    ASSERT_TRUE(Act([&] { grid->SetSelectedIndex(1); }));  // the column exit accepts the code
    host_.ClearLog();
    c.storeElsewhere();
    EXPECT_FALSE(Act([&] { s.sbtConfirmar->Click(); }));
    const auto messages = LogLines("message:");
    ASSERT_EQ(messages.size(), 1u) << ::testing::PrintToString(messages);
    EXPECT_EQ(messages[0].substr(0, c.message.size() - 1), c.message.substr(0, c.message.size() - 1));
    // Otherwise as before: the row stays new, on its code column, in the focused grid.
    EXPECT_EQ(grid->DataSet()->State(), TDataSetState::dsInsert);
    EXPECT_EQ(grid->SelectedIndex(), 0);
    EXPECT_EQ(s.ActiveControl(), grid);
    EXPECT_FALSE(host_.BusyShown());
    // The column exit still validates when the user moves on by hand.
    host_.ClearLog();
    EXPECT_FALSE(Act([&] { grid->SetSelectedIndex(1); }));
    EXPECT_EQ(LogLines("message:").size(), 1u);
    host_.QueueAnswer(true);
    ASSERT_TRUE(Act([&] { s.sbtCancelar->Click(); }));
    ASSERT_EQ(grid->DataSet()->State(), TDataSetState::dsBrowse);
  }
}

TEST_F(RefusalOnceTest, AProductListedElsewhereAfterTheColumnExitIsRefusedOnce) {
  TfrmProdDesoneraImpos& s = Open();
  s.dbgPadrao->SetFocus();
  s.sbtIncluir->Click();
  for (char c : std::string("1005")) s.dbgPadrao->TypeChar(c);
  ASSERT_TRUE(Act([&] { s.dbgPadrao->SetSelectedIndex(1); }));
  host_.ClearLog();
  server_->AddBranch("400", testsupport::SampleMasterData().branches[0]);
  EXPECT_FALSE(Act([&] { s.sbtConfirmar->Click(); }));
  EXPECT_EQ(LogLines("message:"), std::vector<std::string>{"message: Produto já cadastrado."});
  EXPECT_EQ(s.cdsProduto->State(), TDataSetState::dsInsert);
  EXPECT_EQ(s.dbgPadrao->SelectedIndex(), 0);
  host_.ClearLog();
  EXPECT_FALSE(Act([&] { s.dbgPadrao->SetSelectedIndex(1); }));  // the column exit still refuses
  EXPECT_EQ(LogLines("message:"), std::vector<std::string>{"message: Produto já cadastrado."});
}

}  // namespace
}  // namespace pdi07310
