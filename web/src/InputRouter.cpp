// The user actions the page passes on, as WebSession::Act receives them: one JSON object whose
// "do" names the action.
//
//   {"do":"open"}                                  open the screen (or bring it forward)
//   {"do":"key","key":K,"text":T,"ctrl":b,"shift":b,"alt":b,"page":N}
//                                                  a key (KeyboardEvent.key) on the focused control;
//                                                  N: rows a page of the grid shows
//   {"do":"cell","grid":G,"row":R,"col":C}         a click on a grid's cell (R 1-based, C 0-based)
//   {"do":"focus","name":X}                        a click on a control that takes the focus
//   {"do":"ellipsis","grid":G}                     the "…" button of the grid's current cell
//   {"do":"tab","pages":P,"index":I}               a click on the tab I of page control P
//   {"do":"button","name":B} / {"do":"menu","name":M}   a toolbar button / a menu entry
//   {"do":"list","step":±1} / {"do":"page","step":±1}    next or previous list / page
//   {"do":"close"}                                 close the screen (asks first when a row is typed)
//   {"do":"paste","text":T}                        paste a list of codes into the list in focus
//   {"do":"export","list":"main"|"detail"|"detailAll","format":"csv"|"xlsx"}
//
// Keys go where the desktop sends them: the form's shortcuts first (F5 Verificar, Ctrl+F Procurar,
// the routes between lists and pages), then the focused grid's own keys, then, away from a grid,
// the toolbar's keys (Insert, Ctrl+Delete, Ctrl+Enter, Esc).
#include <rapidjson/document.h>

#include <algorithm>

#include "host/controls/ButtonFlat.h"
#include "host/controls/DBGrid.h"
#include "host/controls/Form.h"
#include "host/controls/MenuItem.h"
#include "host/controls/PageControl.h"
#include "host/controls/TabSheet.h"
#include "host/core/Events.h"
#include "host/data/DataSet.h"
#include "host/services/HostLib.h"
#include "web/src/Components.h"
#include "web/src/ListActions.h"
#include "web/src/WebSession.h"

extern "C" void IniProc();

