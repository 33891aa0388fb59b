// The standard grid screen: its own description, its default handlers, a screen description
// adjusting it, and handler precedence (the screen's table over the base's).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/controls/Application.h"
#include "host/controls/ButtonFlat.h"
#include "host/controls/DBGrid.h"
#include "host/controls/Label.h"
#include "host/controls/MenuItem.h"
#include "host/controls/Panel.h"
#include "host/controls/ScrollBox.h"
#include "host/controls/TabSheet.h"
#include "host/data/ClientDataSet.h"
#include "host/data/DataSource.h"
#include "host/forms/DescriptionError.h"
#include "host/forms/FrmPadraoGrid.h"
#include "host/services/HostLib.h"
#include "host/services/ScriptedHost.h"
#include "host/text/Messages.h"

namespace host {
namespace {

constexpr std::string_view kScreenDescription = R"(inherited frmAmostra: TfrmAmostra
  Caption = 'Amostra'
  FormStyle = fsMDIChild
  inherited panMenu: TPanel
    inherited sbtIncluir: TButtonFlat
      Left = 5
      Width = 20
    end
    inherited lblCodTela: TLabel
      Caption = 'PDI07310'
    end
  end
  inherited pgcPadrao: TPageControl
    inherited tshPadrao: TTabSheet
      object scbFolhaDados: TScrollBox
        Align = alClient
        inherited dbgPadrao: TDBGrid
          Align = alTop
          Height = 177
          OnEnter = dbgPadraoEnter
          Columns = <
            item
              FieldName = 'CDARVPROD'
            end
            item
              FieldName = 'NMPRODUTO'
              ReadOnly = True
            end>
        end
      end
    end
  end
  inherited mnuMenu: TMainMenu
    inherited mnuOperacao: TMenuItem
      inherited mnuListagem: TMenuItem
        Enabled = False
        Visible = False
      end
    end
  end
  inherited dtsPadrao: TDataSource
    DataSet = cdsProduto
  end
  inherited msgPadrao: TMessages
    Lines.Strings = (
      'Inf_Prod|Produto deve ser informado.')
  end
  object cdsProduto: TClientDataSet
    object cdsProdutoCDARVPROD: TStringField
      DisplayLabel = 'C'#243'digo'
      FieldName = 'CDARVPROD'
    end
    object cdsProdutoCDPRODUTO: TStringField
      FieldName = 'CDPRODUTO'
      Visible = False
      Size = 10
    end
    object cdsProdutoNMPRODUTO: TStringField
      DisplayLabel = 'Nome'
      FieldName = 'NMPRODUTO'
      Size = 50
    end
  end
end
)";

// A screen built on the standard grid screen: its own handlers in its table, and FormCreate
// overridden to run the base's first.
class TfrmAmostra : public TfrmPadraoGrid {
 public:
  explicit TfrmAmostra(TComponent* owner = nullptr) : TfrmPadraoGrid(owner) {
    handlers_.Add("dbgPadraoEnter", this, &TfrmAmostra::dbgPadraoEnter);
    handlers_.Add("sbtIncluirClick", this, &TfrmAmostra::sbtIncluirClick);
  }

  void Initialize() override { InitializeForm(description, handlers_); }

  void FormCreate(TObject* sender) override {
    TfrmPadraoGrid::FormCreate(sender);
    log.push_back("FormCreate");
  }
  void dbgPadraoEnter(TObject*) { log.push_back("dbgPadraoEnter"); }
  void sbtIncluirClick(TObject*) override { log.push_back("screen sbtIncluirClick"); }

  static inline std::string_view description = kScreenDescription;
  std::vector<std::string> log;

 private:
  HandlerTable handlers_;
};

class FrmPadraoGridTest : public ::testing::Test {
 protected:
  void SetUp() override { SetHostServices(&host); }
  void TearDown() override {
    Application().DestroyForms();
    TfrmAmostra::description = kScreenDescription;
    SetHostServices(nullptr);
  }

