// ScreenLists tells a screen's lists apart, for the commands every host offers around a screen
// (pasting a list of codes, exporting a list, following the current product's history). A
// screen's lists are told apart by their record sets: the main list is the first grid whose record
// set is not filtered; a detail list is a grid over a filtered TClientDataSet, named by the caption
// of the tab sheet it lies on.
//
// Stateless; static members; used on the host's user-interface thread.
#pragma once

#include <string>

namespace host {

class TControl;
class TDBGrid;
class TForm;
class TTabSheet;

class ScreenLists {
 public:
  ScreenLists() = delete;

  // The form's main list; null when none.
  static TDBGrid* MainList(const TForm& form);
  // True for a grid over a filtered TClientDataSet.
  static bool IsDetailList(const TDBGrid& grid);
  // The detail list in view: the form's active control when it is one, else the first detail
  // list whose tab sheet is the one shown. Null when none.
  static TDBGrid* DetailInView(const TForm& form);
  // The caption of the tab sheet holding the grid ('&' removed), else the grid's name.
  static std::string ListName(const TDBGrid& grid);
  // The grid a list may be pasted into now: the detail list in focus, not read-only, with every
  // record set of the form browsing. Null with *why set to the reason, for the clerk.
  static TDBGrid* PasteTarget(const TForm& form, std::string* why);

  // The tab sheet a control lies on; null when none.
  static TTabSheet* SheetOf(const TControl& control);
};

}  // namespace host
