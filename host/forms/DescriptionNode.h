// The parsed form of a screen description: a tree of objects, each with its properties and
// nested objects, every element carrying the line it came from. DescriptionParser produces it;
// DescriptionLoader applies it to a form. Plain values: intentionally copyable and movable.
//
// Text form (UTF-8):
//   object NAME: CLASS            a new component (or: inherited NAME: CLASS to adjust a
//     Prop = value                component the base description created)
//     object CHILD: CLASS ... end nested components
//   end
// Values: integers (-11, $FF), decimals (1.5), strings ('it''s', #231 code points, parts joined
// by + or written side by side), identifiers (True, alClient, dtsPadrao), sets ([a, b]), lists
// of values in parentheses (one string per line for SQL.Strings), collections (< item ... end >)
// and binary data in braces ({ 0A1B }).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace host {

struct DescriptionProperty;

// One collection item: its properties.
struct DescriptionItem {
  int line = 0;
  std::vector<DescriptionProperty> properties;
};

struct DescriptionValue {
  enum class Kind { kInteger, kDecimal, kString, kIdentifier, kSet, kList, kCollection, kBinary };

  Kind kind = Kind::kInteger;
  int line = 0;
  std::int64_t integer = 0;
  double decimal = 0;
  // kString: the text (UTF-8); kIdentifier: the name; kBinary: the hex digits; kDecimal: as written.
  std::string text;
  // kSet: the identifiers.
  std::vector<std::string> names;
  // kList: the values in order.
  std::vector<DescriptionValue> items;
  // kCollection: the items in order.
  std::vector<DescriptionItem> collection;
};

struct DescriptionProperty {
  int line = 0;
  std::string name;  // possibly dotted: "Title.Caption", "SQL.Strings"
  DescriptionValue value;
};

struct DescriptionObject {
  int line = 0;
  bool inherited = false;  // "inherited" (or "inline"): adjusts an existing component
  std::string name;
  std::string className;
  std::vector<DescriptionProperty> properties;
  std::vector<DescriptionObject> children;
};

// The name of a value kind ("integer", "string", ...), for messages.
const char* DescriptionValueKindName(DescriptionValue::Kind kind);

}  // namespace host
