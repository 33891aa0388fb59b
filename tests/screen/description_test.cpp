// The screen's description: components, fields, grids, SQL and message table as loaded.
#include "host/controls/DBText.h"
#include "host/controls/Label.h"
#include "host/controls/Splitter.h"
#include "tests/screen/ScreenFixture.h"

namespace pdi07310 {
namespace {

using DescriptionTest = ScreenTest;

struct FieldSpec {
  const char* name;
  const char* label;
  int size;
  bool visible;
  int displayWidth;  // 0: not given
};

void ExpectFields(host::TDataSet& dataSet, const std::vector<FieldSpec>& expected) {
  ASSERT_EQ(dataSet.Fields().size(), expected.size()) << dataSet.Name();
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const host::TField& f = *dataSet.Fields()[i];
    SCOPED_TRACE(dataSet.Name() + "." + expected[i].name);
    EXPECT_EQ(f.FieldName(), expected[i].name);
    EXPECT_EQ(f.Size(), expected[i].size);
    EXPECT_EQ(f.Visible, expected[i].visible);
    if (expected[i].label[0] != '\0') {
      EXPECT_EQ(f.DisplayLabel, expected[i].label);
    }
    if (expected[i].displayWidth != 0) {
      EXPECT_EQ(f.DisplayWidth, expected[i].displayWidth);
    }
  }
}

void ExpectColumns(host::TDBGrid& grid, const std::vector<std::pair<std::string, int>>& columns) {
  const auto actual = grid.Columns();
  ASSERT_EQ(actual.size(), columns.size()) << grid.Name();
  for (std::size_t i = 0; i < columns.size(); ++i) {
    EXPECT_EQ(actual[i]->FieldName(), columns[i].first);
    if (columns[i].second != 0) {
      EXPECT_EQ(actual[i]->Width(), columns[i].second);
    }
    EXPECT_EQ(actual[i]->ReadOnly(), i == 1) << grid.Name() << " column " << i;
  }
}

TEST_F(DescriptionTest, TheFormAndItsLayout) {
  TfrmProdDesoneraImpos& s = Open();
  EXPECT_EQ(s.Left(), 224);
  EXPECT_EQ(s.Top(), 156);
  EXPECT_EQ(s.Width(), 559);
  EXPECT_EQ(s.Height(), 491);
  EXPECT_EQ(s.FormStyle(), host::TFormStyle::fsMDIChild);
  EXPECT_EQ(s.lblCodTela->Caption(), "PDI07310");
  EXPECT_EQ(s.sbtIncluir->Left(), 5);
  EXPECT_EQ(s.sbtIncluir->Width(), 20);
  EXPECT_EQ(s.dbgPadrao->Height(), 177);
  EXPECT_EQ(s.dbgPadrao->Parent()->Name(), "scbFolhaDados");
  EXPECT_EQ(s.Find<host::TTabSheet>("tshFornecedor")->Caption(), "Fornecedor");
  EXPECT_EQ(s.pgcGrade->Pages().size(), 3u);
  EXPECT_EQ(s.pgcGrade->Pages()[1]->Caption(), "Cliente");
  EXPECT_EQ(s.pgcGrade->Pages()[2]->Caption(), "Filial");
  EXPECT_EQ(s.pgcGrade->ActivePage(), s.tshFornecedor);
  EXPECT_EQ(s.dbgFornecedor->Parent()->Name(), "scbFornecedor");
  EXPECT_FALSE(s.mnuListagem->Enabled());
  EXPECT_FALSE(s.mnuListagem->Visible());
  EXPECT_FALSE(s.mnuConfigImpressora->Visible());
  auto* nome = dynamic_cast<host::TDBText*>(s.FindComponent("dbtNome"));
  ASSERT_NE(nome, nullptr);
  EXPECT_EQ(nome->DataField(), "NMPRODUTO");
  EXPECT_EQ(s.netProdDeso->ServerName(), "PDI07310.rdmProdDesoneraImpos");
}

TEST_F(DescriptionTest, GridsShowTheirTwoColumnsAndNoHiddenField) {
  TfrmProdDesoneraImpos& s = Open();
  ExpectColumns(*s.dbgPadrao, {{"CDARVPROD", 0}, {"NMPRODUTO", 0}});
  ExpectColumns(*s.dbgFornecedor, {{"NRINSJURFORN", 0}, {"NMRAZSOCFORN", 380}});
  ExpectColumns(*s.dbgCliente, {{"NRINSJURCLIE", 0}, {"NMRAZSOCCLIE", 380}});
  ExpectColumns(*s.dbgFilial, {{"CDFILIALDES", 63}, {"NMFILIAL", 452}});
  EXPECT_TRUE(s.dbgFornecedor->Options().Contains(host::dgConfirmDelete));
  EXPECT_FALSE(s.dbgFornecedor->Options().Contains(host::dgCancelOnExit));
  EXPECT_EQ(s.dbgFilial->TitleFontName(), "MS Sans Serif");
}

TEST_F(DescriptionTest, RecordSetFields) {
  TfrmProdDesoneraImpos& s = Open();
  ExpectFields(*s.cdsProduto, {{"CDARVPROD", "Código", 20, true, 0},
                               {"CDPRODUTO", "", 10, false, 0},
                               {"NMPRODUTO", "Nome", 50, true, 0}});
  ExpectFields(*s.cdsFornecedor, {{"CDPRODUTODES", "", 10, false, 0},
                                  {"CDFORNECEDDES", "", 20, false, 23},
                                  {"NMRAZSOCFORN", "Nome", 40, true, 65},
                                  {"IDTPIJURFORN", "", 1, false, 0},
                                  {"CDFORNECED", "", 21, false, 0},
                                  {"NRINSJURFORN", "Código", 20, true, 0}});
  ExpectFields(*s.cdsCliente, {{"CDPRODUTODES", "", 10, false, 0},
                               {"CDCLIENTEDES", "", 20, false, 23},
                               {"CDCLIENTE", "", 21, false, 0},
                               {"NRINSJURCLIE", "Código", 20, true, 0},
                               {"NMRAZSOCCLIE", "Nome", 50, true, 65},
                               {"IDTPIJURCLIE", "", 1, false, 0}});
  ExpectFields(*s.cdsFilial, {{"CDPRODUTODES", "", 10, false, 0},
                              {"CDFILIALDES", "Código", 4, true, 6},
                              {"NMFILIAL", "Nome", 30, true, 77}});
  EXPECT_EQ(s.cdsFilial->FieldByName("CDFILIALDES")->EditMask, ">aaaa;0; ");
  ExpectFields(*s.Find<host::TClientDataSet>("cdsVd_Filial"), {{"CDPRODUTO", "", 10, true, 0},
                                                               {"CDFILIAL", "", 21, true, 0}});
  ExpectFields(*s.Find<host::TADOIBQuery>("qryFornecedor"), {{"NRINSJURFORN", "Código", 20, true, 25},
                                                             {"NMRAZSOCFORN", "Nome", 40, true, 45},
                                                             {"IDTPIJURFORN", "", 1, false, 0},
                                                             {"CDFORNECED", "", 21, false, 0}});
  ExpectFields(*s.Find<host::TADOIBQuery>("qryVdFilial"), {{"CDFILIAL", "", 4, true, 0},
                                                           {"NMFILIAL", "", 30, true, 0}});
}

TEST_F(DescriptionTest, QueriesKeepTheirSqlLineByLine) {
  TfrmProdDesoneraImpos& s = Open();
  EXPECT_EQ(s.qryValidaProd->SQL(),
            (std::vector<std::string>{"SELECT", "   CDARVPROD,", "   CDPRODUTO,", "   NMPRODUTO", "FROM",
                                      "   PRODUTO", "WHERE", "   (CDARVPROD  = :P_CDARVPROD)", "ORDER BY",
                                      "   CDPRODUTO"}));
  EXPECT_EQ(s.qryProduto->SQL(), (std::vector<std::string>{"SELECT CDPRODUTO, CDARVPROD, NMPRODUTO",
                                                            "  FROM PRODUTO", "ORDER BY CDARVPROD "}));
  auto* filial = s.Find<host::TADOIBQuery>("qryVdFilial");
  EXPECT_EQ(filial->SQL_ORACLE(), (std::vector<std::string>{"SELECT CDFILIAL", "  FROM FILIAL",
                                                             " WHERE CDFILIAL = :P_CDFILIALDES"}));
  EXPECT_NE(filial->FindParam("P_CDFILIALDES"), nullptr);
}

TEST_F(DescriptionTest, TheMessageTableInOrderWithKeysMatchedRegardlessOfCase) {
  TfrmProdDesoneraImpos& s = Open();
  const auto& lines = s.msgPadrao->Lines();
  ASSERT_EQ(lines.size(), 21u);
  EXPECT_EQ(lines.front(), "Excl|Confirma exclusão?");
  EXPECT_EQ(lines[1], "CdProd|Produto|Não há Produto cadastrado.");
  EXPECT_EQ(lines.back(), "Excl_Fil|Deseja excluir a Filial selecionada?");
  EXPECT_EQ(s.Msg("Inf_Filial"), "Filial deve ser informada.");
  EXPECT_EQ(s.Msg("Cli_NCad"), "Cliente não cadastrado.");
  EXPECT_EQ(s.Msg("Excl_Cli"), "Deseja excluir o Cliente selecionado.");
  EXPECT_FALSE(s.Msg("Valida_dados").empty());  // from the host's common messages
}

}  // namespace
}  // namespace pdi07310
