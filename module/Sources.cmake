# The sources of the screen module, relative to the repository's root: the one list that the
# native build (module/CMakeLists.txt) and the browser build (web/CMakeLists.txt) both take.
set(PDI_SCREEN_SOURCES
  module/Module.cpp
  products/Enabling.cpp
  products/InsertCommand.cpp
  products/Loading.cpp
  products/ProductEntry.cpp
  products/ToolbarCommands.cpp
  related/GridNavigation.cpp
  related/RelatedList.cpp
  related/TaxpayerDisplay.cpp
  remote/RemoteFrames.cpp
  screen/ProdDesoneraImpos.cpp)
