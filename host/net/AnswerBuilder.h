// AnswerBuilder gives the answer tokenizer's events their meaning. From a JSON-RPC 2.0 answer
//
//   {"jsonrpc":"2.0","id":N,"result":{"ok":true,"data":[{"fields":[…],"rows":[[…],…]},…]}}
//
// it takes the envelope's parts ("id", "error", "result") for the connection to check, and builds
// the call's raw result as a DecodedResult whose data packets go straight into row storage
// (DecodedPacket). It reads a packet's plain rows itself, a whole row at a time (PlainRows).
//
// Two kinds of fault, in the words of their audience:
// - An envelope the connection cannot use (a repeated "result", an "error" that is not an object
//   with a numeric code and a text message, an answer that is not an object) ends the decoding;
//   Failure() says why in Portuguese, as the tokenizer's faults do: the clerk reads it inside the
//   connection's message.
// - What a raw-result reader would refuse (no "ok", data not of the raw result's kinds) and what a
//   packet reader would refuse (wrong row width, a value not a string, a repeated field) is kept
//   inside the result, to be raised as EPacketError where reading the text would raise it, in the
//   English of host/data's readers (PacketReader, RawResult), so a malformed packet fails its
//   load exactly as before and leaves the record set untouched. The decoding goes on.
//
// Each open container has one frame saying what it is; a container whose content does not matter
// (or can no longer matter, after a fault) is a Skip frame.
//
// Thread rules: one builder per answer, used by one thread at a time. Not copyable or movable.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/data/DecodedAnswer.h"
#include "host/data/Field.h"
#include "host/net/AnswerTokenizer.h"

namespace host {

// Internal to the platform library, like AnswerTokenizer.
class [[gnu::visibility("hidden")]] AnswerBuilder final : public JsonEvents {
 public:
  AnswerBuilder() = default;
  AnswerBuilder(const AnswerBuilder&) = delete;
  AnswerBuilder& operator=(const AnswerBuilder&) = delete;

  bool BeginContainer(bool object) override;
  bool EndContainer() override;
  bool Key(std::string_view name) override;
  bool Scalar(JsonKind kind, std::string_view text, bool nonAscii) override;
  const char* PlainArrays(const char* p, const char* end) override;

  // Why the envelope could not be used ("" when it could).
  const std::string& Failure() const { return failure_; }
  // What the envelope held.
  bool HasResult() const { return hasResult_; }
  bool HasError() const { return hasError_; }
  std::optional<std::int64_t> Id() const { return id_; }
  std::int64_t ErrorCode() const { return errorCode_; }
  const std::string& ErrorMessage() const { return errorMessage_; }
  // The raw result as decoded, or carrying the reason it is not a raw result.
  // REQUIRES: the answer was read whole and HasResult().
  std::shared_ptr<DecodedResult> TakeResult();

 private:
  enum class Frame : std::uint8_t { Envelope, EnvError, Result, DataArray, Packet, Fields, Field, Rows, Row, Skip };

  Frame Top() const { return frames_.back(); }
  bool Push(Frame frame);
  bool Fail(std::string message);
  // The result is not a raw result: keep the first reason, drop what was built, skip the rest.
  void ResultFail(const std::string& what);
  // The packet is malformed: keep the first reason, drop its rows, skip the rest of it.
  void PacketFail(const std::string& what);
  // Where in the data, the packet or its rows a fault lies, for the reasons above.
  std::string DataWhere() const;
  std::string FieldWhere() const;
  std::string RowWhere() const;
  std::string ValueWhere() const;

  // A container opening inside a frame of each kind.
  bool BeginInEnvelope(bool object);
  bool BeginData(bool object);
  bool BeginInPacket(bool object);
  bool BeginField(bool object);
  bool BeginRow(bool object);
  // A container closing.
  void EndField();
  void EndFields();
  void EndPacket();
  void EndResult();
  // A scalar value inside a frame of each kind.
  bool EnvelopeValue(JsonKind kind, std::string_view text);
  bool ErrorValue(JsonKind kind, std::string_view text);
  void ResultValue(JsonKind kind, std::string_view text);
  void DataValue(JsonKind kind, std::string_view text);
  void PacketValue();
  void FieldValue(JsonKind kind, std::string_view text);
  void RowValue(JsonKind kind, std::string_view text, bool nonAscii);

  // The envelope's "result" arrives: false (and the decoding ends) when it came before.
  bool TakeResultSlot();
  // True when the next value is a value of "data" (the result's member or an array's element).
  bool DataSlot() const { return Top() == Frame::DataArray || (Top() == Frame::Result && key_ == "data"); }
  void PutData(Variant value);

  std::vector<Frame> frames_;
  std::string key_;  // the member name the next value belongs to
  std::string failure_;

  // Envelope.
  bool hasResult_ = false;
  bool hasError_ = false;
  std::optional<std::int64_t> id_;
  std::int64_t errorCode_ = 0;
  std::string errorMessage_;

  // Raw result.
  std::string resultFailure_;
  bool haveOk_ = false;
  bool ok_ = false;
  bool haveResultError_ = false;
  std::string resultError_;
  Variant data_;
  std::vector<std::vector<Variant>> arrays_;  // per open DataArray frame, its items
  std::shared_ptr<DecodedResult> result_;

  // The packet being read (packets do not nest).
  std::shared_ptr<DecodedPacket> packet_;
  bool sawFields_ = false, sawRows_ = false, haveFields_ = false, haveRows_ = false;
  int width_ = 0;
  std::size_t rowNumber_ = 0;
  int column_ = 0;
  RowId row_ = 0;
  std::string fieldName_;
  bool haveName_ = false;
  int fieldSize_ = kDefaultFieldSize;
};

}  // namespace host
