// WindowLayout puts the remembered layout (LayoutStore) into the desktop's windows and writes it
// back: the main window's size, geometry and state (toolbars, the history panel), and each screen
// window's grid column widths and splitter positions.
//
// Promises:
// - The main window takes the size the settings give; the remembered geometry replaces it unless
//   the size was given on the command line. A default size the screen cannot hold is maximized. Without a remembered state the docked panel starts
//   low (kPanelHeight), leaving the screens most of the height.
// - Column widths are taken only from a remembered list that matches the grid's columns (one
//   width per column, each 8 to 4000 pixels; the last column takes what is left anyway); a
//   splitter's neighbour takes a remembered size of 8 to 4000 pixels. Both are put into the
//   models, as the user's drag would, under UserAction.
// - The screens are tiled over the whole document area (which follows the main window's size)
//   until the user chooses Cascata in the "Janela" menu; the choice is remembered, and tiling is
//   redone when a screen opens. A screen window's bounds are remembered per form and put into the
//   form's model, as the user's resize would (the screen itself asks for the normal state).
// - The history panel's visibility and place are part of the main window's state.
// - Nothing is read or written when the settings remember no layout (LayoutStore::Enabled); the
//   screens are then tiled.
//
// Used on the user-interface thread only. Intentionally copyable (holds a LayoutStore).
#pragma once

#include <optional>
#include <vector>

#include "desktop/LayoutStore.h"

class QDockWidget;
class QMainWindow;

namespace desktop {

class FormWindow;

class WindowLayout {
 public:
  // How the screen windows were last arranged through the "Janela" menu.
  enum class Arrangement { None, Tiled, Cascaded };

  // Height in pixels of the docked panel when no state is remembered.
  static constexpr int kPanelHeight = 170;

  explicit WindowLayout(const DesktopSettings& settings) : settings_(settings), store_(settings) {}

  // Sizes and places `window` and restores its state; `panel` is its docked panel.
  void RestoreMain(QMainWindow& window, QDockWidget* panel) const;
  // Writes the layout of `window` and of the screen windows `screens` (detached ones skipped).
  void RememberMain(const QMainWindow& window, const std::vector<FormWindow*>& screens) const;
  // Puts the remembered column widths and splitter positions into a new screen window's models.
  void RestoreScreen(FormWindow& window) const;
  // Puts the remembered bounds (if any) into the form of a screen window just added to the
  // document area.
  void RestoreWindowState(FormWindow& window) const;
  // Writes the column widths and splitter positions of a screen window whose models are alive,
  // and its window state and bounds.
  void RememberScreen(FormWindow& window) const;
  // The arrangement remembered from the last run, or chosen since (SetArrangement); Tiled when
  // none was ever chosen.
  Arrangement Remembered() const;
  void SetArrangement(Arrangement arrangement) { arrangement_ = arrangement; }

 private:
  void RestoreSplitters(FormWindow& window) const;
  void RememberSplitters(FormWindow& window) const;


  DesktopSettings settings_;
  LayoutStore store_;
  std::optional<Arrangement> arrangement_;
};

}  // namespace desktop
