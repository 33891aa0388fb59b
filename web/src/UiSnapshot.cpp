#include "web/src/UiSnapshot.h"

#include <algorithm>

#include "host/controls/ButtonFlat.h"
#include "host/controls/Column.h"
#include "host/controls/DBGrid.h"
#include "host/controls/DBText.h"
#include "host/controls/Form.h"
#include "host/controls/Label.h"
#include "host/controls/MainMenu.h"
#include "host/controls/MenuItem.h"
#include "host/controls/PageControl.h"
#include "host/controls/Panel.h"
#include "host/controls/ScrollBox.h"
#include "host/controls/Splitter.h"
#include "host/controls/TabSheet.h"
#include "host/data/DataSet.h"
#include "host/data/Field.h"
#include "web/src/JsonOut.h"

namespace web {

namespace {

const char* StateName(host::TDataSetState state) {
  switch (state) {
    case host::TDataSetState::dsInactive: return "inactive";
    case host::TDataSetState::dsBrowse: return "browse";
    case host::TDataSetState::dsEdit: return "edit";
    case host::TDataSetState::dsInsert: return "insert";
  }
  return "inactive";
}

void WriteGrid(JsonOut& json, const host::TDBGrid& grid) {
  json.Field("kind", "grid");
  json.Key("columns").BeginArray();
  for (host::TColumn* c : grid.Columns()) {
    const host::TField* f = c->Field();
    int chars = f ? (f->DisplayWidth > 0 ? f->DisplayWidth : f->Size()) : 10;
    json.Begin()
        .Field("title", c->TitleText())
        .Field("width", c->Width())
        .Field("chars", chars)
        .Field("ellipsis", c->ButtonStyle() == host::TColumnButtonStyle::cbsEllipsis)
        .Field("readOnly", c->ReadOnly() || (f && f->ReadOnly))
        .End();
  }
  json.EndArray();
  json.Field("rows", grid.RowCount()).Field("row", grid.CurrentRow()).Field("col", grid.SelectedIndex());
  json.Field("readOnly", grid.ReadOnly());
  json.Field("state", grid.DataSet() ? StateName(grid.DataSet()->State()) : "inactive");
  json.Field("canEdit", grid.CanEditSelectedCell());
  json.Field("titles", grid.Options().Contains(host::dgTitles));
}

void WriteControl(JsonOut& json, const host::TControl& c) {
  json.Begin().Field("name", c.Name());
  if (const auto* grid = dynamic_cast<const host::TDBGrid*>(&c)) {
    WriteGrid(json, *grid);
  } else if (const auto* pages = dynamic_cast<const host::TPageControl*>(&c)) {
    json.Field("kind", "pages").Field("active", pages->ActivePageIndex());
  } else if (const auto* sheet = dynamic_cast<const host::TTabSheet*>(&c)) {
    json.Field("kind", "sheet").Field("tabVisible", sheet->TabVisible());
  } else if (const auto* dbText = dynamic_cast<const host::TDBText*>(&c)) {
    json.Field("kind", "text").Field("text", dbText->Text());
  } else if (dynamic_cast<const host::TLabel*>(&c)) {
    json.Field("kind", "label");
  } else if (const auto* button = dynamic_cast<const host::TButtonFlat*>(&c)) {
    json.Field("kind", "button").Field("glyph", button->Glyph());
  } else if (dynamic_cast<const host::TSplitter*>(&c)) {
    json.Field("kind", "splitter");
  } else if (const auto* panel = dynamic_cast<const host::TPanel*>(&c)) {
    json.Field("kind", "panel").Field("bevel", panel->BevelOuter() != "bvNone");
  } else if (const auto* scroll = dynamic_cast<const host::TScrollBox*>(&c)) {
    json.Field("kind", "scroll").Field("bevel", scroll->BorderStyle() != "bsNone");
  } else {
    json.Field("kind", "box");
  }
  json.Field("caption", c.Caption()).Field("hint", c.Hint()).Field("color", c.Color());
  json.Field("visible", c.Visible()).Field("enabled", c.Enabled());
  json.Field("align", static_cast<int>(c.Align()));
  json.Field("left", c.Left()).Field("top", c.Top()).Field("width", c.Width()).Field("height", c.Height());
  if (!c.Controls().empty()) {
    json.Key("controls").BeginArray();
    for (const host::TControl* child : c.Controls()) WriteControl(json, *child);
    json.EndArray();
  }
  json.End();
}

void WriteMenuItems(JsonOut& json, const std::vector<host::TMenuItem*>& items) {
  json.BeginArray();
  for (const host::TMenuItem* item : items) {
    json.Begin().Field("name", item->Name()).Field("caption", item->Caption());
    json.Field("enabled", item->Enabled()).Field("visible", item->Visible());
    if (!item->Items().empty()) {
      json.Key("items");
      WriteMenuItems(json, item->Items());
    }
    json.End();
  }
  json.EndArray();
}

}  // namespace

std::string UiSnapshot::Write(const host::TForm* form) {
  JsonOut json;
  json.Begin().Key("form");
  if (!form || !form->Visible()) {
    json.Null().End();
    return json.str();
  }
  json.Begin().Field("name", form->Name()).Field("caption", form->Caption());
  json.Field("width", form->Width()).Field("height", form->Height());
  json.Field("active", form->ActiveControl() ? form->ActiveControl()->Name() : std::string());
  json.Key("controls").BeginArray();
  for (const host::TControl* child : form->Controls()) WriteControl(json, *child);
  json.EndArray();
  json.Key("menu");
  if (form->Menu()) {
    WriteMenuItems(json, form->Menu()->Items());
  } else {
    json.BeginArray().EndArray();
  }
  json.End().End();
  return json.str();
}

std::string UiSnapshot::GridRows(const host::TDBGrid& grid, int first, int count) {
  JsonOut json;
  json.BeginArray();
  const int columns = grid.ColumnCount();
  const int last = std::min(grid.RowCount(), first + count - 1);
  for (int row = std::max(1, first); row <= last; ++row) {
    json.BeginArray();
    for (int c = 0; c < columns; ++c) json.Text(grid.CellText(row, c));
    json.EndArray();
  }
  json.EndArray();
  return json.str();
}

}  // namespace web
