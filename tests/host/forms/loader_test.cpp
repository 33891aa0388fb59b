// Applying descriptions to a form: components, placement, fields, columns, SQL, messages,
// references resolved after reading, handler binding by name, and faults named by line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/controls/DBGrid.h"
#include "host/controls/Form.h"
#include "host/controls/MainMenu.h"
#include "host/controls/MenuItem.h"
#include "host/controls/PageControl.h"
#include "host/controls/ScrollBox.h"
#include "host/controls/Splitter.h"
#include "host/controls/TabSheet.h"
#include "host/data/ClientDataSet.h"
#include "host/db/ADOIBQuery.h"
#include "host/forms/DescriptionLoader.h"
#include "host/net/NetConnection.h"
#include "host/text/Messages.h"

namespace host {
namespace {

constexpr std::string_view kScreen = R"(object frmTeste: TfrmTeste
  Left = 224
  Top = 156
  Width = 559
  Height = 491
  Caption = 'Teste de Descri'#231#227'o'
  FormStyle = fsMDIChild
  Menu = mnuMenu
  PixelsPerInch = 96
  object pgcGrade: TPageControl
    Align = alClient
    ActivePage = tshCliente
    OnMouseDown = pgcGradeMouseDown
    object tshFornecedor: TTabSheet
      Caption = 'Fornecedor'
      OnEnter = tshEnter
      object dbgFornecedor: TDBGrid
        Align = alClient
        BorderStyle = bsNone
        Color = clInfoBk
        DataSource = dtsFornecedor
        Options = [dgEditing, dgTitles, dgTabs, dgConfirmDelete]
        TitleFont.Name = 'MS Sans Serif'
        TitleFont.Height = -11
        TitleFont.Charset = DEFAULT_CHARSET
        OnKeyPress = dbgFornecedorKeyPress
        Columns = <
          item
            Expanded = False
            FieldName = 'NRINSJURFORN'
            Title.Caption = 'C'#243'digo'
          end
          item
            FieldName = 'NMRAZSOCFORN'
            ReadOnly = True
            Width = 380
          end>
      end
    end
    object tshCliente: TTabSheet
      Caption = 'Cliente'
      object Splitter1: TSplitter
        Height = 4
        Cursor = crVSplit
        Align = alTop
        ResizeStyle = rsNone
      end
    end
  end
  object mnuMenu: TMainMenu
    Left = 8
    object mnuOperacao: TMenuItem
      Caption = '&Opera'#231#227'o'
      object mnuListagem: TMenuItem
        Caption = '&Listagem'
        Enabled = False
        Visible = False
      end
    end
  end
  object cdsFornecedor: TClientDataSet
    RemoteServer = netTeste
    ProviderName = 'dspFornecedor'
    BeforePost = cdsFornecedorBeforePost
    object cdsFornecedorNRINSJURFORN: TStringField
      DisplayLabel = 'C'#243'digo'
      FieldName = 'NRINSJURFORN'
      OnGetText = cdsFornecedorNRINSJURFORNGetText
    end
    object cdsFornecedorNMRAZSOCFORN: TStringField
      DisplayWidth = 65
      FieldName = 'NMRAZSOCFORN'
      Size = 40
    end
    object cdsFornecedorCDFORNECED: TStringField
      FieldName = 'CDFORNECED'
      Visible = False
      Size = 21
    end
    object cdsFornecedorCDFILIAL: TStringField
      FieldName = 'CDFILIAL'
      EditMask = '>aaaa;0; '
      Size = 4
    end
  end
  object dtsFornecedor: TDataSource
    DataSet = cdsFornecedor
    OnStateChange = dtsFornecedorStateChange
  end
  object qryVdFilial: TADOIBQuery
    Connection = dtmDBGeral.adcGeral
    CursorType = ctKeyset
    LockType = ltReadOnly
    SQL.Strings = (
      'SELECT CDFILIAL, NMFILIAL'
      '  FROM FILIAL'
      ' WHERE CDFILIAL = :P_CDFILIALDES')
    SQL_ORACLE.Strings = (
      'SELECT CDFILIAL')
    object qryVdFilialCDFILIAL: TStringField
      FieldName = 'CDFILIAL'
      Size = 4
    end
  end
  object netTeste: TNetConnection
    ServerName = 'PDI07310.rdmProdDesoneraImpos'
    ThrowException = False
    BeforeConnect = netTesteBeforeConnect
  end
  object msgPadrao: TMessages
    Lines.Strings = (
      'Excl|Confirma exclus'#227'o?'
      'CdForne|Fornecedor|N'#227'o h'#225' Fornecedor Cadastrado.')
  end
end
)";

class LoaderTest : public ::testing::Test {
 protected:
  LoaderTest() {
    auto note = [this](const std::string& what) { return TNotifyEvent([this, what](TObject*) { calls.push_back(what); }); };
    handlers.Add("pgcGradeMouseDown", TMouseEvent([this](TObject*, TMouseButton, TShiftState, int, int) {
                   calls.push_back("mousedown");
                 }));
    handlers.Add("tshEnter", note("tshEnter"));
    handlers.Add("dbgFornecedorKeyPress", TKeyPressEvent([](TObject*, char& k) { k = 0; }));
    handlers.Add("cdsFornecedorBeforePost", TDataSetNotifyEvent([this](TDataSet*) { calls.push_back("beforepost"); }));
    handlers.Add("cdsFornecedorNRINSJURFORNGetText",
                 TFieldGetTextEvent([](TField*, std::string& t, bool) { t = "formatted"; }));
    handlers.Add("dtsFornecedorStateChange", note("statechange"));
    handlers.Add("netTesteBeforeConnect", note("beforeconnect"));
  }

