// The host's shared library as screens call it: free functions named as the platform names them,
// dispatching to the installed HostServices (dialogs, busy animation, pick list, settings), plus
// the few text helpers that need no host at all.
//
// Thread rules: everything here runs on the user-interface thread only; the installed services
// and the busy-animation nesting count are process-wide.
#pragma once

#include <string>
#include <string_view>

#include "host/core/Component.h"
#include "host/data/Variant.h"
#include "host/services/HostServices.h"
#include "host/text/MessageDialog.h"

namespace host {

// A remote call refused by the server (a raw result {"ok":false,...}) or whose raw result could
// not be read. The message is the server's message, or says what was wrong with the result.
class ERemoteError : public EPlatformError {
 public:
  using EPlatformError::EPlatformError;
};

// ---- Installation ------------------------------------------------------------------------------

// Installs the host services (null uninstalls them) and the message-dialog handler that
// TMessages::ShowMsg uses. Resets the busy-animation nesting count.
// REQUIRES: services outlives its installation.
void SetHostServices(HostServices* services);
// The installed host services. Raises EPlatformError when none is installed.
HostServices& Services();

// ---- Dialogs -----------------------------------------------------------------------------------

// Shows the error dialog with text; then, when abort is true, throws the silent abort (EAbort),
// which ends the caller's operation without a second message.
void MensErro(const std::string& text, bool abort = true);

// Asks a modal question; returns the modal result (mrYes = 6, mrNo = 7, ...).
int MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons,
               int helpContext = 0);

// The result check every remote answer passes through. `raw` is the raw result as the connection
// returns it (a Text variant holding {"ok":true,"data":…} or {"ok":false,"error":"…"}).
// Returns the data of a successful result. On a refused result, or a raw result that cannot be
// read (not text, malformed, not of that shape), it reports the message through
// ReportResultError when `report` is true and then throws ERemoteError carrying it; it never
// returns on failure. helpContext is accepted for the platform's signature and not used.
Variant CheckResultServ(const Variant& raw, bool report = true, int helpContext = 0);

// Modal pick list over source's rows with text (the pick list's message); true when a row was
// chosen, which is then the current row of source's data set. REQUIRES: source is not null.
bool Pesquisar_Plus(TDataSource* source, const std::string& text, bool flag1, bool flag2);
// The host's search dialog over an open data set. REQUIRES: dataSet is not null.
void Procura(TDataSet* dataSet);

// ---- Busy animation ----------------------------------------------------------------------------

// Shows the busy animation of `kind` over mainForm, with caption when not empty. A second show
// while one is up is allowed: it updates the animation and counts one more nesting level.
void ActiveShowAvi(TForm* mainForm, int kind, const std::string& caption = "");
// Hides the busy animation, however many shows are nested; harmless when it is hidden.
void DeactiveShowAvi();
// True while the busy animation is shown.
bool AviActive();

// ---- Settings ----------------------------------------------------------------------------------

std::string DBPict(int pictType);
std::string WebURL();
int WebPort();
// The host's access token for the application server; "" when it has none or no host services
// are installed (so a connection used without a host sends no token).
std::string AccessToken();
// The host's CA file and its permission to send a token in clear; "" / false without host
// services.
std::string CaFile();
bool Insecure();
// The host's person may only look (see HostServices::ReadOnlyAccess); false without host services.
bool ReadOnlyAccess();

// ---- Text helpers (no host needed) -------------------------------------------------------------

// True when text is empty or holds only blanks and control characters.
bool EmptyString(std::string_view text);
// text fitted to width characters (UTF-8 characters, never a split one): cut to its first width
// characters when longer, returned unchanged when it fits or is shorter (no padding); a width of
// 0 or less gives "".
std::string Ajusta(std::string_view text, int width);
// The edit mask of a person type's taxpayer number: "J" (company, CNPJ) ->
// "99.999.999/9999-99;0;_", "F" (individual, CPF) -> "999.999.999-99;0;_"; any other code, the
// empty one included, -> "" (no mask: the number is shown unchanged).
std::string PictPess(std::string_view personType);

}  // namespace host
