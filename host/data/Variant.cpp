#include "host/data/Variant.h"

#include <utility>

#include "host/data/DecodedAnswer.h"

namespace host {

namespace {

[[noreturn]] void WrongKind(VariantKind actual, const char* wanted) {
  throw EVariantError(std::string("Variant of kind ") + VariantKindName(actual) +
                      " cannot be read as " + wanted);
}

std::shared_ptr<const std::string> PaddedCopy(std::string_view json) {
  auto buffer = std::make_shared<std::string>();
  buffer->reserve(json.size() + kPacketPadding);
  buffer->assign(json);
  return buffer;
}

const std::string& EmptyText() {
  static const std::string empty;
  return empty;
}

}  // namespace

const char* VariantKindName(VariantKind kind) {
  switch (kind) {
    case VariantKind::Null:
      return "Null";
    case VariantKind::Bool:
      return "Bool";
    case VariantKind::Int:
      return "Int";
    case VariantKind::Text:
      return "Text";
    case VariantKind::Array:
      return "Array";
    case VariantKind::DataPacket:
      return "DataPacket";
    case VariantKind::ChangePacket:
      return "ChangePacket";
  }
  return "Unknown";
}

Variant Variant::FromBool(bool value) {
  Variant v;
  v.kind_ = VariantKind::Bool;
  v.bool_ = value;
  return v;
}

Variant Variant::FromInt(std::int64_t value) {
  Variant v;
  v.kind_ = VariantKind::Int;
  v.int_ = value;
  return v;
}

Variant Variant::FromText(std::string text) {
  return FromText(std::make_shared<const std::string>(std::move(text)));
}

Variant Variant::FromText(std::shared_ptr<const std::string> text) {
  Variant v;
  v.kind_ = VariantKind::Text;
  v.text_ = text ? std::move(text) : std::make_shared<const std::string>();
  return v;
}

Variant Variant::FromArray(std::vector<Variant> items) {
  Variant v;
  v.kind_ = VariantKind::Array;
  v.items_ = std::make_shared<const std::vector<Variant>>(std::move(items));
  return v;
}

Variant Variant::MakeDataPacket(std::shared_ptr<const std::string> buffer, std::size_t offset,
                                std::size_t length) {
  return MakePacket(VariantKind::DataPacket, std::move(buffer), offset, length);
}

Variant Variant::MakeChangePacket(std::shared_ptr<const std::string> buffer, std::size_t offset,
                                  std::size_t length) {
  return MakePacket(VariantKind::ChangePacket, std::move(buffer), offset, length);
}

Variant Variant::MakeDataPacket(std::string_view json) {
  return MakeDataPacket(PaddedCopy(json), 0, json.size());
}

Variant Variant::MakeChangePacket(std::string_view json) {
  return MakeChangePacket(PaddedCopy(json), 0, json.size());
}

Variant Variant::FromDecodedPacket(std::shared_ptr<const DecodedPacket> packet) {
  if (!packet) throw EVariantError("A decoded packet variant needs its packet");
  Variant v;
  v.kind_ = VariantKind::DataPacket;
  v.decoded_ = std::move(packet);
  return v;
}

Variant Variant::FromDecodedResult(std::shared_ptr<const DecodedResult> result) {
  if (!result) throw EVariantError("A decoded result variant needs its result");
  Variant v;
  v.kind_ = VariantKind::Text;
  v.result_ = std::move(result);
  return v;
}

Variant Variant::MakePacket(VariantKind kind, std::shared_ptr<const std::string> buffer,
                            std::size_t offset, std::size_t length) {
  if (!buffer) throw EVariantError("A packet variant needs a buffer");
  if (offset > buffer->size() || length > buffer->size() - offset)
    throw EVariantError("Packet range lies outside its buffer");
  if (buffer->capacity() < offset + length + kPacketPadding)
    throw EVariantError("Packet buffer lacks the " + std::to_string(kPacketPadding) +
                        " bytes of padding after the packet");
  Variant v;
  v.kind_ = kind;
  v.text_ = std::move(buffer);
  v.offset_ = offset;
  v.length_ = length;
  return v;
}

bool Variant::AsBool() const {
  if (kind_ != VariantKind::Bool) WrongKind(kind_, "Bool");
  return bool_;
}

std::int64_t Variant::AsInt() const {
  if (kind_ != VariantKind::Int) WrongKind(kind_, "Int");
  return int_;
}

const std::string& Variant::AsText() const {
  if (kind_ == VariantKind::Null) return EmptyText();
  if (kind_ != VariantKind::Text) WrongKind(kind_, "Text");
  return result_ ? *result_->Text() : *text_;
}

std::shared_ptr<const std::string> Variant::TextPtr() const {
  if (kind_ != VariantKind::Text) WrongKind(kind_, "Text");
  return result_ ? result_->Text() : text_;
}

std::size_t Variant::Count() const {
  if (kind_ != VariantKind::Array) WrongKind(kind_, "Array");
  return items_->size();
}

const Variant& Variant::Item(std::size_t i) const {
  if (kind_ != VariantKind::Array) WrongKind(kind_, "Array");
  if (i >= items_->size())
    throw EVariantError("Variant array index " + std::to_string(i) + " out of bounds [0.." +
                        std::to_string(static_cast<std::int64_t>(items_->size()) - 1) + "]");
  return (*items_)[i];
}

std::int64_t Variant::LowBound() const {
  if (kind_ != VariantKind::Array) WrongKind(kind_, "Array");
  return 0;
}

std::int64_t Variant::HighBound() const {
  return static_cast<std::int64_t>(Count()) - 1;
}

std::string_view Variant::PacketJson() const {
  if (!IsPacket()) WrongKind(kind_, "a packet");
  if (decoded_) return *decoded_->Json();
  return std::string_view(*text_).substr(offset_, length_);
}

const std::shared_ptr<const std::string>& Variant::PacketBuffer() const {
  if (!IsPacket()) WrongKind(kind_, "a packet");
  return decoded_ ? decoded_->Json() : text_;
}

std::size_t Variant::PacketOffset() const {
  if (!IsPacket()) WrongKind(kind_, "a packet");
  return decoded_ ? 0 : offset_;
}

std::string Variant::DebugString() const {
  switch (kind_) {
    case VariantKind::Null:
      return "null";
    case VariantKind::Bool:
      return bool_ ? "true" : "false";
    case VariantKind::Int:
      return std::to_string(int_);
    case VariantKind::Text:
      return "\"" + AsText() + "\"";
    case VariantKind::Array: {
      std::string out = "[";
      for (std::size_t i = 0; i < items_->size(); ++i) {
        if (i) out += ",";
        out += (*items_)[i].DebugString();
      }
      return out + "]";
    }
    case VariantKind::DataPacket:
    case VariantKind::ChangePacket:
      if (decoded_)
        return std::string(VariantKindName(kind_)) + "(" + std::to_string(decoded_->store.RowCount()) +
               " rows decoded)";
      return std::string(VariantKindName(kind_)) + "(" + std::to_string(length_) + " bytes)";
  }
  return "?";
}

}  // namespace host
