#include "host/wire/RawResult.h"

#include "host/wire/PacketWriter.h"

namespace host::wire {

std::string RawResult::Ok(std::string_view dataJson) {
  std::string out(OkPrefix());
  out += dataJson;
  out += OkSuffix();
  return out;
}

std::string RawResult::Error(std::string_view message) {
  std::string out = R"({"ok":false,"error":)";
  PacketWriter::AppendJsonString(out, message);
  out += '}';
  return out;
}

}  // namespace host::wire