namespace web {

namespace {

struct KeyInput {
  std::string key;
  std::string text;
  bool ctrl = false;
  bool shift = false;
  bool alt = false;
  int page = 10;
};

std::string Str(const rapidjson::Value& v, const char* name) {
  if (!v.HasMember(name) || !v[name].IsString()) return {};
  return std::string(v[name].GetString(), v[name].GetStringLength());
}
int Int(const rapidjson::Value& v, const char* name, int otherwise = 0) {
  return v.HasMember(name) && v[name].IsInt() ? v[name].GetInt() : otherwise;
}
bool Bool(const rapidjson::Value& v, const char* name) { return v.HasMember(name) && v[name].IsBool() && v[name].GetBool(); }

// True when control is on screen: visible and enabled up to the form, on the shown page of every
// page control around it.
bool Shown(const host::TControl& control) {
  if (!control.CanFocus()) return false;
  for (const host::TControl* p = control.Parent(); p; p = p->Parent()) {
    const auto* sheet = dynamic_cast<const host::TTabSheet*>(p);
    if (sheet && sheet->PageControl() && sheet->PageControl()->ActivePage() != sheet) return false;
  }
  return true;
}

std::vector<host::TDBGrid*> GridsOf(const host::TForm& form) { return ComponentsOf<host::TDBGrid>(form); }

// Focuses the control through the form's rules; true when it then holds the focus.
bool RequestFocus(host::TForm& form, host::TControl* control) {
  if (form.ActiveControl() != control) form.FocusControl(control);
  return form.ActiveControl() == control;
}

// The next (step 1) or previous (-1) grid on screen, as the desktop's Janela routes do.
void FocusNeighbourGrid(host::TForm& form, int step) {
  std::vector<host::TDBGrid*> shown;
  for (host::TDBGrid* g : GridsOf(form))
    if (g->DataSource() && Shown(*g)) shown.push_back(g);
  if (shown.empty()) return;
  const int count = static_cast<int>(shown.size());
  int current = -1;
  for (int i = 0; i < count; ++i)
    if (shown[static_cast<std::size_t>(i)] == form.ActiveControl()) current = i;
  int next = current < 0 ? (step > 0 ? 0 : count - 1) : ((current + step) % count + count) % count;
  if (current < 0 && step > 0 && form.ActiveControl()) {
    // From a page control or a tab sheet, forward goes to the grid it shows.
    for (int i = 0; i < count; ++i) {
      if (form.ActiveControl()->ContainsControl(shown[static_cast<std::size_t>(i)])) {
        next = i;
        break;
      }
    }
  }
  if (next != current) RequestFocus(form, shown[static_cast<std::size_t>(next)]);
}

// Presses the neighbouring tab of the innermost page control around the focus (else the first
// one on screen with pages to step through).
void PressNeighbourPage(host::TForm& form, int step) {
  host::TPageControl* chosen = nullptr;
  for (host::TControl* c = form.ActiveControl(); c && !chosen; c = c->Parent()) {
    auto* pages = dynamic_cast<host::TPageControl*>(c);
    if (pages && pages->PageCount() > 1) chosen = pages;
  }
  if (!chosen) {
    for (host::TComponent* c : AllComponents(form)) {
      auto* pages = dynamic_cast<host::TPageControl*>(c);
      if (!chosen && pages && Shown(*pages) && pages->PageCount() > 1) chosen = pages;
    }
  }
  if (!chosen) return;
  std::vector<host::TTabSheet*> tabs;
  for (host::TTabSheet* page : chosen->Pages())
    if (page->TabVisible()) tabs.push_back(page);
  if (tabs.empty()) return;
  const int count = static_cast<int>(tabs.size());
  int current = 0;
  for (int i = 0; i < count; ++i)
    if (tabs[static_cast<std::size_t>(i)] == chosen->ActivePage()) current = i;
  chosen->PressTab(tabs[static_cast<std::size_t>(((current + step) % count + count) % count)]);
}

// The toolbar button `name` pressed (it does nothing while disabled or hidden).
void Press(host::TForm& form, const std::string& name) {
  if (auto* button = dynamic_cast<host::TButtonFlat*>(form.FindComponent(name))) button->Click();
}

// The grid's own keys (as the desktop's grid view sends them to the model).
void GridKey(host::TForm& form, host::TDBGrid& g, const KeyInput& k) {
  if (!RequestFocus(form, &g)) return;
  const host::TShiftState shift{k.shift, k.alt, k.ctrl};
  const int columns = g.ColumnCount();
  const std::string& key = k.key;
  if (key == "Tab") {
    g.KeyDown(host::VK_TAB, shift);
  } else if (key == "Enter") {
    if (k.ctrl) {
      g.ClickEllipsis();
    } else {
      g.KeyDown(host::VK_RETURN, shift);
    }
  } else if (key == "Escape") {
    g.KeyDown(host::VK_ESCAPE, shift);
  } else if (key == "ArrowUp") {
    g.KeyDown(host::VK_UP, shift);
  } else if (key == "ArrowDown") {
    if (k.alt) {
      g.ClickEllipsis();
    } else {
      g.KeyDown(host::VK_DOWN, shift);
    }
  } else if (key == "Insert") {
    g.KeyDown(host::VK_INSERT, shift);
  } else if (key == "Delete") {
    if (k.ctrl) g.KeyDown(host::VK_DELETE, shift);
  } else if (key == "ArrowLeft") {
    if (g.SelectedIndex() > 0) g.SetSelectedIndex(g.SelectedIndex() - 1);
  } else if (key == "ArrowRight") {
    if (g.SelectedIndex() + 1 < columns) g.SetSelectedIndex(g.SelectedIndex() + 1);
  } else if (key == "Home") {
    if (k.ctrl) {
      g.MoveToRow(1);
    } else if (columns > 0) {
      g.SetSelectedIndex(0);
    }
  } else if (key == "End") {
    if (k.ctrl) {
      g.MoveToRow(g.RowCount());
    } else if (columns > 0) {
      g.SetSelectedIndex(columns - 1);
    }
  } else if (key == "PageUp" || key == "PageDown") {
    const int page = std::max(1, k.page);
    const int step = key == "PageUp" ? -page : page;
    g.MoveToRow(std::clamp(g.CurrentRow() + step, 1, std::max(1, g.RowCount())));
  } else if (key == "Backspace") {
    g.TypeChar(static_cast<char>(host::VK_BACK));
  } else if (!k.ctrl && !k.alt) {
    // The platform types one byte at a time: only printable ASCII reaches the cell (codes,
    // taxpayer numbers and branch codes are ASCII); other characters are dropped here.
    for (const char c : k.text)
      if (c >= 0x20 && c < 0x7f) g.TypeChar(c);
  }
}

void Key(host::TForm& form, const KeyInput& k) {
  const std::string& key = k.key;
  // The form's shortcuts, wherever the focus is.
  if (key == "F5") return Press(form, "sbtVerificar");
  if (k.ctrl && !k.alt && (key == "f" || key == "F")) return Press(form, "sbtProcurar");
  if ((k.alt && !k.ctrl && (key == "l" || key == "L")) || (k.ctrl && key == "Tab")) {
    return FocusNeighbourGrid(form, k.shift ? -1 : 1);
  }
  if ((k.alt || k.ctrl) && (key == "PageDown" || key == "PageUp")) {
    return PressNeighbourPage(form, key == "PageDown" ? 1 : -1);
  }
  auto* grid = dynamic_cast<host::TDBGrid*>(form.ActiveControl());
  if (grid) return GridKey(form, *grid, k);
  // Away from a grid, the toolbar's keys.
  if (key == "Insert") return Press(form, "sbtIncluir");
  if (k.ctrl && key == "Delete") return Press(form, "sbtExcluir");
  if (k.ctrl && key == "Enter") return Press(form, "sbtConfirmar");
  if (key == "Escape") return Press(form, "sbtCancelar");
}

bool HasPendingInsert(const host::TForm& form) {
  for (host::TComponent* c : AllComponents(form)) {
    auto* ds = dynamic_cast<host::TDataSet*>(c);
    if (ds && ds->State() == host::TDataSetState::dsInsert) return true;
  }
  return false;
}

}  // namespace

void WebSession::Act(const std::string& json) {
  result_ = "{}";
  rapidjson::Document doc;
  doc.Parse(json.c_str(), json.size());
  if (doc.HasParseError() || !doc.IsObject()) return;
  const std::string what = Str(doc, "do");
  if (what == "open") {
    Run([this] {
      IniProc();
      // A form shown with no active control gives the focus to its first list, as the platform's
      // forms do when they are activated (and the desktop's): the enter rules run as for a click.
      if (host::TForm* form = Form(); form && !form->ActiveControl()) FocusNeighbourGrid(*form, 1);
    });
    return;
  }
  host::TForm* form = Form();
  if (!form) return;
  Run([&] {
    if (what == "key") {
      Key(*form, KeyInput{Str(doc, "key"), Str(doc, "text"), Bool(doc, "ctrl"), Bool(doc, "shift"), Bool(doc, "alt"),
                          Int(doc, "page", 10)});
    } else if (what == "cell") {
      host::TDBGrid* g = Grid(Str(doc, "grid"));
      if (!g || !RequestFocus(*form, g)) return;
      const int row = Int(doc, "row");
      const int col = Int(doc, "col");
      if (col >= 0 && col < g->ColumnCount() && col != g->SelectedIndex()) g->SetSelectedIndex(col);
      if (row != g->CurrentRow()) g->MoveToRow(row);
    } else if (what == "focus") {
      auto* control = dynamic_cast<host::TControl*>(form->FindComponent(Str(doc, "name")));
      if (control && control->CanFocus()) RequestFocus(*form, control);
    } else if (what == "ellipsis") {
      host::TDBGrid* g = Grid(Str(doc, "grid"));
      if (g && RequestFocus(*form, g)) g->ClickEllipsis();
    } else if (what == "tab") {
      auto* pages = dynamic_cast<host::TPageControl*>(form->FindComponent(Str(doc, "pages")));
      const int index = Int(doc, "index", -1);
      if (pages && index >= 0 && index < pages->PageCount()) pages->PressTab(pages->Pages()[static_cast<std::size_t>(index)]);
    } else if (what == "button") {
      Press(*form, Str(doc, "name"));
    } else if (what == "menu") {
      if (auto* item = dynamic_cast<host::TMenuItem*>(form->FindComponent(Str(doc, "name")))) item->Click();
    } else if (what == "list") {
      FocusNeighbourGrid(*form, Int(doc, "step", 1));
    } else if (what == "page") {
      PressNeighbourPage(*form, Int(doc, "step", 1));
    } else if (what == "close") {
      if (HasPendingInsert(*form) &&
          host::MessageDlg("Há um registro em inclusão que não foi confirmado. Deseja descartá-lo?",
                           host::TMsgDlgType::mtConfirmation, {host::mbYes, host::mbNo}) != host::mrYes) {
        return;
      }
      form->Close();
    } else if (what == "paste") {
      ListActions::Paste(*form, Str(doc, "text"));
    } else if (what == "export") {
      SetResult(ListActions::Export(*form, Str(doc, "list"), Str(doc, "format")));
    }
  });
}

}  // namespace web
