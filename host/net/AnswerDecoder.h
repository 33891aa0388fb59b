// AnswerDecoder reads a JSON-RPC 2.0 answer body while its bytes arrive, piece by piece as the
// network hands them over, and builds the call's raw result as it goes:
//
//   {"jsonrpc":"2.0","id":N,"result":{"ok":true,"data":[{"fields":[…],"rows":[[…],…]},…]}}
//
// The data's packets go straight into row storage (DecodedPacket), so the answer's text is never
// held whole and reading it overlaps receiving it. Pieces may be cut anywhere, inside a string, an
// escape, a multi-byte character or a number; the outcome is the same as for the whole body.
//
// Promises:
// - The whole body is checked as JSON (grammar, UTF-8, no control characters in strings, nothing
//   after the answer, at most kMaxDepth levels of nesting); the first fault ends the decoding and
//   Failure() says what and where.
// - What the connection checks itself (the envelope: "id", "error", "result") comes out as
//   fields; what a raw-result reader would refuse (no "ok", data not of the raw result's kinds)
//   and what a packet reader would refuse (wrong row width, a value not a string, repeated field)
//   is kept inside the result, to be raised where reading the text would raise it, so a malformed
//   packet fails the load exactly as before and leaves the record set untouched.
// - A result of at most kKeptResultBytes is also kept as the text received (small answers read
//   back byte for byte); a larger one is written again from its parts only if asked for.
//
// Thread rules: one decoder per answer, used by one thread at a time. Not copyable or movable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "host/data/Variant.h"

namespace host {

class AnswerDecoder {
 public:
  static constexpr std::size_t kKeptResultBytes = std::size_t{2} << 20;
  // The deepest nesting of arrays and objects accepted.
  static constexpr std::size_t kMaxDepth = 1024;

  AnswerDecoder();
  ~AnswerDecoder();
  AnswerDecoder(const AnswerDecoder&) = delete;
  AnswerDecoder& operator=(const AnswerDecoder&) = delete;

  // Reads the next bytes of the body. Returns false once the body is known to be malformed
  // (Failure() says why); later calls do nothing and return false.
  bool Feed(std::string_view bytes);
  // The body has ended. Returns false when it is malformed or ended before the answer did.
  bool Finish();
  // What is wrong with the body (in Portuguese, for the connection's message); "" when nothing.
  const std::string& Failure() const { return failure_; }

  // After a successful Finish: what the envelope held.
  bool HasResult() const { return hasResult_; }
  bool HasError() const { return hasError_; }
  // The answer's id, when it was an integer.
  std::optional<std::int64_t> Id() const { return id_; }
  std::int64_t ErrorCode() const { return errorCode_; }
  const std::string& ErrorMessage() const { return errorMessage_; }
  // The result as a Text variant carrying the decoded raw result (see Variant::FromDecodedResult).
  // REQUIRES: Finish() returned true and HasResult().
  Variant TakeResult();

 private:
  struct Builder;
  enum class Expect : std::uint8_t { Value, ValueOrEnd, Key, KeyOrEnd, Colon, CommaOrEnd, Done };
  enum class Token : std::uint8_t { None, String, Number, Literal };

  bool Fail(std::string message);
  // Scans a string from p; returns the position after it, or end when it continues.
  const char* ScanString(const char* p, const char* end);
  // Reads whole rows of plain values from p, while the builder is inside a packet's rows and p is
  // at a row's '['; returns where it stopped (p when it read nothing). See the definition.
  const char* FastRows(const char* p, const char* end);
  bool EscapeByte(char c);
  bool EndString(std::string_view text, bool nonAscii);
  bool EndNumber();
  bool ValueDone();
  bool Close(char bracket);
  void AppendCodePoint(std::uint32_t cp);

  std::unique_ptr<Builder> builder_;
  std::string failure_;
  bool failed_ = false;

  // Tokenizer state.
  std::string containers_;  // '{' or '[' per open container
  Expect expect_ = Expect::Value;
  Token token_ = Token::None;
  bool stringIsKey_ = false;
  bool stringNonAscii_ = false;
  std::string scratch_;     // a token cut by a piece boundary, or a string with escapes
  bool inScratch_ = false;  // the current string is being gathered in scratch_
  int escape_ = 0;          // 0 none, 1 after '\', 2..5 hex digits of \u read so far + 2
  std::uint32_t codeUnit_ = 0;
  std::uint32_t highSurrogate_ = 0;  // a \u high surrogate waiting for its low half
  const char* literal_ = nullptr;    // the literal being matched ("true", "false", "null")
  std::size_t literalAt_ = 0;
  std::uint64_t offset_ = 0;         // bytes fed before the current piece

  // Raw-text capture of the result (small results only).
  bool capturing_ = false;
  bool captureDropped_ = false;
  std::size_t resultDepth_ = 0;  // containers_ size at which the result value started
  std::string captured_;
  const char* captureFrom_ = nullptr;

  // Envelope.
  bool hasResult_ = false;
  bool hasError_ = false;
  std::optional<std::int64_t> id_;
  std::int64_t errorCode_ = 0;
  std::string errorMessage_;
};

}  // namespace host
