// EJsonRpcError is raised while reading a JSON-RPC 2.0 request that cannot be served as sent. It
// carries the JSON-RPC error code to answer with and the request's id as JSON text ("null" when
// the id could not be read), so the caller can write the error response at once.
//
// Intentionally copyable, like every standard exception.
#pragma once

#include <string>

#include "host/wire/WireError.h"

namespace host::wire {

// The JSON-RPC 2.0 error codes this protocol uses.
namespace rpc_code {
inline constexpr int kParseError = -32700;      // the body is not JSON
inline constexpr int kInvalidRequest = -32600;  // JSON, but not a request object
inline constexpr int kMethodNotFound = -32601;  // no method of that name
inline constexpr int kInvalidParams = -32602;   // wrong number or kind of arguments
inline constexpr int kInternalError = -32603;   // the service failed before answering
inline constexpr int kServerError = -32000;     // the server would not run the call (a limit)
}  // namespace rpc_code

class EJsonRpcError : public EWireError {
 public:
  EJsonRpcError(int code, const std::string& message, std::string idJson = "null")
      : EWireError(message), code_(code), idJson_(std::move(idJson)) {}

  int Code() const { return code_; }
  const std::string& IdJson() const { return idJson_; }

 private:
  int code_;
  std::string idJson_;
};

}  // namespace host::wire
