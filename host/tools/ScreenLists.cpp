#include "host/tools/ScreenLists.h"

#include <vector>

#include "host/controls/DBGrid.h"
#include "host/controls/Form.h"
#include "host/controls/PageControl.h"
#include "host/controls/TabSheet.h"
#include "host/core/Component.h"
#include "host/data/ClientDataSet.h"

namespace host {
namespace {

// Every component the form owns, at any depth (a description's components may be owned by the
// component that holds them), in creation order, depth first.
void Collect(const TComponent& owner, std::vector<TComponent*>& out) {
  for (TComponent* c : owner.Components()) {
    out.push_back(c);
    Collect(*c, out);
  }
}

std::vector<TComponent*> AllOf(const TForm& form) {
  std::vector<TComponent*> out;
  Collect(form, out);
  return out;
}

std::vector<TDBGrid*> GridsOf(const TForm& form) {
  std::vector<TDBGrid*> grids;
  for (TComponent* c : AllOf(form))
    if (auto* g = dynamic_cast<TDBGrid*>(c)) grids.push_back(g);
  return grids;
}

}  // namespace

TTabSheet* ScreenLists::SheetOf(const TControl& control) {
  for (TControl* p = control.Parent(); p; p = p->Parent())
    if (auto* sheet = dynamic_cast<TTabSheet*>(p)) return sheet;
  return nullptr;
}

bool ScreenLists::IsDetailList(const TDBGrid& grid) {
  const auto* ds = dynamic_cast<const TClientDataSet*>(grid.DataSet());
  return ds && ds->Filtered() && !ds->Filter().empty();
}

TDBGrid* ScreenLists::MainList(const TForm& form) {
  for (TDBGrid* g : GridsOf(form))
    if (g->DataSet() && !IsDetailList(*g)) return g;
  return nullptr;
}

TDBGrid* ScreenLists::DetailInView(const TForm& form) {
  if (auto* active = dynamic_cast<TDBGrid*>(form.ActiveControl()); active && IsDetailList(*active)) return active;
  for (TDBGrid* g : GridsOf(form)) {
    if (!IsDetailList(*g)) continue;
    TTabSheet* sheet = SheetOf(*g);
    if (!sheet || (sheet->PageControl() && sheet->PageControl()->ActivePage() == sheet)) return g;
  }
  return nullptr;
}

std::string ScreenLists::ListName(const TDBGrid& grid) {
  if (TTabSheet* sheet = SheetOf(grid); sheet && !sheet->Caption().empty()) {
    std::string caption = sheet->Caption();
    std::erase(caption, '&');
    return caption;
  }
  return grid.Name();
}

TDBGrid* ScreenLists::PasteTarget(const TForm& form, std::string* why) {
  const auto say = [why](std::string text) -> TDBGrid* {
    if (why) *why = std::move(text);
    return nullptr;
  };
  auto* grid = dynamic_cast<TDBGrid*>(form.ActiveControl());
  if (!grid || !IsDetailList(*grid)) {
    return say("Para colar uma lista, clique antes na lista de destino (uma das listas do registro atual).");
  }
  if (grid->ReadOnly()) return say("A lista " + ListName(*grid) + " não aceita inclusões agora.");
  for (TComponent* c : AllOf(form)) {
    auto* ds = dynamic_cast<TDataSet*>(c);
    if (ds && ds->Active() && ds->State() != TDataSetState::dsBrowse) {
      return say("Confirme ou cancele o registro em edição antes de colar uma lista.");
    }
  }
  return grid;
}

}  // namespace host
