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
// The work is split in two: AnswerTokenizer reads the JSON grammar and AnswerBuilder gives what it
// reads its meaning; this class joins them and keeps the result's text.
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

class AnswerBuilder;
class AnswerTokenizer;

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
  const std::string& Failure() const;

  // After a successful Finish: what the envelope held.
  bool HasResult() const;
  bool HasError() const;
  // The answer's id, when it was an integer.
  std::optional<std::int64_t> Id() const;
  std::int64_t ErrorCode() const;
  const std::string& ErrorMessage() const;
  // The result as a Text variant carrying the decoded raw result (see Variant::FromDecodedResult).
  // REQUIRES: Finish() returned true and HasResult().
  Variant TakeResult();

 private:
  std::unique_ptr<AnswerBuilder> builder_;
  std::unique_ptr<AnswerTokenizer> tokenizer_;
};

}  // namespace host
