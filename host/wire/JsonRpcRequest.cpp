#include "host/wire/JsonRpcRequest.h"

#include <simdjson.h>

#include <optional>

#include "host/wire/PacketWriter.h"

namespace host::wire {
namespace {

namespace dom = simdjson::dom;

// The whole body is parsed and validated before anything is read from it (requests are small),
// so a request with a malformed part anywhere is a parse error, never half-read.
[[noreturn]] void ParseError(simdjson::error_code error) {
  throw EJsonRpcError(rpc_code::kParseError,
                      std::string("Parse error: the request is not valid JSON (") +
                          simdjson::error_message(error) + ")");
}

}  // namespace

JsonRpcRequest JsonRpcRequest::Parse(std::string_view body) { return ParseCall(body, false); }

JsonRpcRequest JsonRpcRequest::ParseCall(std::string_view body, bool allowNotification) {
  dom::parser parser;
  dom::element root;
  const simdjson::error_code parsed = parser.parse(body.data(), body.size()).get(root);
  if (parsed != simdjson::SUCCESS) ParseError(parsed);
  if (root.is_array()) {
    throw EJsonRpcError(rpc_code::kInvalidRequest, "Invalid request: batch requests are not supported");
  }
  if (!root.is_object()) {
    throw EJsonRpcError(rpc_code::kInvalidRequest, "Invalid request: the request is not a JSON object");
  }

  JsonRpcRequest request;
  std::optional<std::string> invalid;    // first reason the request is invalid
  std::optional<std::string> badParams;  // first reason the parameters are unusable
  bool hasVersion = false, hasId = false, idUsable = false, hasMethod = false, hasParams = false;
  const auto markInvalid = [&](std::string reason) {
    if (!invalid) invalid = "Invalid request: " + std::move(reason);
  };

  for (const dom::key_value_pair member : dom::object(root)) {
    const std::string_view key = member.key;
    const dom::element value = member.value;
    if (key == "jsonrpc") {
      if (hasVersion) markInvalid("\"jsonrpc\" appears twice");
      hasVersion = true;
      if (!value.is_string() || std::string_view(value.get_string()) != "2.0") {
        markInvalid("\"jsonrpc\" must be \"2.0\"");
      }
    } else if (key == "id") {
      if (hasId) markInvalid("\"id\" appears twice");
      hasId = true;
      idUsable = true;
      if (value.is_string()) {
        request.idJson_.clear();
        PacketWriter::AppendJsonString(request.idJson_, std::string_view(value.get_string()));
      } else if (value.is_int64()) {
        request.idJson_ = std::to_string(int64_t(value.get_int64()));
      } else if (value.is_uint64()) {
        request.idJson_ = std::to_string(uint64_t(value.get_uint64()));
      } else if (value.is_null()) {
        request.idJson_ = "null";
      } else {
        idUsable = false;
        markInvalid("\"id\" must be an integer or a string");
      }
    } else if (key == "method") {
      if (hasMethod) markInvalid("\"method\" appears twice");
      hasMethod = true;
      if (!value.is_string()) {
        markInvalid("\"method\" must be a string");
      } else {
        request.method_.assign(std::string_view(value.get_string()));
      }
    } else if (key == "params") {
      if (hasParams) markInvalid("\"params\" appears twice");
      hasParams = true;
      if (value.is_object()) {
        if (!badParams) badParams = "Invalid params: parameters must be positional (an array)";
        continue;
      }
      if (!value.is_array()) {
        markInvalid("\"params\" must be an array");
        continue;
      }
      request.params_.clear();
      for (const dom::element param : dom::array(value)) {
        if (param.is_string()) {
          request.params_.push_back(JsonRpcParam::Text(std::string(std::string_view(param.get_string()))));
        } else if (param.is_object()) {
          request.params_.push_back(JsonRpcParam::Object(simdjson::minify(param)));
        } else {
          if (!badParams) {
            badParams = "Invalid params: parameter " + std::to_string(request.params_.size() + 1) +
                        " is neither a string nor an object";
          }
          request.params_.push_back(JsonRpcParam::Text({}));
        }
      }
    }
    // Other members are ignored.
  }

  if (!hasVersion) markInvalid("\"jsonrpc\" is missing");
  if (!hasMethod) markInvalid("\"method\" is missing");
  if (!hasId && !allowNotification) markInvalid("\"id\" is missing (notifications are not supported)");
  request.notification_ = !hasId;
  if (!idUsable) request.idJson_ = "null";
  if (invalid) throw EJsonRpcError(rpc_code::kInvalidRequest, *invalid, request.idJson_);
  if (badParams) throw EJsonRpcError(rpc_code::kInvalidParams, *badParams, request.idJson_);
  return request;
}

std::vector<std::string> JsonRpcRequest::SplitBatch(std::string_view body, size_t maxCalls) {
  dom::parser parser;
  dom::element root;
  const simdjson::error_code parsed = parser.parse(body.data(), body.size()).get(root);
  if (parsed != simdjson::SUCCESS) ParseError(parsed);
  if (!root.is_array()) throw EJsonRpcError(rpc_code::kInvalidRequest, "Invalid request: a batch is a JSON array");
  const dom::array calls = dom::array(root);
  if (calls.size() == 0) throw EJsonRpcError(rpc_code::kInvalidRequest, "Invalid request: the batch is empty");
  if (calls.size() > maxCalls) {
    throw EJsonRpcError(rpc_code::kInvalidRequest,
                        "Invalid request: a batch holds at most " + std::to_string(maxCalls) + " calls");
  }
  std::vector<std::string> out;
  out.reserve(calls.size());
  for (const dom::element call : calls) out.push_back(simdjson::minify(call));
  return out;
}

std::string JsonRpcRequest::Write(int64_t id, std::string_view method, const std::vector<JsonRpcParam>& params) {
  std::string out = R"({"jsonrpc":"2.0","id":)";
  out += std::to_string(id);
  out += R"(,"method":)";
  PacketWriter::AppendJsonString(out, method);
  out += R"(,"params":[)";
  for (size_t i = 0; i < params.size(); ++i) {
    if (i > 0) out += ',';
    if (params[i].kind == JsonRpcParam::Kind::Object) {
      out += params[i].value;
    } else {
      PacketWriter::AppendJsonString(out, params[i].value);
    }
  }
  out += "]}";
  return out;
}

}  // namespace host::wire
