#include "host/data/DecodedAnswer.h"

#include <string_view>

namespace host {

namespace {

// Appends value as JSON: packets as their text, arrays element by element, the rest as literals.
void AppendJson(std::string& out, const Variant& value) {
  switch (value.Kind()) {
    case VariantKind::Null: out += "null"; break;
    case VariantKind::Bool: out += value.AsBool() ? "true" : "false"; break;
    case VariantKind::Int: out += std::to_string(value.AsInt()); break;
    case VariantKind::Text: wire::PacketWriter::AppendJsonString(out, value.AsText()); break;
    case VariantKind::Array:
      out += '[';
      for (std::size_t i = 0; i < value.Count(); ++i) {
        if (i) out += ',';
        AppendJson(out, value[i]);
      }
      out += ']';
      break;
    case VariantKind::DataPacket:
    case VariantKind::ChangePacket: out += value.PacketJson(); break;
  }
}

}  // namespace

const std::shared_ptr<const std::string>& DecodedPacket::Json() const {
  std::call_once(jsonOnce_, [this] {
    auto out = std::make_shared<std::string>();
    wire::PacketWriter writer(*out);
    writer.BeginData(fields);
    std::vector<std::string_view> values(fields.size());
    for (std::size_t row = 0; error.empty() && row < store.RowCount(); ++row) {
      for (std::size_t c = 0; c < values.size(); ++c)
        values[c] = store.Cell(static_cast<RowId>(row), static_cast<int>(c));
      writer.Row(values);
    }
    writer.End();
    out->reserve(out->size() + kPacketPadding);
    json_ = std::move(out);
  });
  return json_;
}

const std::shared_ptr<const std::string>& DecodedResult::Text() const {
  std::call_once(textOnce_, [this] {
    if (received) {
      text_ = received;
      return;
    }
    auto out = std::make_shared<std::string>();
    *out += ok ? "{\"ok\":true,\"data\":" : "{\"ok\":false,\"error\":";
    if (ok) {
      AppendJson(*out, data);
    } else {
      wire::PacketWriter::AppendJsonString(*out, error);
    }
    *out += '}';
    out->reserve(out->size() + kPacketPadding);
    text_ = std::move(out);
  });
  return text_;
}

}  // namespace host
