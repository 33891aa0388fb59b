// HttpTransport in the browser: the exchanges of TNetConnection go through the page's fetch, to
// the server that served the page (same origin, so the session cookie travels with them and the
// endpoint's host and port are the page's own). The answer's body is handed to the receiver piece
// by piece while it streams, as the native transport does, so the decoder fills the record set's
// storage while the rest is still arriving and the body is never held whole.
//
// Each wait (the head, each piece) suspends the screen's call until the page has the bytes; the
// read timeout bounds the time nothing arrives, as on the desktop. Failures come back with the
// same words as the native transport's, for TNetConnection to judge.
#include <vector>

#include "host/net/HttpTransport.h"
#include "web/src/JsImports.h"

namespace host {

namespace {

// The most bytes taken from the page at once: enough that a large answer costs few waits.
constexpr int kPieceBytes = 1 << 20;

std::string Reason(int code) {
  switch (code) {
    case kPdiFetchTimeout: return "tempo esgotado aguardando a resposta";
    default: return "não foi possível falar com o servidor (conexão recusada ou interrompida)";
  }
}

// Forgets the page's side of an exchange on every path.
class OpenExchange {
 public:
  explicit OpenExchange(int handle) : handle_(handle) {}
  ~OpenExchange() { pdi_js_fetch_close(handle_); }
  OpenExchange(const OpenExchange&) = delete;
  OpenExchange& operator=(const OpenExchange&) = delete;

 private:
  int handle_;
};

}  // namespace

struct HttpTransport::Impl {
  std::chrono::milliseconds readTimeout;
};

HttpTransport::HttpTransport(const Endpoint& endpoint) : impl_(std::make_unique<Impl>(Impl{endpoint.readTimeout})) {}

HttpTransport::~HttpTransport() = default;

void HttpTransport::CancelAll() { pdi_js_fetch_cancel_all(); }

// The browser asks for compressed answers and decodes them itself.
void HttpTransport::SetCompressedAnswers(bool) {}

ExchangeEnd HttpTransport::Send(NetRequest request, AnswerReceiver& receiver) {
  const bool post = request.method == NetRequest::Method::Post;
  const int handle = pdi_js_fetch_open(post ? 1 : 0, request.path.c_str(), request.authorization.c_str(),
                                       request.body.data(), static_cast<int>(request.body.size()),
                                       static_cast<int>(impl_->readTimeout.count()));
  if (handle == kPdiFetchCanceled) return ExchangeEnd::Canceled();
  if (handle < 0) return ExchangeEnd::Failed(Reason(handle));
  const OpenExchange open(handle);
  std::string().swap(request.body);

  const int status = pdi_js_fetch_status(handle);
  const double announced = pdi_js_fetch_length(handle);
  std::optional<std::uint64_t> length;
  if (announced >= 0) length = static_cast<std::uint64_t>(announced);
  if (!receiver.Head(status, length)) return ExchangeEnd::Failed("recebimento da resposta interrompido");

  std::vector<char> piece(kPieceBytes);
  for (;;) {
    const int n = pdi_js_fetch_read(handle, piece.data(), kPieceBytes);
    if (n == 0) break;
    if (n == kPdiFetchCanceled) return ExchangeEnd::Canceled();
    if (n < 0) return ExchangeEnd::Failed(Reason(n));
    if (!receiver.Data(std::string_view(piece.data(), static_cast<std::size_t>(n)))) {
      return ExchangeEnd::Failed("recebimento da resposta interrompido");
    }
  }
  return ExchangeEnd::Answered(status);
}

}  // namespace host
