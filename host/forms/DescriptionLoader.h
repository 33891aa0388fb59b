// DescriptionLoader applies a screen description (DescriptionNode.h) to a form: it creates every
// component it names, owned by the form (fields are owned by their record set), places visual
// components on their enclosing control, sets their properties, and binds every event to the
// handler of that name, looked up in the given handler tables in order (the screen's table, then
// the base screen's). "inherited NAME: CLASS" adjusts a component an earlier description (the
// base screen's) created; nested inside a new control it moves there.
//
// Properties that name components (DataSource, DataSet, ActivePage, Menu, RemoteServer) and tab
// positions (PageIndex) are applied after the whole text is read, so a description may refer to
// components declared further down. Non-functional property names of the platform (fonts, cursor
// types, tab orders, designer positions, ...) are accepted and ignored: IgnoredProperties() lists
// them. Anything else unknown is an error.
//
// Errors raise EDescriptionError with the line and the names involved: syntax, an unknown class,
// an unknown property of a class, a value of the wrong kind, an unknown enumeration name, an
// inherited component that does not exist or has another class, a component name used twice, a
// field outside a record set, a handler found in no table ("handler 'X' for cdsY.BeforeEdit not
// found"), a handler of another signature than the event's, a component reference that names
// nothing or the wrong kind of component, a malformed edit mask, or a grid column naming a
// field its record set lacks. A failed load leaves the form partly built; the caller discards it
// (TApplication::CreateForm does).
//
// Used on the user-interface thread only. Not copyable (holds references).
#pragma once

#include <string_view>
#include <vector>

#include "host/forms/DescriptionError.h"
#include "host/forms/DescriptionNode.h"
#include "host/forms/HandlerTable.h"

namespace host {

class TForm;

class DescriptionLoader {
 public:
  // REQUIRES: form and every table outlive the loader.
  DescriptionLoader(TForm& form, std::vector<const HandlerTable*> tables);
  DescriptionLoader(const DescriptionLoader&) = delete;
  DescriptionLoader& operator=(const DescriptionLoader&) = delete;

  // Parses `text` and applies it (see the class comment).
  void Load(std::string_view text);
  // Applies an already parsed description.
  void Apply(const DescriptionObject& root);

  // The property names accepted on any class and ignored (exact names; entries ending in '.'
  // cover every sub-property under that prefix, e.g. "Font.").
  static const std::vector<std::string_view>& IgnoredProperties();

 private:
  TForm& form_;
  std::vector<const HandlerTable*> tables_;
};

}  // namespace host
