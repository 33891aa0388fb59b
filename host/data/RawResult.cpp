#include "host/data/RawResult.h"

#include <simdjson.h>

#include "host/data/DecodedAnswer.h"

namespace host {

namespace od = simdjson::ondemand;

namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw EPacketError("Malformed raw result: " + what);
}

[[noreturn]] void FailJson(simdjson::error_code err, const std::string& where) {
  Fail(std::string(simdjson::error_message(err)) + " (" + where + ")");
}

// Reads one JSON value of "data" into a variant. Objects must be data packets; they become
// packet variants over their own range of buffer.
Variant ReadValue(od::value& value, const std::shared_ptr<const std::string>& buffer,
                  const std::string& where) {
  od::json_type type;
  if (auto err = value.type().get(type)) FailJson(err, where);
  switch (type) {
    case od::json_type::array: {
      od::array array;
      if (auto err = value.get_array().get(array)) FailJson(err, where);
      std::vector<Variant> items;
      for (auto itemResult : array) {
        od::value item;
        if (auto err = std::move(itemResult).get(item)) FailJson(err, where);
        items.push_back(ReadValue(item, buffer, where + "[" + std::to_string(items.size()) + "]"));
      }
      return Variant::FromArray(std::move(items));
    }
    case od::json_type::object: {
      od::object object;
      if (auto err = value.get_object().get(object)) FailJson(err, where);
      bool haveFields = false;
      bool haveRows = false;
      for (auto memberResult : object) {
        od::field member;
        if (auto err = std::move(memberResult).get(member)) FailJson(err, where);
        std::string_view key;
        if (auto err = member.unescaped_key().get(key)) FailJson(err, where);
        if (key == "fields") haveFields = true;
        if (key == "rows") haveRows = true;
        // Stop before walking the rows when both are known: the packet reader validates them.
        if (haveFields && haveRows) break;
      }
      if (!haveFields || !haveRows)
        Fail(where + " is an object without \"fields\" and \"rows\", not a data packet");
      if (auto err = object.reset().error()) FailJson(err, where);
      std::string_view raw;
      if (auto err = object.raw_json().get(raw)) FailJson(err, where);
      const auto offset = static_cast<std::size_t>(raw.data() - buffer->data());
      return Variant::MakeDataPacket(buffer, offset, raw.size());
    }
    case od::json_type::string: {
      std::string_view text;
      if (auto err = value.get_string().get(text)) FailJson(err, where);
      return Variant::FromText(std::string(text));
    }
    case od::json_type::number: {
      std::int64_t number = 0;
      if (auto err = value.get_int64().get(number))
        FailJson(err, where + " must be an integer that fits 64 bits");
      return Variant::FromInt(number);
    }
    case od::json_type::boolean: {
      bool flag = false;
      if (auto err = value.get_bool().get(flag)) FailJson(err, where);
      return Variant::FromBool(flag);
    }
    case od::json_type::null: {
      bool isNull = false;
      if (auto err = value.is_null().get(isNull)) FailJson(err, where);
      if (!isNull) Fail(where + " is not valid JSON");
      return Variant();
    }
  }
  Fail(where + " has an unknown type");
}

}  // namespace

RawResult ParseRawResult(std::shared_ptr<const std::string> body) {
  if (!body) throw EPacketError("Malformed raw result: no body");
  if (body->capacity() < body->size() + kPacketPadding) {
    auto padded = std::make_shared<std::string>();
    padded->reserve(body->size() + kPacketPadding);
    padded->assign(*body);
    body = std::move(padded);
  }
  od::parser parser;
  od::document doc;
  if (auto err = parser.iterate(body->data(), body->size(), body->capacity()).get(doc))
    FailJson(err, "document");
  od::object top;
  if (auto err = doc.get_object().get(top)) FailJson(err, "the result must be a JSON object");

  RawResult result;
  bool haveOk = false;
  bool haveError = false;
  for (auto memberResult : top) {
    od::field member;
    if (auto err = std::move(memberResult).get(member)) FailJson(err, "top level");
    std::string_view key;
    if (auto err = member.unescaped_key().get(key)) FailJson(err, "top level");
    if (key == "ok") {
      if (auto err = member.value().get_bool().get(result.ok))
        FailJson(err, "\"ok\" must be true or false");
      haveOk = true;
    } else if (key == "error") {
      std::string_view text;
      if (auto err = member.value().get_string().get(text))
        FailJson(err, "\"error\" must be a string");
      result.error = std::string(text);
      haveError = true;
    } else if (key == "data") {
      result.data = ReadValue(member.value(), body, "data");
    }
  }
  const char* trailing = nullptr;
  if (!doc.current_location().get(trailing)) Fail("unexpected content after the result");
  if (!haveOk) Fail("no \"ok\"");
  if (result.ok) {
    result.error.clear();
  } else {
    result.data = Variant();
    if (!haveError || result.error.empty())
      result.error = "The server refused the call without a message";
  }
  return result;
}

RawResult ParseRawResult(const Variant& text) {
  // A result decoded as it arrived is already in parts; what it could not be is said the same way.
  if (const auto& decoded = text.DecodedRaw()) {
    if (!decoded->failure.empty()) throw EPacketError(decoded->failure);
    RawResult result;
    result.ok = decoded->ok;
    result.error = decoded->error;
    result.data = decoded->data;
    return result;
  }
  return ParseRawResult(text.TextPtr());
}

}  // namespace host
