#include "web/src/Components.h"
#include "web/src/ListActions.h"

#include <cstdio>

#include "host/controls/DBGrid.h"
#include "host/controls/Form.h"
#include "host/data/ClientDataSet.h"
#include "host/services/HostLib.h"
#include "host/tools/ListExport.h"
#include "host/tools/ListPaste.h"
#include "host/tools/ScreenLists.h"
#include "web/src/JsImports.h"
#include "web/src/JsonOut.h"

namespace web {

namespace {

// A file name made of the list's name: letters and digits, the rest '-'.
std::string Slug(const std::string& name) {
  std::string out;
  for (const char c : host::EmptyString(name) ? std::string("lista") : name) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (plain) {
      out += c;
    } else if (c >= 'A' && c <= 'Z') {
      out += static_cast<char>(c - 'A' + 'a');
    } else if (!out.empty() && out.back() != '-') {
      out += '-';
    }
  }
  while (!out.empty() && out.back() == '-') out.pop_back();
  return out.empty() ? "lista" : out;
}

}  // namespace

void ListActions::Paste(const host::TForm& form, const std::string& text) {
  std::string why;
  host::TDBGrid* grid = host::ScreenLists::PasteTarget(form, &why);
  if (!grid) {
    host::MessageDlg(why, host::TMsgDlgType::mtInformation, {host::mbOK});
    return;
  }
  const std::vector<std::string> codes = host::ListPaste::SplitCodes(text);
  if (codes.empty()) {
    host::MessageDlg("A área de transferência não tem códigos para colar (um código por linha).",
                     host::TMsgDlgType::mtInformation, {host::mbOK});
    return;
  }
  if (codes.size() > kMaxPasteCodes) {
    host::MessageDlg("A área de transferência tem " + std::to_string(codes.size()) + " códigos; cole no máximo " +
                         std::to_string(kMaxPasteCodes) + " de cada vez. Nada foi incluído.",
                     host::TMsgDlgType::mtWarning, {host::mbOK});
    return;
  }
  const std::string name = host::ScreenLists::ListName(*grid);
  const host::PasteSummary summary = host::ListPaste(*grid).Run(codes, [&](int done, int all) {
    JsonOut json;
    json.Begin()
        .Field("title", "Colar lista")
        .Field("text", "Colando na lista " + name + ": " + std::to_string(done + 1) + " de " + std::to_string(all))
        .Field("done", done)
        .Field("total", all)
        .End();
    return pdi_js_progress(json.c_str()) != 0;
  });
  JsonOut json;
  json.Begin().Field("kind", "summary").Field("role", "dialog").Field("title", "Colar lista: " + name);
  json.Field("text", summary.Line());
  json.Key("lines").BeginArray();
  for (const host::PasteLine& line : summary.lines) {
    json.BeginArray().Int(line.number).Text(line.code).Text(line.stored ? "gravado" : line.message).EndArray();
  }
  json.EndArray().End();
  pdi_js_modal(json.c_str());
}

std::string ListActions::Export(const host::TForm& form, const std::string& list, const std::string& format) {
  host::TDBGrid* main = host::ScreenLists::MainList(form);
  if (!main) throw host::EPlatformError("Abra a tela antes de exportar uma lista.");
  host::TDBGrid* detail = host::ScreenLists::DetailInView(form);
  if (list != "main" && !detail) throw host::EPlatformError("Não há lista do registro atual à vista para exportar.");
  if (format != "csv" && format != "xlsx") throw host::EPlatformError("Formato de exportação desconhecido: " + format);
  host::ExportTable table;
  std::string name;
  if (list == "main") {
    table = host::ListExport::FromGrid(*main);
    name = "pdi07310-produtos";
  } else if (list == "detailAll") {
    table = host::ListExport::FromGridAllRows(*detail);
    name = "pdi07310-" + Slug(host::ScreenLists::ListName(*detail)) + "-todos";
  } else {
    table = host::ListExport::FromGrid(*detail);
    name = "pdi07310-" + Slug(host::ScreenLists::ListName(*detail));
  }
  name += "." + format;
  const std::string path = "/tmp/" + name;
  try {
    host::ListExport::Write(table, path);
  } catch (const std::exception& e) {
    throw host::EPlatformError(std::string("Não foi possível exportar a lista: ") + e.what());
  }
  JsonOut json;
  json.Begin().Field("file", path).Field("name", name).Field("rows", static_cast<int>(table.rows.size())).End();
  return json.str();
}

}  // namespace web
