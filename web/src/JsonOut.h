// JsonOut writes the small JSON documents the browser host hands to the page (dialogs, the
// screen's drawing state, rows), with RapidJSON's writer: keys and values as given, texts checked
// as UTF-8 (a bad byte becomes U+FFFD rather than breaking the page's parser).
//
// Not copyable; one document per object.
#pragma once

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <string>
#include <string_view>

namespace web {

class JsonOut {
 public:
  JsonOut() : writer_(buffer_) {}
  JsonOut(const JsonOut&) = delete;
  JsonOut& operator=(const JsonOut&) = delete;

  JsonOut& Begin() { writer_.StartObject(); return *this; }
  JsonOut& End() { writer_.EndObject(); return *this; }
  JsonOut& BeginArray() { writer_.StartArray(); return *this; }
  JsonOut& EndArray() { writer_.EndArray(); return *this; }
  JsonOut& Key(std::string_view key) {
    writer_.Key(key.data(), static_cast<rapidjson::SizeType>(key.size()));
    return *this;
  }
  JsonOut& Text(std::string_view text);
  JsonOut& Number(double value) { writer_.Double(value); return *this; }
  JsonOut& Int(long long value) { writer_.Int64(value); return *this; }
  JsonOut& Bool(bool value) { writer_.Bool(value); return *this; }
  JsonOut& Null() { writer_.Null(); return *this; }

  // key: value shorthands.
  JsonOut& Field(std::string_view key, std::string_view text) { return Key(key).Text(text); }
  JsonOut& Field(std::string_view key, const char* text) { return Key(key).Text(text); }
  JsonOut& Field(std::string_view key, const std::string& text) { return Key(key).Text(text); }
  JsonOut& Field(std::string_view key, int value) { return Key(key).Int(value); }
  JsonOut& Field(std::string_view key, bool value) { return Key(key).Bool(value); }

  // The document written so far; valid until the next write.
  const char* c_str() const { return buffer_.GetString(); }
  std::string str() const { return std::string(buffer_.GetString(), buffer_.GetSize()); }

 private:
  rapidjson::StringBuffer buffer_;
  rapidjson::Writer<rapidjson::StringBuffer> writer_;
};

}  // namespace web
