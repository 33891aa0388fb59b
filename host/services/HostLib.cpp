#include "host/services/HostLib.h"

#include "host/data/RawResult.h"
#include "host/data/TextLimit.h"

namespace host {

namespace {

struct HostState {
  HostServices* services = nullptr;
  int aviDepth = 0;
};

HostState& State() {
  static HostState state;
  return state;
}

}  // namespace

void SetHostServices(HostServices* services) {
  HostState& s = State();
  s.services = services;
  s.aviDepth = 0;
  if (services) {
    SetMessageDialogHandler(
        [](const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext) {
          return Services().MessageDlg(text, type, buttons, helpContext);
        });
  } else {
    SetMessageDialogHandler({});
  }
}

HostServices& Services() {
  HostServices* s = State().services;
  if (!s) throw EPlatformError("Nenhum serviço do host instalado");
  return *s;
}

void MensErro(const std::string& text, bool abort) {
  Services().ShowError(text);
  if (abort) Abort();
}

int MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons,
               int helpContext) {
  return Services().MessageDlg(text, type, buttons, helpContext);
}

Variant CheckResultServ(const Variant& raw, bool report, int helpContext) {
  (void)helpContext;
  std::string failure;
  try {
    RawResult result = ParseRawResult(raw);
    if (result.ok) return std::move(result.data);
    failure = result.error.empty() ? std::string("O servidor recusou a operação sem mensagem.")
                                   : result.error;
  } catch (const EPlatformError& e) {
    failure = std::string("Resposta inválida do servidor de aplicação: ") + e.what();
  }
  if (report) Services().ReportResultError(failure);
  throw ERemoteError(failure);
}

bool Pesquisar_Plus(TDataSource* source, const std::string& text, bool flag1, bool flag2) {
  if (!source) throw EPlatformError("Pesquisar_Plus sem fonte de dados");
  return Services().PickList(source, text, flag1, flag2);
}

void Procura(TDataSet* dataSet) {
  if (!dataSet) throw EPlatformError("Procura sem conjunto de dados");
  Services().Search(dataSet);
}

void ActiveShowAvi(TForm* mainForm, int kind, const std::string& caption) {
  Services().ShowAvi(mainForm, kind, caption);
  ++State().aviDepth;
}

void DeactiveShowAvi() {
  HostState& s = State();
  if (s.aviDepth == 0 || !s.services) return;
  s.aviDepth = 0;
  s.services->HideAvi();
}

bool AviActive() { return State().aviDepth > 0; }

std::string DBPict(int pictType) { return Services().DBPict(pictType); }
std::string WebURL() { return Services().WebURL(); }
int WebPort() { return Services().WebPort(); }
std::string AccessToken() {
  HostServices* s = State().services;
  return s ? s->AccessToken() : std::string();
}
std::string CaFile() {
  HostServices* s = State().services;
  return s ? s->CaFile() : std::string();
}
bool Insecure() {
  HostServices* s = State().services;
  return s && s->Insecure();
}
bool ReadOnlyAccess() {
  HostServices* s = State().services;
  return s && s->ReadOnlyAccess();
}

bool EmptyString(std::string_view text) {
  for (char c : text) {
    const auto uc = static_cast<unsigned char>(c);
    if (uc > 0x20 && uc != 0x7f) return false;
  }
  return true;
}

std::string Ajusta(std::string_view text, int width) {
  return std::string(TruncateToChars(text, width));
}

std::string PictPess(std::string_view personType) {
  if (personType == "J") return "99.999.999/9999-99;0;_";
  if (personType == "F") return "999.999.999-99;0;_";
  return "";
}

}  // namespace host
