// AnswerTokenizer reads the JSON text of an answer while its bytes arrive, piece by piece, and
// reports what it reads to a JsonEvents sink as it goes: containers opening and closing, member
// names and scalar values. It knows the grammar, not the answer's meaning; AnswerBuilder gives the
// events their meaning.
//
// Promises:
// - Pieces may be cut anywhere, inside a string, an escape, a multi-byte character or a number;
//   the events are the same as for the whole text.
// - The whole text is checked as JSON: grammar, strings in valid UTF-8 without control
//   characters, escapes and surrogate pairs, nothing after the value, at most kMaxDepth levels of
//   nesting. The first fault ends the reading and Failure() says what (and for most, at which
//   byte), in Portuguese: the connection shows it to the clerk inside its message.
// - A sink that refuses an event (returns false) ends the reading too; the sink says why.
// - Optionally the raw text of one member of the outermost object is kept as received, while it
//   is small (see KeepMember).
//
// Thread rules: one tokenizer per text, used by one thread at a time. Not copyable or movable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace host {

// The kinds of scalar value.
enum class JsonKind : std::uint8_t { String, Number, True, False, Null };

// Receives the tokenizer's events. Each returns false to end the reading (keeping its own reason).
class JsonEvents {
 public:
  virtual ~JsonEvents() = default;
  // An object (object true) or an array begins.
  virtual bool BeginContainer(bool object) = 0;
  // The innermost open container ends.
  virtual bool EndContainer() = 0;
  // A member's name (unescaped, valid UTF-8); its value follows.
  virtual bool Key(std::string_view name) = 0;
  // A scalar value. text: a string's text (unescaped, valid UTF-8; nonAscii when it may hold
  // characters of more than one byte), a number as written, empty for the literals.
  virtual bool Scalar(JsonKind kind, std::string_view text, bool nonAscii) = 0;
  // Offered at an array's '[' in a value's place, below the nesting limit: the sink may read
  // whole arrays itself, as a faster path, when they are of a shape it can read at once (valid
  // JSON the events would have described, each completely within [p, end)). It reads one array,
  // or several separated by ','; returns the position after the last array read, or after the
  // ',' that follows it; p when it read nothing, and the tokenizer goes on as usual.
  virtual const char* PlainArrays(const char* p, const char* /*end*/) { return p; }
};

// Internal to the platform library (hidden): calls inside the library then bind directly instead of
// through the dynamic linker's table, so the compiler can inline them on the decoder's hot path.
class [[gnu::visibility("hidden")]] AnswerTokenizer {
 public:
  // The deepest nesting of arrays and objects accepted.
  static constexpr std::size_t kMaxDepth = 1024;

  explicit AnswerTokenizer(JsonEvents& events) : events_(events) {}
  AnswerTokenizer(const AnswerTokenizer&) = delete;
  AnswerTokenizer& operator=(const AnswerTokenizer&) = delete;

  // Keeps the raw text of the outermost object's first member called name, as received, while it
  // is at most maxBytes long. Call before the first Feed.
  void KeepMember(std::string name, std::size_t maxBytes) {
    keptName_ = std::move(name);
    keptMax_ = maxBytes;
  }

  // Reads the next bytes. Returns false once the text is known to be malformed or the sink has
  // refused an event; later calls do nothing and return false.
  bool Feed(std::string_view bytes);
  // The text has ended. Returns false when it is malformed or ended before its value did.
  bool Finish();
  // True once a fault or a refusal has ended the reading.
  bool Failed() const { return failed_; }
  // The tokenizer's own fault ("" when none, or when the sink refused an event).
  const std::string& Failure() const { return failure_; }
  // The kept member's text; empty when there was none or it was longer than allowed.
  std::string TakeKept();

 private:
  enum class Expect : std::uint8_t { Value, ValueOrEnd, Key, KeyOrEnd, Colon, CommaOrEnd, Done };
  enum class Token : std::uint8_t { None, String, Number, Literal };

  // Record the first fault and return false or, for the helpers that return a position, null;
  // FailAt names the byte at p of the current piece.
  bool Fail(std::string message);
  const char* Stop(const char* message);
  const char* FailAt(const char* p, const std::string& message);
  // The sink refused an event (and keeps the reason): the reading ends.
  bool Refuse();
  const char* Refused();
  // Adds [from, to) to the kept member's text, dropping it once it is too long.
  void KeepPart(const char* from, const char* to);

  // Continue the token under way at p; returns where it stopped (null on failure).
  const char* ContinueToken(const char* p, const char* end);
  const char* ContinueNumber(const char* p, const char* end);
  const char* ContinueLiteral(const char* p, const char* end);
  // At a non-blank byte between tokens: what the grammar expects there.
  const char* Structural(const char* p, const char* end);
  const char* BeginValue(const char* p, const char* end);
  const char* BeginString(const char* p, bool key);
  // Scans a string from p; returns the position after it, or end when it continues.
  const char* ScanString(const char* p, const char* end);
  bool EscapeByte(char c);
  void AppendCodePoint(std::uint32_t cp);
  bool EndString(std::string_view text, bool nonAscii, const char* after);
  bool EndNumber(const char* after);
  bool Close(char bracket, const char* after);
  // A value has ended at after: what comes next, and the end of the kept member's text.
  bool ValueDone(const char* after);

  JsonEvents& events_;
  std::string failure_;
  bool failed_ = false;

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
  const char* piece_ = nullptr;      // the start of the current piece
  std::uint64_t offset_ = 0;         // bytes fed before the current piece

  // The kept member.
  std::string keptName_;
  std::size_t keptMax_ = 0;
  bool keyIsKept_ = false;  // the last member name read was the kept member's, at the outermost level
  bool keeping_ = false;
  bool keptStarted_ = false;
  bool keptDropped_ = false;
  const char* keptFrom_ = nullptr;
  std::string kept_;
};

}  // namespace host
