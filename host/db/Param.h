// TParam is one named parameter of a local query (":P_CDARVPROD" in the SQL is the parameter
// "P_CDARVPROD"). It holds a text value, or null until a value is given. Queries bind it by name
// when they open; its value never becomes part of the SQL text.
//
// Used on the user-interface thread only. Intentionally copyable and movable (a plain value).
#pragma once

#include <string>
#include <string_view>

namespace host {

class TParam {
 public:
  explicit TParam(std::string name) : name_(std::move(name)) {}

  // The name as written in the SQL, without the leading ':'.
  const std::string& Name() const { return name_; }
  // The value; "" while null.
  const std::string& AsString() const { return value_; }
  // Gives the parameter a text value (any text: quotes and the like are bound, never spliced).
  void SetAsString(std::string_view value) {
    value_ = std::string(value);
    null_ = false;
  }
  // True until a value is given (a null parameter is bound as SQL NULL).
  bool IsNull() const { return null_; }
  void Clear() {
    value_.clear();
    null_ = true;
  }

 private:
  std::string name_;
  std::string value_;
  bool null_ = true;
};

}  // namespace host
