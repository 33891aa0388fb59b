#include "host/wire/JsonRpcRequest.h"

#include <simdjson.h>

#include <optional>

#include "host/wire/PacketWriter.h"

namespace host::wire {
namespace {

namespace od = simdjson::ondemand;

// True when the whole input has been read (nothing but white space after the top value).
bool AtEnd(od::document& doc) { return doc.current_location().error() == simdjson::OUT_OF_BOUNDS; }

[[noreturn]] void ParseError(simdjson::error_code error) {
  throw EJsonRpcError(rpc_code::kParseError,
                      std::string("Parse error: the request is not valid JSON (") +
                          simdjson::error_message(error) + ")");
}

void CheckParse(simdjson::error_code error) {
  if (error != simdjson::SUCCESS) ParseError(error);
}

// Reads the type of a value; a failure here means the text is not JSON.
od::json_type TypeOf(od::value& value) {
  od::json_type type{};
  CheckParse(value.type().get(type));
  return type;
}

}  // namespace

JsonRpcRequest JsonRpcRequest::Parse(std::string_view body) {
  const simdjson::padded_string padded(body);
  od::parser parser;
  od::document doc;
  CheckParse(parser.iterate(padded).get(doc));
  od::json_type topType{};
  CheckParse(doc.type().get(topType));
  if (topType == od::json_type::array) {
    throw EJsonRpcError(rpc_code::kInvalidRequest, "Invalid request: batch requests are not supported");
  }
  if (topType != od::json_type::object) {
    throw EJsonRpcError(rpc_code::kInvalidRequest, "Invalid request: the request is not a JSON object");
  }
  od::object object;
  CheckParse(doc.get_object().get(object));

  JsonRpcRequest request;
  std::optional<std::string> invalid;    // first reason the request is invalid
  std::optional<std::string> badParams;  // first reason the parameters are unusable
  bool hasVersion = false, hasId = false, hasMethod = false, hasParams = false;
  const auto markInvalid = [&](std::string reason) {
    if (!invalid) invalid = "Invalid request: " + std::move(reason);
  };

  for (auto member : object) {
    od::field field;
    CheckParse(std::move(member).get(field));
    std::string_view key;
    CheckParse(field.unescaped_key().get(key));
    od::value value = field.value();
    if (key == "jsonrpc") {
      if (hasVersion) markInvalid("\"jsonrpc\" appears twice");
      hasVersion = true;
      std::string_view version;
      if (TypeOf(value) != od::json_type::string) {
        markInvalid("\"jsonrpc\" must be \"2.0\"");
      } else {
        CheckParse(value.get_string().get(version));
        if (version != "2.0") markInvalid("\"jsonrpc\" must be \"2.0\"");
      }
    } else if (key == "id") {
      if (hasId) markInvalid("\"id\" appears twice");
      hasId = true;
      switch (TypeOf(value)) {
        case od::json_type::string: {
          std::string_view id;
          CheckParse(value.get_string().get(id));
          request.idJson_.clear();
          PacketWriter::AppendJsonString(request.idJson_, id);
          break;
        }
        case od::json_type::number: {
          int64_t signedId = 0;
          uint64_t unsignedId = 0;
          if (value.get_int64().get(signedId) == simdjson::SUCCESS) {
            request.idJson_ = std::to_string(signedId);
          } else if (value.get_uint64().get(unsignedId) == simdjson::SUCCESS) {
            request.idJson_ = std::to_string(unsignedId);
          } else {
            markInvalid("\"id\" must be an integer or a string");
          }
          break;
        }
        case od::json_type::null:
          request.idJson_ = "null";
          break;
        default:
          markInvalid("\"id\" must be an integer or a string");
      }
    } else if (key == "method") {
      if (hasMethod) markInvalid("\"method\" appears twice");
      hasMethod = true;
      if (TypeOf(value) != od::json_type::string) {
        markInvalid("\"method\" must be a string");
      } else {
        std::string_view method;
        CheckParse(value.get_string().get(method));
        request.method_.assign(method);
      }
    } else if (key == "params") {
      if (hasParams) markInvalid("\"params\" appears twice");
      hasParams = true;
      const od::json_type type = TypeOf(value);
      if (type == od::json_type::object) {
        if (!badParams) badParams = "Invalid params: parameters must be positional (an array)";
        continue;
      }
      if (type != od::json_type::array) {
        markInvalid("\"params\" must be an array");
        continue;
      }
      od::array array;
      CheckParse(value.get_array().get(array));
      request.params_.clear();
      for (auto element : array) {
        od::value param;
        CheckParse(std::move(element).get(param));
        const od::json_type paramType = TypeOf(param);
        if (paramType == od::json_type::string) {
          std::string_view text;
          CheckParse(param.get_string().get(text));
          request.params_.push_back(JsonRpcParam::Text(std::string(text)));
        } else if (paramType == od::json_type::object) {
          od::object packet;
          CheckParse(param.get_object().get(packet));
          std::string_view raw;
          CheckParse(packet.raw_json().get(raw));
          request.params_.push_back(JsonRpcParam::Object(std::string(raw)));
        } else {
          if (!badParams) {
            badParams = "Invalid params: parameter " + std::to_string(request.params_.size() + 1) +
                        " is neither a string nor an object";
          }
          request.params_.push_back(JsonRpcParam::Text({}));
        }
      }
    }
  }
  if (!AtEnd(doc)) ParseError(simdjson::TRAILING_CONTENT);

  if (!hasVersion) markInvalid("\"jsonrpc\" is missing");
  if (!hasMethod) markInvalid("\"method\" is missing");
  if (!hasId) markInvalid("\"id\" is missing (notifications are not supported)");
  // An id that could not be read is not echoed.
  const std::string idJson = invalid && hasId && request.idJson_.empty() ? "null" : request.idJson_;
  if (invalid) throw EJsonRpcError(rpc_code::kInvalidRequest, *invalid, idJson);
  if (badParams) throw EJsonRpcError(rpc_code::kInvalidParams, *badParams, idJson);
  return request;
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
