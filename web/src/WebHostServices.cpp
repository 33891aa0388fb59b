#include "web/src/WebHostServices.h"

#include <utility>

#include "host/data/DataSet.h"
#include "host/data/DataSource.h"
#include "host/data/Field.h"
#include "host/services/HostLib.h"
#include "web/src/JsImports.h"
#include "web/src/JsonOut.h"

namespace web {

namespace {

WebHostServices* installed = nullptr;

std::string AviCaption(int kind, const std::string& caption) {
  if (!caption.empty()) return caption;
  switch (kind) {
    case 0: return "Conectando ao servidor de aplicação...";
    case 1: return "Validando dados...";
    case 6: return "Carregando dados...";
    default: return "Aguarde...";
  }
}

struct ButtonSpec {
  host::TMsgDlgBtn button;
  const char* text;
  int result;
};

// The platform's order of buttons in a question.
const ButtonSpec kButtons[] = {
    {host::mbYes, "Sim", host::mrYes},       {host::mbNo, "Não", host::mrNo},
    {host::mbOK, "OK", host::mrOk},          {host::mbCancel, "Cancelar", host::mrCancel},
    {host::mbAbort, "Abortar", host::mrAbort}, {host::mbRetry, "Repetir", host::mrRetry},
    {host::mbIgnore, "Ignorar", host::mrIgnore}, {host::mbAll, "Todos", 8},
    {host::mbNoToAll, "Não para todos", 9},  {host::mbYesToAll, "Sim para todos", 10},
};

const char* TitleOf(host::TMsgDlgType type) {
  switch (type) {
    case host::TMsgDlgType::mtWarning: return "Atenção";
    case host::TMsgDlgType::mtError: return "Erro";
    case host::TMsgDlgType::mtInformation: return "Informação";
    case host::TMsgDlgType::mtConfirmation: return "Confirmação";
    case host::TMsgDlgType::mtCustom: return "Mensagem";
  }
  return "Mensagem";
}

// True when text from `at` on reads HOST:PORT with no blank, PORT all digits.
bool IsAddress(std::string_view text) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos || colon == 0 || colon + 1 == text.size()) return false;
  for (const char c : text)
    if (c == ' ' || c == '\t' || c == '\n') return false;
  for (const char c : text.substr(colon + 1))
    if (c < '0' || c > '9') return false;
  return true;
}

}  // namespace

void WebHostServices::Install() {
  host::SetHostServices(this);
  installed = this;
}

WebHostServices* WebHostServices::Installed() { return installed; }

std::string WebHostServices::ClerkText(const std::string& text, std::string* details) {
  if (details) details->clear();
  // The connection's failures read "Falha ao <what> em <host>:<port>: <reason>".
  const std::size_t start = text.find("Falha ao ");
  if (start == std::string::npos) return text;
  for (std::size_t at = text.find(" em ", start); at != std::string::npos; at = text.find(" em ", at + 1)) {
    const std::size_t addressStart = at + 4;
    const std::size_t end = text.find(": ", addressStart);
    if (end == std::string::npos) break;
    const std::string address = text.substr(addressStart, end - addressStart);
    if (!IsAddress(address)) continue;
    std::string reason = text.substr(end + 2);
    while (!reason.empty() && (reason.back() == '.' || reason.back() == ' ')) reason.pop_back();
    if (details) *details = text;
    return text.substr(0, start) + "Não foi possível falar com o servidor " + address + " (" + reason + ").";
  }
  return text;
}

void WebHostServices::ShowError(const std::string& text) {
  std::string details;
  const std::string shown = ClerkText(text, &details);
  JsonOut json;
  json.Begin().Field("kind", "message").Field("role", "alertdialog").Field("title", "Atenção").Field("text", shown);
  if (!details.empty()) json.Field("details", details);
  json.Key("buttons").BeginArray().Begin().Field("text", "OK").Field("result", host::mrOk).End().EndArray();
  json.Field("escape", host::mrOk).End();
  pdi_js_modal(json.c_str());
}

