// RawResult writes the value every remote method returns, which the client's result check reads:
//
//   {"ok":true,"data":<data>}          the call succeeded; data is the method's answer
//   {"ok":false,"error":"<message>"}   the service refused; the message is shown to the user
//
// For data too large to hold in memory, a caller writes OkPrefix, then the data piece by piece,
// then OkSuffix.
//
// Stateless; the static functions are thread-safe. A message that is not valid UTF-8 is written
// with U+FFFD in place of the offending bytes.
#pragma once

#include <string>
#include <string_view>

namespace host::wire {

class RawResult {
 public:
  RawResult() = delete;

  // A success value around data. REQUIRES: dataJson is valid JSON text.
  static std::string Ok(std::string_view dataJson);

  // A refusal with this message for the user.
  static std::string Error(std::string_view message);

  static std::string_view OkPrefix() { return R"({"ok":true,"data":)"; }
  static std::string_view OkSuffix() { return "}"; }
};

}  // namespace host::wire