  ScriptedHost host;
};

TEST_F(FrmPadraoGridTest, TheBaseScreenAloneHasItsComponentsAndDefaults) {
  TfrmPadraoGrid* form = nullptr;
  Application().CreateForm(form);
  ASSERT_NE(form, nullptr);
  for (TButtonFlat* b : {form->sbtIncluir, form->sbtAuxiliar, form->sbtExcluir, form->sbtProcurar,
                         form->sbtVerificar, form->sbtConfirmar, form->sbtCancelar, form->sbtImprimir}) {
    EXPECT_EQ(b->Parent(), form->panMenu) << b->Name();
  }
  EXPECT_EQ(form->dbgPadrao->Parent(), form->tshPadrao);
  EXPECT_EQ(form->dbgPadrao->DataSource(), form->dtsPadrao);
  EXPECT_FALSE(form->dbgPadrao->Options().Contains(dgCancelOnExit));
  EXPECT_EQ(form->mnuOperacao->Items().size(), 9u);
  EXPECT_EQ(form->Menu(), form->mnuMenu);
  EXPECT_EQ(form->msgComum->Msg("Canc"), "Deseja cancelar a operação?");
  EXPECT_EQ(form->mnuIncluir->Caption(), "&Incluir");

  form->Show();
  form->Close();
  EXPECT_FALSE(form->Visible()) << "the base close action hides the screen";
  EXPECT_EQ(Application().Forms().size(), 1u);
}

TEST_F(FrmPadraoGridTest, AScreenDescriptionAdjustsTheBase) {
  TfrmAmostra* form = nullptr;
  Application().CreateForm(form);
  ASSERT_NE(form, nullptr);
  EXPECT_EQ(form->Name(), "frmAmostra");
  EXPECT_EQ(form->FormStyle(), TFormStyle::fsMDIChild);
  EXPECT_EQ(form->lblCodTela->Caption(), "PDI07310");
  EXPECT_EQ(form->sbtIncluir->Left(), 5);
  EXPECT_EQ(form->dbgPadrao->Parent(), form->FindComponent("scbFolhaDados"));
  EXPECT_EQ(form->dbgPadrao->Height(), 177);
  EXPECT_FALSE(form->mnuListagem->Visible());
  EXPECT_EQ(form->msgPadrao->Lines().size(), 1u) << "the screen's lines replace the base's";
  auto* cds = dynamic_cast<TClientDataSet*>(form->FindComponent("cdsProduto"));
  EXPECT_EQ(form->dtsPadrao->DataSet(), cds);
  ASSERT_EQ(form->dbgPadrao->ColumnCount(), 2);
  EXPECT_EQ(form->dbgPadrao->Columns()[0]->TitleText(), "Código");
  EXPECT_EQ(form->log, std::vector<std::string>{"FormCreate"}) << "the override runs once, after loading";
}

TEST_F(FrmPadraoGridTest, TheScreensHandlerTakesThePlaceOfTheBases) {
  TfrmAmostra* form = nullptr;
  Application().CreateForm(form);
  auto* cds = dynamic_cast<TClientDataSet*>(form->FindComponent("cdsProduto"));
  cds->Open();
  form->sbtIncluir->SetEnabled(true);
  form->sbtIncluir->Click();
  form->mnuIncluir->SetEnabled(true);
  form->mnuIncluir->Click();
  EXPECT_EQ(cds->State(), TDataSetState::dsBrowse) << "the base's generic insert did not run";
  form->dbgPadrao->SetFocus();
  EXPECT_EQ(form->log, (std::vector<std::string>{"FormCreate", "screen sbtIncluirClick", "screen sbtIncluirClick",
                                                 "dbgPadraoEnter"}));
}

TEST_F(FrmPadraoGridTest, GenericEnablingAndCommandsFollowTheMainRecordSet) {
  TfrmAmostra* form = nullptr;
  Application().CreateForm(form);
  auto* cds = dynamic_cast<TClientDataSet*>(form->FindComponent("cdsProduto"));
  cds->SetData(Variant::MakeDataPacket(
      R"({"fields":[{"name":"CDARVPROD","size":20}],"rows":[["1"],["2"]]})"));
  EXPECT_TRUE(form->sbtExcluir->Enabled());
  EXPECT_FALSE(form->sbtConfirmar->Enabled());
  EXPECT_FALSE(form->mnuConfirmar->Enabled());

  cds->Append();
  EXPECT_TRUE(form->sbtConfirmar->Enabled());
  EXPECT_TRUE(form->mnuCancelar->Enabled());
  EXPECT_FALSE(form->sbtIncluir->Enabled());
  EXPECT_FALSE(form->sbtAuxiliar->Enabled());

  form->sbtCancelar->Click();
  EXPECT_EQ(cds->RecordCount(), 2);
  EXPECT_TRUE(form->sbtIncluir->Enabled());

  host.QueueAnswer(false);
  form->sbtExcluir->Click();
  EXPECT_EQ(cds->RecordCount(), 2);
  host.QueueAnswer(true);
  form->mnuExcluir->Click();
  EXPECT_EQ(cds->RecordCount(), 1);
  EXPECT_EQ(host.Log().back(), "question: Confirma exclusão? -> yes");
}

TEST_F(FrmPadraoGridTest, EnterActsAsTabInTheMainGrid) {
  TfrmAmostra* form = nullptr;
  Application().CreateForm(form);
  auto* cds = dynamic_cast<TClientDataSet*>(form->FindComponent("cdsProduto"));
  cds->Open();
  form->dbgPadrao->KeyDown(VK_RETURN);
  EXPECT_EQ(form->dbgPadrao->SelectedIndex(), 1);
}

TEST_F(FrmPadraoGridTest, AMissingHandlerFailsTheCreation) {
  TfrmAmostra::description = R"(inherited frmAmostra: TfrmAmostra
  object cdsProduto: TClientDataSet
    BeforeEdit = cdsProdutoBeforeEdt
  end
end
)";
  TfrmAmostra stale;
  TfrmAmostra* form = &stale;  // must be reset on failure
  try {
    Application().CreateForm(form);
    FAIL() << "the creation should have failed";
  } catch (const EDescriptionError& e) {
    EXPECT_STREQ(e.what(), "line 3: handler 'cdsProdutoBeforeEdt' for cdsProduto.BeforeEdit not found");
  }
  EXPECT_EQ(form, nullptr);
  EXPECT_TRUE(Application().Forms().empty());
}

TEST_F(FrmPadraoGridTest, TheBaseDescriptionIsInitializedOnlyOnce) {
  TfrmPadraoGrid form;
  form.Initialize();
  EXPECT_THROW(form.Initialize(), EPlatformError);
}

}  // namespace
}  // namespace host
