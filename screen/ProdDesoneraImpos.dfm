inherited frmProdDesoneraImpos: TfrmProdDesoneraImpos
  Left = 224
  Top = 156
  Width = 559
  Height = 491
  Caption = 'Produtos para Desonera'#231#227'o de Impostos'
  FormStyle = fsMDIChild
  inherited panMenu: TPanel
    inherited sbtIncluir: TButtonFlat
      Left = 5
      Width = 20
    end
  end
  inherited pgcPadrao: TPageControl
    inherited tshPadrao: TTabSheet
      object scbFolhaDados: TScrollBox
        Align = alClient
        BorderStyle = bsNone
        inherited dbgPadrao: TDBGrid
          Align = alTop
          Height = 177
          DataSource = dtsPadrao
          Columns = <
            item
              FieldName = 'CDARVPROD'
            end
            item
              FieldName = 'NMPRODUTO'
              ReadOnly = True
            end>
          OnColExit = dbgPadraoColExit
          OnEditButtonClick = dbgPadraoEditButtonClick
          OnEnter = dbgPadraoEnter
          OnExit = dbgPadraoExit
        end
        object Splitter1: TSplitter
          Align = alTop
          Height = 4
          Cursor = crVSplit
          ResizeStyle = rsNone
        end
        object pgcGrade: TPageControl
          Align = alClient
          ActivePage = tshFornecedor
          OnMouseDown = pgcGradeMouseDown
          object tshFornecedor: TTabSheet
            Caption = 'Fornecedor'
            OnEnter = tshFornecedorEnter
            object panFornecedor: TPanel
              Align = alClient
              BevelOuter = bvNone
              object scbFornecedor: TScrollBox
                Align = alClient
                BorderStyle = bsNone
                object dbgFornecedor: TDBGrid
                  Align = alClient
                  BorderStyle = bsNone
                  Color = clInfoBk
                  DataSource = dtsFornecedor
                  Options = [dgEditing, dgTitles, dgColumnResize, dgColLines, dgRowLines, dgTabs, dgAlwaysShowSelection, dgConfirmDelete]
                  TitleFont.Name = 'MS Sans Serif'
                  TitleFont.Height = -11
                  Columns = <
                    item
                      FieldName = 'NRINSJURFORN'
                    end
                    item
                      FieldName = 'NMRAZSOCFORN'
                      ReadOnly = True
                      Width = 380
                    end>
                  OnColExit = dbgFornecedorColExit
                  OnEditButtonClick = dbgFornecedorEditButtonClick
                  OnEnter = dbgFornecedorEnter
                  OnExit = dbgFornecedorExit
                  OnKeyDown = dbgPadraoKeyDown
                  OnKeyPress = dbgFornecedorKeyPress
                end
              end
            end
          end
          object tshCliente: TTabSheet
            Caption = 'Cliente'
            OnEnter = tshClienteEnter
            object panCliente: TPanel
              Align = alClient
              BevelOuter = bvNone
              object scbCliente: TScrollBox
                Align = alClient
                BorderStyle = bsNone
                object dbgCliente: TDBGrid
                  Align = alClient
                  BorderStyle = bsNone
                  Color = clInfoBk
                  DataSource = dtsCliente
                  Options = [dgEditing, dgTitles, dgColumnResize, dgColLines, dgRowLines, dgTabs, dgAlwaysShowSelection, dgConfirmDelete]
                  TitleFont.Name = 'MS Sans Serif'
                  TitleFont.Height = -11
                  Columns = <
                    item
                      FieldName = 'NRINSJURCLIE'
                    end
                    item
                      FieldName = 'NMRAZSOCCLIE'
                      ReadOnly = True
                      Width = 380
                    end>
                  OnColExit = dbgClienteColExit
                  OnEditButtonClick = dbgClienteEditButtonClick
                  OnEnter = dbgClienteEnter
                  OnExit = dbgClienteExit
                  OnKeyDown = dbgPadraoKeyDown
                  OnKeyPress = dbgClienteKeyPress
                end
              end
            end
          end
          object tshFilial: TTabSheet
            Caption = 'Filial'
            OnEnter = tshFilialEnter
            object panFilial: TPanel
              Align = alClient
              BevelOuter = bvNone
              object scbFilial: TScrollBox
                Align = alClient
                BorderStyle = bsNone
                object dbgFilial: TDBGrid
                  Align = alClient
                  BorderStyle = bsNone
                  Color = clInfoBk
                  DataSource = dtsFilial
                  Options = [dgEditing, dgTitles, dgColumnResize, dgColLines, dgRowLines, dgTabs, dgAlwaysShowSelection, dgConfirmDelete]
                  TitleFont.Name = 'MS Sans Serif'
                  TitleFont.Height = -11
                  Columns = <
                    item
                      FieldName = 'CDFILIALDES'
                      Width = 63
                    end
                    item
                      FieldName = 'NMFILIAL'
                      ReadOnly = True
                      Width = 452
                    end>
                  OnColExit = dbgFilialColExit
                  OnEditButtonClick = dbgFilialEditButtonClick
                  OnEnter = dbgFilialEnter
                  OnExit = dbgFilialExit
                  OnKeyDown = dbgPadraoKeyDown
                end
              end
            end
          end
        end
      end
    end
  end
  inherited panNavigator: TPanel
    object dbtNome: TDBText
      DataSource = dtsPadrao
      DataField = 'NMPRODUTO'
    end
  end
  inherited mnuMenu: TMainMenu
    inherited mnuOperacao: TMenuItem
      inherited mnuListagem: TMenuItem
        Enabled = False
        Visible = False
      end
      inherited mnuConfigImpressora: TMenuItem
        Enabled = False
        Visible = False
      end
    end
  end
  inherited lblCodTela: TLabel
    Caption = 'PDI07310'
  end
  inherited dtsPadrao: TDataSource
    DataSet = cdsProduto
  end
  inherited msgPadrao: TMessages
    Lines.Strings = (
      'Excl|Confirma exclus'#227'o?'
      'CdProd|Produto|N'#227'o h'#225' Produto cadastrado.'
      'CdForne|Fornecedor|N'#227'o h'#225' Fornecedor Cadastrado.'
      'Inf_Prod|Produto deve ser informado.'
      'Prod_Cad|Produto j'#225' cadastrado.'
      'Inf_F|Fornecedor deve ser informado.'
      'Prod_n_cad|Produto n'#227'o cadastrado.'
      'inf_Filial|Filial deve ser informada.'
      'inf_Cliente|Cliente deve ser informado.'
      'CdCli|Cliente|N'#227'o h'#225' Cliente Cadastrado.'
      'CdFil|Filial|N'#227'o h'#225' Filial Cadastrada.'
      'For_NCad|Fornecedor n'#227'o cadastrado.'
      'Forne_Rel|Fornecedor j'#225' cadastrado para o produto.'
      'cli_NCad|Cliente n'#227'o cadastrado.'
      'cli_Rel|Cliente j'#225' cadastrado para o produto.'
      'fil_NCad|Filial n'#227'o cadastrada.'
      'fil_Rel|Filial j'#225' cadastrada para o produto.'
      'Excl_Prod|A exclus'#227'o do produto ir'#225' excluir tamb'#233'm os fornecedores, clientes e filiais relacionados. Tem certeza que deseja excluir?'
      'Excl_For|Deseja excluir o Fornecedor selecionado?'
      'Excl_Cli|Deseja excluir o Cliente selecionado.'
      'Excl_Fil|Deseja excluir a Filial selecionada?')
  end
  object netProdDeso: TNetConnection
    ServerName = 'PDI07310.rdmProdDesoneraImpos'
    ThrowException = False
    BeforeConnect = netProdDesoBeforeConnect
  end
  object cdsProduto: TClientDataSet
    RemoteServer = netProdDeso
    BeforeEdit = cdsProdutoBeforeEdit
    BeforePost = cdsProdutoBeforePost
    AfterCancel = cdsProdutoAfterCancel
    AfterDelete = cdsProdutoAfterDelete
    AfterScroll = cdsProdutoAfterScroll
    object cdsProdutoCDARVPROD: TStringField
      FieldName = 'CDARVPROD'
      DisplayLabel = 'C'#243'digo'
      EditMask = '#999999999'
      Size = 20
    end
    object cdsProdutoCDPRODUTO: TStringField
      FieldName = 'CDPRODUTO'
      Visible = False
      Size = 10
    end
    object cdsProdutoNMPRODUTO: TStringField
      FieldName = 'NMPRODUTO'
      DisplayLabel = 'Nome'
      Size = 50
    end
  end
  object cdsFornecedor: TClientDataSet
    RemoteServer = netProdDeso
    BeforeEdit = cdsFornecedorBeforeEdit
    BeforePost = cdsFornecedorBeforePost
    AfterPost = cdsFornecedorAfterPost
    AfterCancel = cdsFornecedorAfterCancel
    AfterDelete = cdsFornecedorAfterDelete
    object cdsFornecedorCDPRODUTODES: TStringField
      FieldName = 'CDPRODUTODES'
      Visible = False
      Size = 10
    end
    object cdsFornecedorCDFORNECEDDES: TStringField
      FieldName = 'CDFORNECEDDES'
      DisplayWidth = 23
      Visible = False
      Size = 20
    end
    object cdsFornecedorNMRAZSOCFORN: TStringField
      FieldName = 'NMRAZSOCFORN'
      DisplayLabel = 'Nome'
      DisplayWidth = 65
      Size = 40
    end
    object cdsFornecedorIDTPIJURFORN: TStringField
      FieldName = 'IDTPIJURFORN'
      Visible = False
      Size = 1
    end
    object cdsFornecedorCDFORNECED: TStringField
      FieldName = 'CDFORNECED'
      Visible = False
      Size = 21
    end
    object cdsFornecedorNRINSJURFORN: TStringField
      FieldName = 'NRINSJURFORN'
      DisplayLabel = 'C'#243'digo'
      Size = 20
      OnGetText = cdsFornecedorNRINSJURFORNGetText
    end
  end
  object cdsCliente: TClientDataSet
    RemoteServer = netProdDeso
    BeforeEdit = cdsClienteBeforeEdit
    BeforePost = cdsClienteBeforePost
    AfterPost = cdsClienteAfterPost
    AfterCancel = cdsClienteAfterCancel
    AfterDelete = cdsClienteAfterDelete
    object cdsClienteCDPRODUTODES: TStringField
      FieldName = 'CDPRODUTODES'
      Visible = False
      Size = 10
    end
    object cdsClienteCDCLIENTEDES: TStringField
      FieldName = 'CDCLIENTEDES'
      DisplayWidth = 23
      Visible = False
      Size = 20
    end
    object cdsClienteCDCLIENTE: TStringField
      FieldName = 'CDCLIENTE'
      Visible = False
      Size = 21
    end
    object cdsClienteNRINSJURCLIE: TStringField
      FieldName = 'NRINSJURCLIE'
      DisplayLabel = 'C'#243'digo'
      Size = 20
      OnGetText = cdsClienteNRINSJURCLIEGetText
    end
    object cdsClienteNMRAZSOCCLIE: TStringField
      FieldName = 'NMRAZSOCCLIE'
      DisplayLabel = 'Nome'
      DisplayWidth = 65
      Size = 50
    end
    object cdsClienteIDTPIJURCLIE: TStringField
      FieldName = 'IDTPIJURCLIE'
      Visible = False
      Size = 1
    end
  end
  object cdsFilial: TClientDataSet
    RemoteServer = netProdDeso
    BeforeEdit = cdsFilialBeforeEdit
    BeforePost = cdsFilialBeforePost
    AfterPost = cdsFilialAfterPost
    AfterCancel = cdsFilialAfterCancel
    AfterDelete = cdsFilialAfterDelete
    object cdsFilialCDPRODUTODES: TStringField
      FieldName = 'CDPRODUTODES'
      Visible = False
      Size = 10
    end
    object cdsFilialCDFILIALDES: TStringField
      FieldName = 'CDFILIALDES'
      DisplayLabel = 'C'#243'digo'
      DisplayWidth = 6
      EditMask = '>aaaa;0; '
      Size = 4
    end
    object cdsFilialNMFILIAL: TStringField
      FieldName = 'NMFILIAL'
      DisplayLabel = 'Nome'
      DisplayWidth = 77
      Size = 30
    end
  end
  object dtsFornecedor: TDataSource
    DataSet = cdsFornecedor
    OnStateChange = dtsFornecedorStateChange
  end
  object dtsCliente: TDataSource
    DataSet = cdsCliente
    OnStateChange = dtsClienteStateChange
  end
  object dtsFilial: TDataSource
    DataSet = cdsFilial
    OnStateChange = dtsFilialStateChange
  end
  object cdsVd_Produto: TClientDataSet
    object cdsVd_ProdutoCDPRODUTO: TStringField
      FieldName = 'CDPRODUTO'
      Size = 10
    end
  end
  object cdsVd_Fornecedor: TClientDataSet
    object cdsVd_FornecedorCDPRODUTO: TStringField
      FieldName = 'CDPRODUTO'
      Size = 10
    end
    object cdsVd_FornecedorCDFORNECED: TStringField
      FieldName = 'CDFORNECED'
      Size = 21
    end
  end
  object cdsVd_Cliente: TClientDataSet
    object cdsVd_ClienteCDPRODUTO: TStringField
      FieldName = 'CDPRODUTO'
      Size = 10
    end
    object cdsVd_ClienteCDCLIENTE: TStringField
      FieldName = 'CDCLIENTE'
      Size = 21
    end
  end
  object cdsVd_Filial: TClientDataSet
    object cdsVd_FilialCDPRODUTO: TStringField
      FieldName = 'CDPRODUTO'
      Size = 10
    end
    object cdsVd_FilialCDFILIAL: TStringField
      FieldName = 'CDFILIAL'
      Size = 21
    end
  end
  object qryProduto: TADOIBQuery
    SQL.Strings = (
      'SELECT CDPRODUTO, CDARVPROD, NMPRODUTO'
      '  FROM PRODUTO'
      'ORDER BY CDARVPROD ')
    object qryProdutoCDPRODUTO: TStringField
      FieldName = 'CDPRODUTO'
      Visible = False
      Size = 10
    end
    object qryProdutoCDARVPROD: TStringField
      FieldName = 'CDARVPROD'
      DisplayLabel = 'C'#243'digo'
      Size = 20
    end
    object qryProdutoNMPRODUTO: TStringField
      FieldName = 'NMPRODUTO'
      DisplayLabel = 'Nome'
      Size = 50
    end
  end
  object dtsProduto: TDataSource
    DataSet = qryProduto
  end
  object qryFornecedor: TADOIBQuery
    SQL.Strings = (
      'SELECT NRINSJURFORN, NMRAZSOCFORN, IDTPIJURFORN, CDFORNECED'
      '  FROM FORNECEDOR'
      ' ORDER BY NMRAZSOCFORN')
    object qryFornecedorNRINSJURFORN: TStringField
      FieldName = 'NRINSJURFORN'
      DisplayLabel = 'C'#243'digo'
      DisplayWidth = 25
      Size = 20
      OnGetText = qryFornecedorNRINSJURFORNGetText
    end
    object qryFornecedorNMRAZSOCFORN: TStringField
      FieldName = 'NMRAZSOCFORN'
      DisplayLabel = 'Nome'
      DisplayWidth = 45
      Size = 40
    end
    object qryFornecedorIDTPIJURFORN: TStringField
      FieldName = 'IDTPIJURFORN'
      Visible = False
      Size = 1
    end
    object qryFornecedorCDFORNECED: TStringField
      FieldName = 'CDFORNECED'
      Visible = False
      Size = 21
    end
  end
  object dtsForn: TDataSource
    DataSet = qryFornecedor
  end
  object qryCliente: TADOIBQuery
    SQL.Strings = (
      'SELECT NRINSJURCLIE, NMRAZSOCCLIE, IDTPIJURCLIE, CDCLIENTE'
      '  FROM CLIENTE'
      ' ORDER BY NMRAZSOCCLIE')
    object qryClienteNRINSJURCLIE: TStringField
      FieldName = 'NRINSJURCLIE'
      DisplayLabel = 'C'#243'digo'
      DisplayWidth = 25
      Size = 20
      OnGetText = qryClienteNRINSJURCLIEGetText
    end
    object qryClienteNMRAZSOCCLIE: TStringField
      FieldName = 'NMRAZSOCCLIE'
      DisplayLabel = 'Nome'
      DisplayWidth = 53
      Size = 50
    end
    object qryClienteIDTPIJURCLIE: TStringField
      FieldName = 'IDTPIJURCLIE'
      Visible = False
      Size = 1
    end
    object qryClienteCDCLIENTE: TStringField
      FieldName = 'CDCLIENTE'
      Visible = False
      Size = 21
    end
  end
  object dtsCli: TDataSource
    DataSet = qryCliente
  end
  object qryFilial: TADOIBQuery
    SQL.Strings = (
      'SELECT CDFILIAL, NMFILIAL'
      '  FROM FILIAL'
      ' ORDER BY CDFILIAL')
    object qryFilialCDFILIAL: TStringField
      FieldName = 'CDFILIAL'
      DisplayLabel = 'C'#243'digo'
      DisplayWidth = 10
      Size = 21
    end
    object qryFilialNMFILIAL: TStringField
      FieldName = 'NMFILIAL'
      DisplayLabel = 'Nome'
      DisplayWidth = 50
      Size = 30
    end
  end
  object dtsFil: TDataSource
    DataSet = qryFilial
  end
  object qryValidaProd: TADOIBQuery
    SQL.Strings = (
      'SELECT'
      '   CDARVPROD,'
      '   CDPRODUTO,'
      '   NMPRODUTO'
      'FROM'
      '   PRODUTO'
      'WHERE'
      '   (CDARVPROD  = :P_CDARVPROD)'
      'ORDER BY'
      '   CDPRODUTO')
    object qryValidaProdCDARVPROD: TStringField
      FieldName = 'CDARVPROD'
      Size = 20
    end
    object qryValidaProdCDPRODUTO: TStringField
      FieldName = 'CDPRODUTO'
      Size = 10
    end
    object qryValidaProdNMPRODUTO: TStringField
      FieldName = 'NMPRODUTO'
      Size = 50
    end
  end
  object qryVdFornecedor: TADOIBQuery
    SQL.Strings = (
      'SELECT NRINSJURFORN, NMRAZSOCFORN, CDFORNECED'
      '  FROM FORNECEDOR'
      ' WHERE NRINSJURFORN = :P_NRINSJURFORN')
    object qryVdFornecedorNRINSJURFORN: TStringField
      FieldName = 'NRINSJURFORN'
      Size = 20
    end
    object qryVdFornecedorNMRAZSOCFORN: TStringField
      FieldName = 'NMRAZSOCFORN'
      Size = 21
    end
    object qryVdFornecedorCDFORNECED: TStringField
      FieldName = 'CDFORNECED'
      Size = 21
    end
  end
  object qryVdCliente: TADOIBQuery
    SQL.Strings = (
      'SELECT NRINSJURCLIE, NMRAZSOCCLIE, CDCLIENTE'
      '  FROM CLIENTE'
      ' WHERE NRINSJURCLIE = :P_NRINSJURCLIE')
    object qryVdClienteNRINSJURCLIE: TStringField
      FieldName = 'NRINSJURCLIE'
      Size = 20
    end
    object qryVdClienteNMRAZSOCCLIE: TStringField
      FieldName = 'NMRAZSOCCLIE'
      Size = 21
    end
    object qryVdClienteCDCLIENTE: TStringField
      FieldName = 'CDCLIENTE'
      Size = 21
    end
  end
  object qryVdFilial: TADOIBQuery
    SQL.Strings = (
      'SELECT CDFILIAL, NMFILIAL'
      '  FROM FILIAL'
      ' WHERE CDFILIAL = :P_CDFILIALDES')
    SQL_ORACLE.Strings = (
      'SELECT CDFILIAL'
      '  FROM FILIAL'
      ' WHERE CDFILIAL = :P_CDFILIALDES')
    object qryVdFilialCDFILIAL: TStringField
      FieldName = 'CDFILIAL'
      Size = 4
    end
    object qryVdFilialNMFILIAL: TStringField
      FieldName = 'NMFILIAL'
      Size = 30
    end
  end
end
