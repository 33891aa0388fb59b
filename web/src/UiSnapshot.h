// UiSnapshot writes what the page draws of a form, as JSON: the tree of its controls with their
// properties (kind, name, caption, hint, bounds, alignment, visibility, enabling), each kind's own
// state (a grid's columns, row count, current row and cell, editing state; a page control's
// pages and active page; a label's or data-bound label's text; a button's glyph), the form's menu
// and its active control. Grid rows are not in it: the page asks for the rows it shows
// (GridRows), so a list of a million rows costs only what is on screen.
//
// The page draws from this and nothing else: it holds no state of the screen of its own.
//
// Used on the user-interface thread only. Stateless; static members.
#pragma once

#include <string>

namespace host {
class TDBGrid;
class TForm;
}  // namespace host

namespace web {

class UiSnapshot {
 public:
  UiSnapshot() = delete;

  // The form's drawing state (see above); {"form":null} without a form.
  static std::string Write(const host::TForm* form);
  // The shown texts of `count` rows of grid from visible row `first` (1-based), as an array of
  // arrays of cell texts in column order; rows past the end are left out.
  static std::string GridRows(const host::TDBGrid& grid, int first, int count);
};

}  // namespace web
