// The functions the page calls (listed in exports.txt). Texts go both ways as UTF-8 C strings; a
// text returned stays valid until the next call of the same function.
//
// pdi_act may wait (a dialog, a remote call): the page calls it with ccall's async form and
// queues the events that arrive meanwhile. Every other function returns at once and may be called
// while pdi_act waits (to draw): they only read.
#include <emscripten.h>
#include <rapidjson/document.h>

#include <string>

#include "host/controls/DBGrid.h"
#include "host/controls/Form.h"
#include "host/data/DataSet.h"
#include "host/data/Field.h"
#include "host/tools/ScreenLists.h"
#include "pdi_version.h"
#include "web/src/JsonOut.h"
#include "web/src/ListActions.h"
#include "web/src/UiSnapshot.h"
#include "web/src/WebSession.h"

namespace {

const char* Keep(std::string& slot, std::string text) {
  slot = std::move(text);
  return slot.c_str();
}

}  // namespace

extern "C" {

// settings: {"url":…,"port":…,"token":…,"productMask":…,"localPath":…}
EMSCRIPTEN_KEEPALIVE void pdi_start(const char* settings) {
  rapidjson::Document doc;
  doc.Parse(settings);
  web::WebHostServices::Settings s;
  if (doc.IsObject()) {
    const auto text = [&](const char* name) {
      return doc.HasMember(name) && doc[name].IsString() ? std::string(doc[name].GetString()) : std::string();
    };
    s.url = text("url");
    s.token = text("token");
    s.productMask = text("productMask");
    s.localPath = text("localPath");
    if (doc.HasMember("port") && doc["port"].IsInt()) s.port = doc["port"].GetInt();
  }
  web::WebSession::Instance().Start(std::move(s));
}

EMSCRIPTEN_KEEPALIVE void pdi_act(const char* json) { web::WebSession::Instance().Act(json); }

EMSCRIPTEN_KEEPALIVE const char* pdi_result() {
  static std::string slot;
  return Keep(slot, web::WebSession::Instance().Result());
}

EMSCRIPTEN_KEEPALIVE const char* pdi_snapshot() {
  static std::string slot;
  return Keep(slot, web::UiSnapshot::Write(web::WebSession::Instance().Form()));
}

EMSCRIPTEN_KEEPALIVE const char* pdi_grid_rows(const char* grid, int first, int count) {
  static std::string slot;
  const host::TDBGrid* g = web::WebSession::Instance().Grid(grid);
  return Keep(slot, g ? web::UiSnapshot::GridRows(*g, first, count) : std::string("[]"));
}

EMSCRIPTEN_KEEPALIVE const char* pdi_modal_rows(int first, int count) {
  static std::string slot;
  web::JsonOut json;
  json.BeginArray();
  if (const web::RowTexts* rows = web::WebHostServices::Installed() ? web::WebHostServices::Installed()->ModalRows() : nullptr) {
    const int last = std::min(rows->RowCount(), first + count - 1);
    for (int row = std::max(1, first); row <= last; ++row) {
      json.BeginArray();
      for (const std::string& cell : rows->Row(row)) json.Text(cell);
      json.EndArray();
    }
  }
  json.EndArray();
  return Keep(slot, json.str());
}

EMSCRIPTEN_KEEPALIVE int pdi_modal_find(const char* typed, int column, int from) {
  const web::RowTexts* rows = web::WebHostServices::Installed() ? web::WebHostServices::Installed()->ModalRows() : nullptr;
  return rows ? rows->Find(typed, column, from) : 0;
}

// What the page shows around the screen: the current product of the main list (for the history
// panel), the detail list in view (for the export choices) and the version.
EMSCRIPTEN_KEEPALIVE const char* pdi_context() {
  static std::string slot;
  web::JsonOut json;
  json.Begin().Field("version", PDI_VERSION);
  const host::TForm* form = web::WebSession::Instance().Form();
  const host::TDBGrid* main = form ? host::ScreenLists::MainList(*form) : nullptr;
  std::string product;
  if (main && main->DataSet() && main->DataSet()->State() == host::TDataSetState::dsBrowse) {
    if (host::TField* key = main->DataSet()->FindField("CDPRODUTO")) product = key->AsString();
  }
  json.Field("product", product);
  const host::TDBGrid* detail = form ? host::ScreenLists::DetailInView(*form) : nullptr;
  json.Field("detail", detail ? host::ScreenLists::ListName(*detail) : std::string());
  json.End();
  return Keep(slot, json.str());
}

}  // extern "C"
