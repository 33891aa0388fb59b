#include "host/net/AnswerBuilder.h"

#include <charconv>
#include <utility>

#include "host/data/SameName.h"
#include "host/net/PlainRows.h"
#include "host/wire/Utf8.h"

namespace host {

namespace {

// The value of an integer token; nullopt for a fraction, an exponent or one past 64 bits.
std::optional<std::int64_t> Integer(std::string_view n) {
  std::int64_t value = 0;
  const auto [end, ec] = std::from_chars(n.data(), n.data() + n.size(), value);
  if (ec != std::errc() || end != n.data() + n.size()) return std::nullopt;
  return value;
}

std::optional<std::int64_t> IntegerOf(JsonKind kind, std::string_view text) {
  return kind == JsonKind::Number ? Integer(text) : std::nullopt;
}

}  // namespace

// ---- faults ----------------------------------------------------------------------------------

bool AnswerBuilder::Fail(std::string message) {
  if (failure_.empty()) failure_ = std::move(message);
  return false;
}

void AnswerBuilder::ResultFail(const std::string& what) {
  if (resultFailure_.empty()) resultFailure_ = "Malformed raw result: " + what;
  for (std::size_t i = frames_.size(); i-- > 0 && frames_[i] != Frame::Envelope;) frames_[i] = Frame::Skip;
  arrays_.clear();
  packet_.reset();
  data_ = Variant();
}

void AnswerBuilder::PacketFail(const std::string& what) {
  if (packet_->error.empty()) packet_->error = "Malformed data packet: " + what;
  packet_->store = RowStore(0);
  for (std::size_t i = frames_.size(); i-- > 0 && frames_[i] != Frame::Packet;) frames_[i] = Frame::Skip;
}

std::string AnswerBuilder::DataWhere() const {
  std::string where = "data";
  for (const auto& items : arrays_) where += "[" + std::to_string(items.size()) + "]";
  return where;
}

std::string AnswerBuilder::FieldWhere() const { return "field " + std::to_string(packet_->fields.size() + 1); }
std::string AnswerBuilder::RowWhere() const { return "row " + std::to_string(rowNumber_); }
std::string AnswerBuilder::ValueWhere() const { return RowWhere() + ", value " + std::to_string(column_ + 1); }

// ---- containers opening ----------------------------------------------------------------------

bool AnswerBuilder::Push(Frame frame) {
  frames_.push_back(frame);
  return true;
}

bool AnswerBuilder::BeginContainer(bool object) {
  if (frames_.empty()) {
    if (!object) return Fail("a resposta não é um objeto JSON");
    return Push(Frame::Envelope);
  }
  switch (Top()) {
    case Frame::Envelope: return BeginInEnvelope(object);
    case Frame::Result:
    case Frame::DataArray:
      if (DataSlot()) return BeginData(object);
      break;
    case Frame::Packet: return BeginInPacket(object);
    case Frame::Fields: return BeginField(object);
    case Frame::Field:
      if (key_ == "name" || key_ == "size") PacketFail(FieldWhere() + ": \"" + key_ + "\" has the wrong type");
      break;
    case Frame::Rows: return BeginRow(object);
    case Frame::Row: PacketFail(ValueWhere() + " is not a string"); break;
    case Frame::EnvError:
      if (key_ == "code") return Fail("código de erro não numérico");
      if (key_ == "message") return Fail("mensagem de erro não textual");
      break;
    case Frame::Skip: break;
  }
  return Push(Frame::Skip);
}

bool AnswerBuilder::TakeResultSlot() {
  if (hasResult_) return Fail("\"result\" repetido");
  hasResult_ = true;
  return true;
}

bool AnswerBuilder::BeginInEnvelope(bool object) {
  if (key_ == "result") {
    if (!TakeResultSlot()) return false;
    if (object) return Push(Frame::Result);
    ResultFail("the result must be a JSON object");
  } else if (key_ == "error") {
    if (!object) return Fail("erro sem objeto");
    hasError_ = true;
    return Push(Frame::EnvError);
  }
  return Push(Frame::Skip);
}

// An array among the data, or a packet (the only objects the data holds; packets do not nest).
bool AnswerBuilder::BeginData(bool object) {
  if (!object) {
    arrays_.emplace_back();
    return Push(Frame::DataArray);
  }
  packet_ = std::make_shared<DecodedPacket>();
  sawFields_ = sawRows_ = haveFields_ = haveRows_ = false;
  width_ = 0;
  rowNumber_ = 0;
  return Push(Frame::Packet);
}

bool AnswerBuilder::BeginInPacket(bool object) {
  if (!packet_->error.empty()) return Push(Frame::Skip);
  if (key_ == "fields") {
    if (haveFields_) {
      PacketFail("\"fields\" appears twice");
    } else if (object) {
      PacketFail("\"fields\" must be an array");
    } else {
      return Push(Frame::Fields);
    }
  } else if (key_ == "rows") {
    if (!haveFields_) {
      PacketFail("\"rows\" must come after \"fields\"");
    } else if (haveRows_) {
      PacketFail("\"rows\" appears twice");
    } else if (object) {
      PacketFail("\"rows\" must be an array");
    } else {
      haveRows_ = true;
      return Push(Frame::Rows);
    }
  }
  return Push(Frame::Skip);
}

bool AnswerBuilder::BeginField(bool object) {
  if (!object) {
    PacketFail(FieldWhere() + " is not an object");
    return Push(Frame::Skip);
  }
  fieldName_.clear();
  haveName_ = false;
  fieldSize_ = kDefaultFieldSize;
  return Push(Frame::Field);
}

bool AnswerBuilder::BeginRow(bool object) {
  ++rowNumber_;
  if (object) {
    PacketFail(RowWhere() + " is not an array");
    return Push(Frame::Skip);
  }
  row_ = packet_->store.AddEmptyRow();
  column_ = 0;
  return Push(Frame::Row);
}

// ---- containers closing ----------------------------------------------------------------------

bool AnswerBuilder::EndContainer() {
  const Frame closing = Top();
  frames_.pop_back();
  switch (closing) {
    case Frame::Field: EndField(); break;
    case Frame::Fields: EndFields(); break;
    case Frame::Row:
      if (column_ != width_)
        PacketFail(RowWhere() + " has " + std::to_string(column_) + " values, expected " + std::to_string(width_));
      break;
    case Frame::Packet: EndPacket(); break;
    case Frame::DataArray: {
      Variant array = Variant::FromArray(std::move(arrays_.back()));
      arrays_.pop_back();
      PutData(std::move(array));
      break;
    }
    case Frame::Result: EndResult(); break;
    default: break;
  }
  return true;
}

void AnswerBuilder::EndField() {
  if (!haveName_ || fieldName_.empty()) {
    PacketFail(FieldWhere() + " has no name");
    return;
  }
  for (const auto& other : packet_->fields) {
    if (SameName(other.name, fieldName_)) {
      PacketFail("field \"" + fieldName_ + "\" appears twice");
      return;
    }
  }
  packet_->fields.push_back({fieldName_, fieldSize_});
}

void AnswerBuilder::EndFields() {
  haveFields_ = true;
  width_ = static_cast<int>(packet_->fields.size());
  packet_->store = RowStore(width_);
  packet_->widest.assign(packet_->fields.size(), 0);
}

void AnswerBuilder::EndPacket() {
  std::shared_ptr<DecodedPacket> done = std::move(packet_);
  packet_.reset();
  if (!sawFields_ || !sawRows_) {
    ResultFail(DataWhere() + " is an object without \"fields\" and \"rows\", not a data packet");
    return;
  }
  done->store.ShrinkToFit();
  PutData(Variant::FromDecodedPacket(std::move(done)));
}

void AnswerBuilder::EndResult() {
  auto out = std::make_shared<DecodedResult>();
  if (!haveOk_) {
    out->failure = "Malformed raw result: no \"ok\"";
  } else if (ok_) {
    out->ok = true;
    out->data = std::move(data_);
  } else {
    out->error = haveResultError_ && !resultError_.empty() ? resultError_ : "The server refused the call without a message";
  }
  data_ = Variant();
  result_ = std::move(out);
}

// ---- names and values ------------------------------------------------------------------------

bool AnswerBuilder::Key(std::string_view name) {
  if (Top() == Frame::Packet) {
    if (name == "fields") sawFields_ = true;
    if (name == "rows") sawRows_ = true;
  }
  key_.assign(name);
  return true;
}

bool AnswerBuilder::Scalar(JsonKind kind, std::string_view text, bool nonAscii) {
  if (frames_.empty()) return Fail("a resposta não é um objeto JSON");
  switch (Top()) {
    case Frame::Row: RowValue(kind, text, nonAscii); break;
    case Frame::Envelope: return EnvelopeValue(kind, text);
    case Frame::EnvError: return ErrorValue(kind, text);
    case Frame::Result: ResultValue(kind, text); break;
    case Frame::DataArray: DataValue(kind, text); break;
    case Frame::Packet: PacketValue(); break;
    case Frame::Fields: PacketFail(FieldWhere() + " is not an object"); break;
    case Frame::Field: FieldValue(kind, text); break;
    case Frame::Rows:
      ++rowNumber_;
      PacketFail(RowWhere() + " is not an array");
      break;
    case Frame::Skip: break;
  }
  return true;
}

void AnswerBuilder::RowValue(JsonKind kind, std::string_view text, bool nonAscii) {
  if (kind != JsonKind::String && kind != JsonKind::Null) {
    PacketFail(ValueWhere() + " is not a string");
    return;
  }
  if (column_ >= width_) {
    PacketFail(RowWhere() + " has more than " + std::to_string(width_) + " values");
    return;
  }
  if (!text.empty()) {
    packet_->store.SetCell(row_, column_, text);
    const std::size_t chars = nonAscii ? wire::Utf8CharCount(text) : text.size();
    std::size_t& widest = packet_->widest[static_cast<std::size_t>(column_)];
    if (chars > widest) widest = chars;
  }
  ++column_;
}

bool AnswerBuilder::EnvelopeValue(JsonKind kind, std::string_view text) {
  if (key_ == "result") {
    if (!TakeResultSlot()) return false;
    ResultFail("the result must be a JSON object");
  } else if (key_ == "id") {
    id_ = IntegerOf(kind, text);
  } else if (key_ == "error") {
    return Fail("erro sem objeto");
  }
  return true;
}

bool AnswerBuilder::ErrorValue(JsonKind kind, std::string_view text) {
  if (key_ == "code") {
    const auto code = IntegerOf(kind, text);
    if (!code) return Fail("código de erro não numérico");
    errorCode_ = *code;
  } else if (key_ == "message") {
    if (kind != JsonKind::String) return Fail("mensagem de erro não textual");
    errorMessage_.assign(text);
  }
  return true;
}

void AnswerBuilder::ResultValue(JsonKind kind, std::string_view text) {
  if (key_ == "ok") {
    if (kind != JsonKind::True && kind != JsonKind::False) {
      ResultFail("\"ok\" must be true or false");
      return;
    }
    haveOk_ = true;
    ok_ = kind == JsonKind::True;
  } else if (key_ == "error") {
    if (kind != JsonKind::String) {
      ResultFail("\"error\" must be a string");
      return;
    }
    haveResultError_ = true;
    resultError_.assign(text);
  } else if (key_ == "data") {
    DataValue(kind, text);
  }
}

void AnswerBuilder::DataValue(JsonKind kind, std::string_view text) {
  switch (kind) {
    case JsonKind::String: PutData(Variant::FromText(std::string(text))); return;
    case JsonKind::True:
    case JsonKind::False: PutData(Variant::FromBool(kind == JsonKind::True)); return;
    case JsonKind::Null: PutData(Variant()); return;
    case JsonKind::Number: break;
  }
  const auto number = Integer(text);
  if (!number) {
    ResultFail(DataWhere() + " must be an integer that fits 64 bits");
    return;
  }
  PutData(Variant::FromInt(*number));
}

void AnswerBuilder::PutData(Variant value) {
  if (Top() == Frame::DataArray) {
    arrays_.back().push_back(std::move(value));
  } else {
    data_ = std::move(value);
  }
}

void AnswerBuilder::PacketValue() {
  if (!packet_->error.empty()) return;
  if (key_ == "fields") PacketFail("\"fields\" must be an array");
  if (key_ == "rows") PacketFail(haveFields_ ? "\"rows\" must be an array" : "\"rows\" must come after \"fields\"");
}

void AnswerBuilder::FieldValue(JsonKind kind, std::string_view text) {
  if (key_ == "name") {
    if (kind != JsonKind::String) {
      PacketFail(FieldWhere() + ": \"name\" must be a string");
      return;
    }
    fieldName_.assign(text);
    haveName_ = true;
  } else if (key_ == "size") {
    const auto size = IntegerOf(kind, text);
    if (!size) {
      PacketFail(FieldWhere() + ": \"size\" must be an integer");
    } else if (*size < 1 || *size > 1'000'000) {
      PacketFail(FieldWhere() + ": size " + std::to_string(*size) + " is outside 1..1000000");
    } else {
      fieldSize_ = static_cast<int>(*size);
    }
  }
}

// ---- plain rows and the outcome --------------------------------------------------------------

const char* AnswerBuilder::PlainArrays(const char* p, const char* end) {
  // Only inside a healthy packet's rows, where the next value is a row.
  if (frames_.empty() || Top() != Frame::Rows || !packet_ || !packet_->error.empty() || width_ <= 0) return p;
  const PlainRowsRead read = ReadPlainRows(p, end, *packet_, static_cast<std::size_t>(width_));
  if (read.rows > 0) {
    rowNumber_ += read.rows;
    row_ = read.lastRow;
    column_ = width_;
  }
  return read.after;
}

std::shared_ptr<DecodedResult> AnswerBuilder::TakeResult() {
  if (!resultFailure_.empty()) {
    auto failed = std::make_shared<DecodedResult>();
    failed->failure = resultFailure_;
    return failed;
  }
  if (!result_) return std::make_shared<DecodedResult>();
  return std::move(result_);
}

}  // namespace host