int WebHostServices::MessageDlg(const std::string& text, host::TMsgDlgType type, host::TMsgDlgButtons buttons,
                                int helpContext) {
  (void)helpContext;
  if (buttons.Empty()) buttons = {host::mbOK};
  // Closing without a button: Cancel when offered, else No, else OK.
  int closed = host::mrOk;
  if (buttons.Contains(host::mbCancel)) {
    closed = host::mrCancel;
  } else if (buttons.Contains(host::mbNo)) {
    closed = host::mrNo;
  }
  JsonOut json;
  // A question is a dialog; a message that only informs or warns is an alertdialog.
  const bool question = buttons.Contains(host::mbYes) || buttons.Contains(host::mbNo) || buttons.Contains(host::mbCancel);
  json.Begin()
      .Field("kind", "message")
      .Field("role", question ? "dialog" : "alertdialog")
      .Field("title", TitleOf(type))
      .Field("text", text);
  // A destructive confirmation is not one Enter away: No is the default when offered, else the
  // first button.
  int defaultResult = buttons.Contains(host::mbNo) ? host::mrNo : 0;
  json.Key("buttons").BeginArray();
  for (const ButtonSpec& spec : kButtons) {
    if (!buttons.Contains(spec.button)) continue;
    if (defaultResult == 0) defaultResult = spec.result;
    json.Begin().Field("text", spec.text).Field("result", spec.result).Field("default", spec.result == defaultResult).End();
  }
  json.EndArray().Field("escape", closed).End();
  return pdi_js_modal(json.c_str());
}

void WebHostServices::ReportResultError(const std::string& text) {
  ShowError(text);
  reported_ = text;
}

bool WebHostServices::ConsumeReported(const std::string& text) {
  if (reported_.empty() || reported_ != text) return false;
  reported_.clear();
  return true;
}

int WebHostServices::RowDialog(const char* kind, const char* title, const std::string& text, host::TDataSet& dataSet) {
  modalRows_ = std::make_unique<RowTexts>(dataSet);
  struct Forget {
    std::unique_ptr<RowTexts>& rows;
    ~Forget() { rows.reset(); }
  } forget{modalRows_};
  JsonOut json;
  json.Begin().Field("kind", kind).Field("role", "dialog").Field("title", title).Field("text", text);
  json.Field("rows", modalRows_->RowCount()).Field("current", dataSet.Active() ? dataSet.RecNo() : 0);
  json.Key("columns").BeginArray();
  for (host::TField* f : modalRows_->Fields()) {
    json.Begin().Field("title", f->DisplayName()).Field("width", f->DisplayWidth > 0 ? f->DisplayWidth : f->Size()).End();
  }
  json.EndArray().End();
  const int row = pdi_js_modal(json.c_str());
  return row >= 1 && row <= modalRows_->RowCount() ? row : 0;
}

bool WebHostServices::PickList(host::TDataSource* source, const std::string& text, bool flag1, bool flag2) {
  (void)flag1;
  (void)flag2;
  if (!source || !source->DataSet()) throw host::EPlatformError("Lista de pesquisa sem conjunto de dados");
  host::TDataSet& ds = *source->DataSet();
  const int row = RowDialog("pick", "Pesquisa", text, ds);
  if (row == 0) return false;
  ds.SetRecNo(row);
  return true;
}

void WebHostServices::Search(host::TDataSet* dataSet) {
  if (!dataSet) throw host::EPlatformError("Procura sem conjunto de dados");
  const int row = RowDialog("search", "Procurar", "Não há registros.", *dataSet);
  if (row != 0) dataSet->SetRecNo(row);
}

void WebHostServices::ShowAvi(host::TForm* mainForm, int kind, const std::string& caption) {
  (void)mainForm;
  pdi_js_busy(1, AviCaption(kind, caption).c_str());
}

void WebHostServices::HideAvi() { pdi_js_busy(0, ""); }

}  // namespace web
