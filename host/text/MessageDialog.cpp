#include "host/text/MessageDialog.h"

#include <utility>

namespace host {

namespace {
TMessageDialogHandler& Handler() {
  static TMessageDialogHandler handler;
  return handler;
}
}  // namespace

void SetMessageDialogHandler(TMessageDialogHandler handler) { Handler() = std::move(handler); }

int ShowMessageDialog(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons,
                      int helpContext) {
  const TMessageDialogHandler& handler = Handler();
  if (!handler) {
    throw EPlatformError("Nenhum serviço do host instalado para mostrar a pergunta \"" + text +
                         "\"");
  }
  return handler(text, type, buttons, helpContext);
}

}  // namespace host
