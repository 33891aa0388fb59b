#include "desktop/HistoryFollower.h"

#include <QTimer>
#include <utility>

#include "desktop/FormWindow.h"
#include "desktop/GridTableModel.h"
#include "desktop/GridView.h"
#include "desktop/HistoryPanel.h"
#include "desktop/ListCommands.h"
#include "host/controls/DBGrid.h"
#include "host/controls/Form.h"
#include "host/data/DataSet.h"
#include "host/data/Field.h"
#include "host/tools/ScreenLists.h"

namespace desktop {

namespace {

// The field of the main list's record set that the server's history is asked by.
const char* const kHistoryKeyField = "CDPRODUTO";

}  // namespace

HistoryFollower::HistoryFollower(HistoryPanel& panel, std::function<FormWindow*()> activeWindow,
                                 std::function<bool()> idle, QObject* parent)
    : QObject(parent), panel_(panel), activeWindow_(std::move(activeWindow)), idle_(std::move(idle)) {
  soon_ = new QTimer(this);
  soon_->setSingleShot(true);
  soon_->setInterval(0);
  connect(soon_, &QTimer::timeout, this, [this] { Follow(); });
  connect(&panel_, &QDockWidget::visibilityChanged, this, [this](bool visible) {
    if (visible) Changed();
  });
}

std::string HistoryFollower::CurrentKey() const {
  FormWindow* window = activeWindow_();
  if (!window || !window->Form()) return {};
  host::TDBGrid* main = host::ScreenLists::MainList(*window->Form());
  host::TDataSet* ds = main ? main->DataSet() : nullptr;
  if (!ds || ds->State() != host::TDataSetState::dsBrowse || ds->IsEmpty()) return {};
  const host::TField* key = ds->FindField(kHistoryKeyField);
  return key ? key->AsString() : std::string();
}

void HistoryFollower::Changed() {
  if (stopped_) return;
  stale_ = true;
  // Deferred: a change is announced from inside the models' own work.
  soon_->start();
}

void HistoryFollower::CatchUp() {
  if (stale_) Changed();
}

void HistoryFollower::Stop() {
  stopped_ = true;
  soon_->stop();
  disconnect(trackedChanges_);
  tracked_ = nullptr;
}

void HistoryFollower::Follow() {
  if (stopped_ || !idle_()) return;  // stays stale: CatchUp follows after the busy period
  stale_ = false;
  Track();
  if (!panel_.isVisible()) return;
  panel_.SetKey(CurrentKey());
}

void HistoryFollower::Track() {
  GridTableModel* adapter = nullptr;
  if (FormWindow* window = activeWindow_(); window && window->Form()) {
    if (host::TDBGrid* main = host::ScreenLists::MainList(*window->Form())) {
      for (GridView* view : window->Grids())
        if (view->Grid() == main) adapter = view->Adapter();
    }
  }
  if (adapter == tracked_) return;
  disconnect(trackedChanges_);
  tracked_ = adapter;
  if (adapter) trackedChanges_ = connect(adapter, &GridTableModel::RecordChanged, this, [this] { Changed(); });
}

}  // namespace desktop
