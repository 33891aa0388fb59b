// JsonRpcResponse writes the body of a JSON-RPC 2.0 response:
//
//   {"jsonrpc":"2.0","id":N,"result":<raw result>}
//   {"jsonrpc":"2.0","id":N,"error":{"code":-32602,"message":"…"}}
//
// The raw result is JSON text written by RawResult. For a result too large to hold in memory, a
// caller writes ResultPrefix, then the raw result piece by piece, then ResultSuffix.
//
// Stateless; the static functions are thread-safe. Messages that are not valid UTF-8 are written
// with U+FFFD in place of the offending bytes.
#pragma once

#include <string>
#include <string_view>

namespace host::wire {

class JsonRpcResponse {
 public:
  JsonRpcResponse() = delete;

  // A success response. REQUIRES: idJson and rawResultJson are valid JSON texts.
  static std::string Result(std::string_view idJson, std::string_view rawResultJson);

  // An error response with this code and message. REQUIRES: idJson is valid JSON text.
  static std::string Error(std::string_view idJson, int code, std::string_view message);

  // The text that comes before the raw result in a success response, and the text after it.
  static std::string ResultPrefix(std::string_view idJson);
  static std::string_view ResultSuffix() { return "}"; }
};

}  // namespace host::wire
