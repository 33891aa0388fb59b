// HistoryFollower keeps the "Histórico" panel on the current product: the history key field of
// the active screen's main list (host::ScreenLists::MainList) at its current record, while that list
// is browsing a record (empty otherwise: inserting, editing, an empty list, no screen).
//
// Promises:
// - The panel is told the key (HistoryPanel::SetKey) when something it depends on may have
//   changed: the main list's grid model announced a change of rows, values, current row or state
//   (GridTableModel::RecordChanged), another screen window became active, a window came or went,
//   or the panel was shown. Nothing polls.
// - The models are read only while they are idle (the `idle` test: no user action, no call
//   waiting, no paste running). A change announced while they are busy is caught up with when
//   CatchUp() is called after the busy period (the main window calls it after every user action
//   and after a paste).
// - A hidden panel is not told; it is told the current key when it is shown again.
//
// Used on the user-interface thread only. Not copyable (a QObject).
#pragma once

#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <functional>
#include <string>

class QTimer;

namespace desktop {

class FormWindow;
class GridTableModel;
class HistoryPanel;

class HistoryFollower : public QObject {
  Q_OBJECT

 public:
  // `activeWindow` gives the active screen's window (null for none); `idle` tells whether the
  // models may be read now. REQUIRES: panel outlives the follower, or Stop() is called before
  // the panel goes (the main window stops it when it shuts down).
  HistoryFollower(HistoryPanel& panel, std::function<FormWindow*()> activeWindow, std::function<bool()> idle,
                  QObject* parent = nullptr);

  // The key the panel should show now (see the class comment). Reads the models: call it only
  // while they are idle.
  std::string CurrentKey() const;
  // Something the key depends on may have changed: the key is read again once the models are
  // idle (several calls in a row read it once).
  void Changed();
  // A busy period ended: reads the key now when a change was announced meanwhile.
  void CatchUp();
  // Never tells the panel again (the main window is shutting down).
  void Stop();

 private:
  void Follow();
  // Follows the grid model of the active screen's main list (nothing when none).
  void Track();

  HistoryPanel& panel_;
  std::function<FormWindow*()> activeWindow_;
  std::function<bool()> idle_;
  QTimer* soon_ = nullptr;
  QPointer<GridTableModel> tracked_;
  QMetaObject::Connection trackedChanges_;
  bool stale_ = true;
  bool stopped_ = false;
};

}  // namespace desktop
