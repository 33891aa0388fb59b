#include "host/forms/HandlerTable.h"

#include <iterator>

namespace host {

namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  }
  return out;
}

bool Empty(const Handler& handler) {
  return std::visit([](const auto& f) { return !static_cast<bool>(f); }, handler);
}

}  // namespace

const char* HandlerKindName(std::size_t index) {
  static constexpr const char* kNames[] = {"TNotifyEvent", "TDataSetNotifyEvent", "TKeyPressEvent",
                                           "TKeyEvent",    "TCloseEvent",         "TMouseEvent",
                                           "TFieldGetTextEvent"};
  static_assert(std::size(kNames) == std::variant_size_v<Handler>);
  return index < std::size(kNames) ? kNames[index] : "?";
}

const char* HandlerKindName(const Handler& handler) { return HandlerKindName(handler.index()); }

void HandlerTable::Add(std::string name, Handler handler) {
  if (name.empty()) throw EPlatformError("A handler needs a name");
  if (Empty(handler)) throw EPlatformError("Handler '" + name + "' is empty");
  auto [it, inserted] = handlers_.try_emplace(Lower(name), std::move(handler));
  if (!inserted) throw EPlatformError("Handler '" + name + "' is already in the table");
  names_.push_back(std::move(name));
}

const Handler* HandlerTable::Find(std::string_view name) const {
  auto it = handlers_.find(Lower(name));
  return it == handlers_.end() ? nullptr : &it->second;
}

}  // namespace host
