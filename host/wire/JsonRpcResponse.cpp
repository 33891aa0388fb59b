#include "host/wire/JsonRpcResponse.h"

#include "host/wire/PacketWriter.h"

namespace host::wire {

std::string JsonRpcResponse::ResultPrefix(std::string_view idJson) {
  std::string out = R"({"jsonrpc":"2.0","id":)";
  out += idJson;
  out += R"(,"result":)";
  return out;
}

std::string JsonRpcResponse::Result(std::string_view idJson, std::string_view rawResultJson) {
  std::string out = ResultPrefix(idJson);
  out += rawResultJson;
  out += ResultSuffix();
  return out;
}

std::string JsonRpcResponse::Error(std::string_view idJson, int code, std::string_view message) {
  std::string out = R"({"jsonrpc":"2.0","id":)";
  out += idJson;
  out += R"(,"error":{"code":)";
  out += std::to_string(code);
  out += R"(,"message":)";
  PacketWriter::AppendJsonString(out, message);
  out += "}}";
  return out;
}

}  // namespace host::wire
