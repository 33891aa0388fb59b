// One exchange of TNetConnection with the application server, in the parts that do not depend on
// how the bytes travel:
//
// - NetRequest: what is sent (the service check, GET, or a call, POST of a JSON-RPC request).
// - AnswerReceiver: takes the answer while it arrives, its head and then its body in pieces, and
//   holds at most a cap of bytes (of the body as it travels, and again once decoded when it comes
//   compressed: the transport decodes it and counts the coded bytes with Coded). A successful answer (status 200) goes straight into the call's
//   AnswerDecoder (or a sink: a file being downloaded); of any other only the first bytes are
//   kept, for the message.
// - ServerHost: the server's name and whether it is reached over TLS, from a host's setting.
// - ExchangeEnd: how the exchange ended, as the transport saw it.
//
// A transport (HttpTransport, over cpp-httplib) sends a NetRequest, hands the answer to an
// AnswerReceiver and returns an ExchangeEnd; the connection builds the requests and judges the
// outcome, so that another transport (a browser's fetch, whose answer body arrives as a stream of
// pieces too) fails with the same messages.
//
// Thread rules: a receiver serves one exchange, on one thread at a time (the transport's, while
// the exchange runs; the caller's afterwards). Receivers are not copyable or movable; the two
// structs are intentionally copyable.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace host {

class AnswerDecoder;

struct NetRequest {
  enum class Method { Get, Post };
  Method method = Method::Get;
  // "/" + the service's name.
  std::string path;
  // The value of the Authorization header; "" sends none.
  std::string authorization;
  // Post: the JSON-RPC request, sent as application/json.
  std::string body;
  // Further header fields (name, value), e.g. If-None-Match; a transport may leave them out when
  // it cannot send them (then the answer is the one without them: a whole copy instead of 304).
  std::vector<std::pair<std::string, std::string>> headers;
};

// Where a host's setting says the server is: "https://NAME" goes over TLS to NAME, "http://NAME"
// or a bare NAME over plain HTTP (the scheme in any letter case, a trailing '/' ignored).
// Intentionally copyable.
struct ServerHost {
  std::string name;  // without scheme; an IPv6 address as written
  bool tls = false;

  static ServerHost Parse(std::string_view text);
  // True for this machine's loopback: "localhost", 127.0.0.0/8 or ::1 (bracketed or not).
  bool IsLoopback() const;
};

struct ExchangeEnd {
  enum class How {
    Answered,  // a whole answer was received (of any status)
    Canceled,  // cancelled by CancelCalls before the answer was whole, or never run
    Failed,    // the transport failed (connecting, sending, receiving) or the receiver stopped it
  };
  How how = How::Canceled;
  // Answered: the HTTP status.
  int status = 0;
  // Failed: why, in the clerk's words (Portuguese), as the transport saw it; the receiver's own
  // reason, when it stopped the exchange, comes first.
  std::string reason;

  static ExchangeEnd Answered(int status) { return {How::Answered, status, {}}; }
  static ExchangeEnd Canceled() { return {How::Canceled, 0, {}}; }
  static ExchangeEnd Failed(std::string reason) { return {How::Failed, 0, std::move(reason)}; }
};

class AnswerReceiver {
 public:
  // Takes the bytes of an answer of status 200 that is not decoded (e.g. a file being written);
  // returns "" to go on, or why it cannot take them (Portuguese), which stops the exchange.
  using Sink = std::function<std::string(std::string_view bytes)>;

  // cap: the largest body accepted, in bytes. decoder: where an answer of status 200 goes (null:
  // none is decoded, e.g. the service check's).
  AnswerReceiver(std::uint64_t cap, AnswerDecoder* decoder) : cap_(cap), decoder_(decoder) {}
  // An answer of status 200 goes to sink (REQUIRES: sink is not empty).
  AnswerReceiver(std::uint64_t cap, Sink sink) : cap_(cap), decoder_(nullptr), sink_(std::move(sink)) {}
  AnswerReceiver(const AnswerReceiver&) = delete;
  AnswerReceiver& operator=(const AnswerReceiver&) = delete;

  // The answer's head: its status, and the body's length when announced. Returns false to stop
  // the exchange (a length past the cap). Never raises, like Data: a transport calls both from
  // inside its read loop.
  bool Head(int status, std::optional<std::uint64_t> announcedLength);
  // The next bytes of the body. Returns false to stop the exchange: past the cap, an answer that
  // cannot be decoded or stored, memory refused.
  bool Data(std::string_view bytes);
  // The exchange ended by an exception inside the transport, the answer possibly begun: keeps why.
  void Abandon(const std::exception& e);
  // Counts bytes of a compressed body as they travel (Data then takes them decoded). Returns false
  // to stop the exchange: past the cap. Never raises.
  bool Coded(std::uint64_t bytes);
  // The transport cannot go on with the answer (a body that does not decode): keeps why.
  void Refuse(std::string why);

  // Why receiving stopped or was abandoned; "" when it was not.
  const std::string& Failure() const { return failure_; }
  // A short, printable excerpt of the start of a body that was not decoded; "" when it was
  // empty (or decoded).
  std::string Excerpt() const;

  // Header fields of the answer to keep, named before the exchange (any letter case); a
  // transport hands their values with KeepHeader before Head. Value: "" when not received.
  void WantHeader(std::string name) { wanted_.emplace_back(std::move(name), std::string()); }
  const std::vector<std::pair<std::string, std::string>>& WantedHeaders() const { return wanted_; }
  void KeepHeader(std::string_view name, std::string_view value);
  std::string HeaderValue(std::string_view name) const;

 private:
  // Bytes of an undecoded body kept for the excerpt: one past what it shows, to know it goes on.
  static constexpr std::size_t kExcerptBytes = 200;

  std::uint64_t cap_;
  AnswerDecoder* decoder_;
  Sink sink_;
  std::vector<std::pair<std::string, std::string>> wanted_;
  bool decoding_ = false;
  bool sinking_ = false;
  std::uint64_t received_ = 0;
  std::uint64_t coded_ = 0;
  std::string start_;
  std::string failure_;
};

}  // namespace host
