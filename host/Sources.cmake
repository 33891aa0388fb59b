# The sources of host/, relative to this folder: the one list that the native build
# (host/CMakeLists.txt) and the browser build (web/CMakeLists.txt) both take.
#   PDI_WIRE_SOURCES         the wire protocol, shared with the server
#   PDI_HOST_SOURCES         the platform, native and browser alike
#   PDI_HOST_NATIVE_SOURCES  the native builds only: the HTTP transport and its decoder of
#                            compressed answers (the browser uses fetch, which decodes itself),
#                            the local database's download (the page keeps it in the browser's
#                            storage), the desktop's sign-in (the page signs in at /login itself)
#                            and the loader of shared modules (the browser links the module in)
set(PDI_WIRE_SOURCES
  wire/ChangePacketReader.cpp
  wire/EscapedText.cpp
  wire/JsonRpcRequest.cpp
  wire/JsonRpcResponse.cpp
  wire/PacketWriter.cpp
  wire/RawResult.cpp)
set(PDI_HOST_SOURCES
  controls/Application.cpp
  controls/ButtonFlat.cpp
  controls/Column.cpp
  controls/Control.cpp
  controls/DBGrid.cpp
  controls/DBText.cpp
  controls/Form.cpp
  controls/GridUtils.cpp
  controls/Label.cpp
  controls/MainMenu.cpp
  controls/MenuItem.cpp
  controls/Observable.cpp
  controls/PageControl.cpp
  controls/Panel.cpp
  controls/Screen.cpp
  controls/ScrollBox.cpp
  controls/Splitter.cpp
  controls/TabSheet.cpp
  core/Component.cpp
  data/ClientDataSet.cpp
  data/DataSet.cpp
  data/DataSource.cpp
  data/DecodedAnswer.cpp
  data/Field.cpp
  data/FieldIndex.cpp
  data/FilterExpression.cpp
  data/PacketReader.cpp
  data/RawResult.cpp
  data/RowReader.cpp
  data/RowStore.cpp
  data/Variant.cpp
  db/ADOIBQuery.cpp
  db/DtmDBGeral.cpp
  forms/DescriptionLoader.cpp
  forms/DescriptionParser.cpp
  forms/FrmPadraoGrid.cpp
  forms/HandlerTable.cpp
  net/AnswerBuilder.cpp
  net/AnswerDecoder.cpp
  net/AnswerTokenizer.cpp
  net/NetConnection.cpp
  net/NetExchange.cpp
  net/PlainRows.cpp
  services/CollectingHost.cpp
  services/HostLib.cpp
  services/ScriptedHost.cpp
  text/EditMask.cpp
  text/MessageDialog.cpp
  text/Messages.cpp
  tools/ListExport.cpp
  tools/ListPaste.cpp
  tools/ScreenLists.cpp)
set(PDI_HOST_NATIVE_SOURCES
  module/ModuleLoader.cpp
  net/ContentDecoder.cpp
  net/HttpTransport.cpp
  net/LocalDatabaseDownload.cpp
  net/SignIn.cpp)
