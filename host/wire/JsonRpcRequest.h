// JsonRpcRequest is one JSON-RPC 2.0 call as this protocol sends it:
//
//   {"jsonrpc":"2.0","id":N,"method":"getDados","params":[…]}
//
// with positional parameters only, each either a string or an object (a change packet, kept as
// its JSON text). Parse reads a request body strictly enough that the service never acts on a
// request it misread, and never crashes on arbitrary bytes:
//   - not JSON, invalid UTF-8, text after the object       -> kParseError, id null
//   - not an object, "jsonrpc" not "2.0", no string method,
//     an id missing or not an integer/string/null, params
//     neither an array nor absent, a repeated member        -> kInvalidRequest
//   - params given by name, or a parameter that is neither
//     a string nor an object                                -> kInvalidParams
// A call alone carries an id: the service answers every request over HTTP, so a lone
// notification (no id) is refused as an invalid request. Inside a batch a call without an id is a
// notification, which Parse accepts when asked to (IsNotification then says so). Members other
// than these four are ignored.
//
// Write builds a request body (for clients, tests and benchmarks).
//
// Intentionally copyable. Parse and Write are thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/wire/JsonRpcError.h"

namespace host::wire {

// One positional parameter: a string value, or the JSON text of an object.
struct JsonRpcParam {
  enum class Kind { Text, Object };
  Kind kind = Kind::Text;
  std::string value;

  static JsonRpcParam Text(std::string text) { return {Kind::Text, std::move(text)}; }
  static JsonRpcParam Object(std::string json) { return {Kind::Object, std::move(json)}; }
};

class JsonRpcRequest {
 public:
  // Reads a request body. Raises EJsonRpcError (see the header comment) when it is not a request
  // this protocol can serve.
  static JsonRpcRequest Parse(std::string_view body);
  // Same, but a call without an id is accepted as a notification (a member of a batch).
  static JsonRpcRequest ParseCall(std::string_view body, bool allowNotification);

  // The calls of a batch body (a JSON array), each as its own JSON text, in order. Raises
  // EJsonRpcError kParseError when the body is not JSON, kInvalidRequest when it is not an array,
  // is empty, or holds more than maxCalls elements.
  static std::vector<std::string> SplitBatch(std::string_view body, size_t maxCalls);

  // Returns a request body calling method with these parameters. An Object parameter's value is
  // inserted as it stands. REQUIRES: every Object value is one valid JSON object.
  static std::string Write(int64_t id, std::string_view method, const std::vector<JsonRpcParam>& params);

  // The request's id as JSON text, ready to be echoed in the response ("7", "\"a\"", "null").
  const std::string& IdJson() const { return idJson_; }
  const std::string& Method() const { return method_; }
  const std::vector<JsonRpcParam>& Params() const { return params_; }
  // True when the call carried no id (accepted by ParseCall only): nothing is answered to it.
  bool IsNotification() const { return notification_; }

 private:
  std::string idJson_ = "null";
  std::string method_;
  std::vector<JsonRpcParam> params_;
  bool notification_ = false;
};

}  // namespace host::wire