  void Load(std::string_view text) { DescriptionLoader(form, {&handlers}).Load(text); }

  // Applies text to a fresh form, so each fault is checked on its own.
  std::string ErrorOf(std::string_view text) {
    try {
      TForm fresh;
      DescriptionLoader(fresh, {&handlers}).Load(text);
    } catch (const EDescriptionError& e) {
      return e.what();
    }
    return "(no error)";
  }

  template <class T>
  T* Get(const char* name) {
    auto* c = dynamic_cast<T*>(form.FindComponent(name));
    EXPECT_NE(c, nullptr) << name;
    return c;
  }

  TForm form;
  HandlerTable handlers;
  std::vector<std::string> calls;
};

TEST_F(LoaderTest, BuildsTheComponentsTheirPlacesAndProperties) {
  Load(kScreen);
  EXPECT_EQ(form.Name(), "frmTeste");
  EXPECT_EQ(form.Caption(), "Teste de Descrição");
  EXPECT_EQ(form.FormStyle(), TFormStyle::fsMDIChild);
  EXPECT_EQ(form.Left(), 224);
  EXPECT_EQ(form.Menu(), Get<TMainMenu>("mnuMenu"));

  auto* pages = Get<TPageControl>("pgcGrade");
  auto* grid = Get<TDBGrid>("dbgFornecedor");
  EXPECT_EQ(pages->Parent(), &form);
  EXPECT_EQ(grid->Parent(), Get<TTabSheet>("tshFornecedor"));
  EXPECT_EQ(pages->ActivePage(), Get<TTabSheet>("tshCliente")) << "a reference to a component declared later";
  EXPECT_EQ(pages->PageCount(), 2);
  EXPECT_EQ(grid->Color(), "clInfoBk");
  EXPECT_EQ(grid->BorderStyle(), "bsNone");
  EXPECT_EQ(grid->TitleFontHeight(), -11);
  EXPECT_TRUE(grid->Options().Contains(dgTabs));
  EXPECT_FALSE(grid->Options().Contains(dgCancelOnExit));

  auto* cds = Get<TClientDataSet>("cdsFornecedor");
  ASSERT_EQ(cds->FieldCount(), 4);
  EXPECT_EQ(cds->Fields()[0]->Name(), "cdsFornecedorNRINSJURFORN");
  EXPECT_EQ(cds->Fields()[0]->Size(), kDefaultFieldSize);
  EXPECT_EQ(cds->Fields()[1]->Size(), 40);
  EXPECT_EQ(cds->Fields()[1]->DisplayWidth, 65);
  EXPECT_FALSE(cds->Fields()[2]->Visible);
  EXPECT_EQ(cds->Fields()[3]->EditMask, ">aaaa;0; ");
  EXPECT_EQ(grid->DataSet(), cds);
  ASSERT_EQ(grid->ColumnCount(), 2);
  EXPECT_EQ(grid->Columns()[0]->TitleText(), "Código");
  EXPECT_TRUE(grid->Columns()[1]->ReadOnly());
  EXPECT_EQ(grid->Columns()[1]->Width(), 380);

  auto* query = Get<TADOIBQuery>("qryVdFilial");
  EXPECT_EQ(query->SQL().size(), 3u);
  EXPECT_EQ(query->SQL_ORACLE(), std::vector<std::string>{"SELECT CDFILIAL"});
  EXPECT_NO_THROW(query->ParamByName("P_CDFILIALDES"));
  EXPECT_EQ(query->FieldByName("CDFILIAL")->Size(), 4);

  auto* net = Get<TNetConnection>("netTeste");
  EXPECT_EQ(net->ServerName(), "PDI07310.rdmProdDesoneraImpos");
  EXPECT_FALSE(net->ThrowException);
  EXPECT_EQ(Get<TMessages>("msgPadrao")->Title("cdforne"), "Fornecedor");
  EXPECT_EQ(Get<TMessages>("msgPadrao")->Msg("CdForne"), "Não há Fornecedor Cadastrado.");

  auto* listagem = Get<TMenuItem>("mnuListagem");
  EXPECT_FALSE(listagem->Enabled());
  EXPECT_EQ(listagem->ParentItem(), Get<TMenuItem>("mnuOperacao"));
  EXPECT_EQ(Get<TSplitter>("Splitter1")->ResizeStyle(), TResizeStyle::rsNone);
}

TEST_F(LoaderTest, EventsAreBoundToTheNamedHandlers) {
  Load(kScreen);
  auto* cds = Get<TClientDataSet>("cdsFornecedor");
  cds->Open();
  cds->Append();
  cds->Post();
  Get<TPageControl>("pgcGrade")->PressTab(Get<TTabSheet>("tshFornecedor"));
  EXPECT_EQ(cds->Fields()[0]->Text(true), "formatted");
  char key = 'x';
  Get<TDBGrid>("dbgFornecedor")->OnKeyPress(nullptr, key);
  EXPECT_EQ(key, 0);
  Get<TNetConnection>("netTeste")->BeforeConnect(nullptr);
  EXPECT_EQ(calls, (std::vector<std::string>{"statechange", "statechange", "beforepost", "statechange", "mousedown",
                                             "beforeconnect"}));
}

TEST_F(LoaderTest, TheFirstTableThatHoldsANameWins) {
  HandlerTable screen;
  int screenCalls = 0;
  screen.Add("tshEnter", TNotifyEvent([&](TObject*) { ++screenCalls; }));
  DescriptionLoader(form, {&screen, &handlers}).Load(kScreen);
  Get<TTabSheet>("tshFornecedor")->OnEnter(nullptr);
  EXPECT_EQ(screenCalls, 1);
  EXPECT_TRUE(calls.empty());
}

TEST_F(LoaderTest, HandlerFaultsNameTheLineTheComponentAndTheEvent) {
  EXPECT_EQ(ErrorOf("object f: TForm\n  object cdsProduto: TClientDataSet\n    BeforeEdit = cdsProdutoBeforeEdt\n  end\nend\n"),
            "line 3: handler 'cdsProdutoBeforeEdt' for cdsProduto.BeforeEdit not found");
  EXPECT_EQ(ErrorOf("object f: TForm\n  object cds: TClientDataSet\n    BeforePost = tshEnter\n  end\nend\n"),
            "line 3: handler 'tshEnter' for cds.BeforePost is a TNotifyEvent, but the event needs a TDataSetNotifyEvent");
  EXPECT_EQ(ErrorOf("object f: TForm\n  OnCreate = 'FormCreate'\nend\n"),
            "line 2: f.OnCreate: expects the name of a handler");
}

TEST_F(LoaderTest, UnknownNamesAreFaultsButPlatformNoiseIsAccepted) {
  EXPECT_EQ(ErrorOf("object f: TForm\n  object pan: TPanel\n    Captoin = 'x'\n  end\nend\n"),
            "line 3: unknown property 'Captoin' of 'pan'");
  EXPECT_EQ(ErrorOf("object f: TForm\n  object x: TEdit\n  end\nend\n"), "line 2: unknown class 'TEdit' of 'x'");
  EXPECT_EQ(ErrorOf("object f: TForm\n  object pan: TPanel\n    Align = alMiddle\n  end\nend\n"),
            "line 3: pan.Align: unknown value 'alMiddle' (expected one of alNone, alTop, alBottom, alLeft, alRight, "
            "alClient, alCustom)");
  EXPECT_EQ(ErrorOf("object f: TForm\n  object pan: TPanel\n    Width = 'wide'\n  end\nend\n"),
            "line 3: pan.Width: expects an integer, found string");
  EXPECT_EQ(ErrorOf(R"(object f: TForm
  object pan: TPanel
    ParentFont = False
    Font.Name = 'Arial'
    TabOrder = 2
    Cursor = crHandPoint
    BevelOuter = bvNone
    ExplicitWidth = 10
  end
  object qry: TADOIBQuery
    CursorLocation = clUseClient
    CacheSize = 1
    ParamCheck = True
    Prepared = False
    MaxRecords = 0
    Database = dtmDBGeral.dtbGeral
    Transaction = dtmDBGeral.ibtGeral
  end
end
)"),
            "(no error)");
}

TEST_F(LoaderTest, StructuralFaultsAreNamed) {
  EXPECT_EQ(ErrorOf("object f: TForm\n  inherited dbgPadrao: TDBGrid\n  end\nend\n"),
            "line 2: inherited component 'dbgPadrao' not found");
  EXPECT_EQ(ErrorOf("object f: TForm\n  object a: TPanel\n  end\n  object a: TPanel\n  end\nend\n"),
            "line 4: component name 'a' is already used");
  EXPECT_EQ(ErrorOf("object f: TForm\n  object a: TPanel\n    object fld: TStringField\n      FieldName = 'X'\n    end\n  end\nend\n"),
            "line 3: field 'fld' must lie inside a record set");
  EXPECT_EQ(ErrorOf("object f: TForm\n  object cds: TClientDataSet\n    object fld: TStringField\n    end\n  end\nend\n"),
            "line 3: field 'fld' needs a FieldName");
  EXPECT_EQ(ErrorOf("object f: TForm\n  object cds: TClientDataSet\n    object pan: TPanel\n    end\n  end\nend\n"),
            "line 3: control 'pan' must lie inside a control, not 'cds'");
  EXPECT_EQ(ErrorOf("object f: TForm\n  object tsh: TTabSheet\n  end\nend\n"),
            "line 2: tab sheet 'tsh' must lie inside a page control, not 'f'");
  EXPECT_EQ(ErrorOf("object f: TForm\n  object dts: TDataSource\n    DataSet = cdsNada\n  end\nend\n"),
            "line 3: component 'cdsNada' for dts.DataSet not found");
  EXPECT_EQ(ErrorOf("object f: TForm\n  object pan: TPanel\n  end\n  object dts: TDataSource\n    DataSet = pan\n  end\nend\n"),
            "line 5: 'pan' for dts.DataSet is not a record set");
  EXPECT_EQ(ErrorOf("object f: TForm\n  object cds: TClientDataSet\n    object fld: TStringField\n      FieldName = 'X'\n"
                    "      EditMask = '99\\'\n    end\n  end\nend\n")
                .substr(0, 22),
            "line 5: fld.EditMask: ");
  EXPECT_EQ(ErrorOf("object f: TForm\n  object cds: TClientDataSet\n    object fld: TStringField\n      FieldName = 'X'\n"
                    "    end\n    object fld2: TStringField\n      FieldName = 'x'\n    end\n  end\nend\n")
                .substr(0, 8),
            "line 6: ");
}

TEST_F(LoaderTest, GridColumnsMustNameFieldsOfTheirRecordSet) {
  EXPECT_EQ(ErrorOf(R"(object f: TForm
  object dbg: TDBGrid
    DataSource = dts
    Columns = <
      item
        FieldName = 'NOME'
      end>
  end
  object dts: TDataSource
    DataSet = cds
  end
  object cds: TClientDataSet
    object cdsNM: TStringField
      FieldName = 'NM'
    end
  end
end
)"),
            "line 5: column field 'NOME' of 'dbg' not found in 'cds'");
}

TEST_F(LoaderTest, InheritedControlsStayOrMoveAsTheirNestingSays) {
  Load(R"(object frmBase: TfrmBase
  object pgcPadrao: TPageControl
    object tshPadrao: TTabSheet
      object dbgPadrao: TDBGrid
      end
    end
  end
  object panMenu: TPanel
    object lblCodTela: TLabel
    end
  end
end
)");
  Load(R"(inherited frmDerivado: TfrmDerivado
  inherited lblCodTela: TLabel
    Caption = 'PDI07310'
  end
  inherited pgcPadrao: TPageControl
    inherited tshPadrao: TTabSheet
      object scbFolhaDados: TScrollBox
        Align = alClient
        inherited dbgPadrao: TDBGrid
          Align = alTop
          Height = 177
        end
      end
    end
  end
end
)");
  EXPECT_EQ(form.Name(), "frmDerivado");
  auto* label = Get<TControl>("lblCodTela");
  EXPECT_EQ(label->Parent(), Get<TControl>("panMenu")) << "an inherited control written at an outer level stays put";
  EXPECT_EQ(label->Caption(), "PDI07310");
  auto* grid = Get<TDBGrid>("dbgPadrao");
  EXPECT_EQ(grid->Parent(), Get<TScrollBox>("scbFolhaDados"));
  EXPECT_EQ(grid->Height(), 177);
  try {
    Load("inherited f: TForm\n  inherited dbgPadrao: TPanel\n  end\nend\n");
    FAIL() << "a class mismatch must fail";
  } catch (const EDescriptionError& e) {
    EXPECT_STREQ(e.what(), "line 2: inherited component 'dbgPadrao' is not a TPanel");
  }
}

}  // namespace
}  // namespace host
