#include "host/net/HttpTransport.h"

#include <httplib.h>
#include <openssl/x509_vfy.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "host/net/ContentDecoder.h"

namespace host {

namespace {

// The exchanges under way, so that CancelAll can end them from another thread.
struct InFlightExchange {
  httplib::Client* http;
  std::atomic<bool>* canceled;
};
std::mutex& InFlightMutex() {
  static std::mutex mutex;
  return mutex;
}
std::vector<InFlightExchange>& InFlight() {
  static std::vector<InFlightExchange> exchanges;
  return exchanges;
}

// Registers one exchange for the time it runs.
class InFlightGuard {
 public:
  InFlightGuard(httplib::Client& http, std::atomic<bool>& canceled) : http_(&http) {
    std::lock_guard<std::mutex> lock(InFlightMutex());
    InFlight().push_back({&http, &canceled});
  }
  ~InFlightGuard() {
    std::lock_guard<std::mutex> lock(InFlightMutex());
    auto& all = InFlight();
    for (auto it = all.begin(); it != all.end(); ++it) {
      if (it->http == http_) {
        all.erase(it);
        break;
      }
    }
  }
  InFlightGuard(const InFlightGuard&) = delete;
  InFlightGuard& operator=(const InFlightGuard&) = delete;

 private:
  httplib::Client* http_;
};

std::atomic<bool> compressedAnswers{true};

// What an HTTP-level failure means, in the user's words.
std::string Reason(httplib::Error error, bool timedOut) {
  switch (error) {
    case httplib::Error::Connection: return "conexão recusada";
    case httplib::Error::ConnectionTimeout: return "tempo esgotado ao conectar";
    case httplib::Error::Read:
      return timedOut ? "tempo esgotado aguardando a resposta" : "a conexão foi encerrada antes da resposta completa";
    case httplib::Error::Write: return "falha ao enviar a requisição";
    case httplib::Error::Canceled: return "recebimento da resposta interrompido";
    default: return "erro de rede (" + httplib::to_string(error) + ")";
  }
}

// What a failed TLS exchange means; verifyResult is OpenSSL's verdict on the server's certificate.
std::string TlsReason(httplib::Error error, long verifyResult, const std::string& caFile) {
  const std::string ca = caFile.empty() ? "as autoridades certificadoras do sistema" : "o arquivo de CA " + caFile;
  switch (error) {
    case httplib::Error::SSLLoadingCerts:
      return caFile.empty() ? "não foi possível ler as autoridades certificadoras do sistema"
                            : "não foi possível ler o arquivo de CA " + caFile;
    case httplib::Error::SSLConnection: return "falha na negociação TLS (o servidor atende HTTPS nesta porta?)";
    case httplib::Error::SSLServerVerification: {
      std::string why;
      switch (verifyResult) {
        case X509_V_OK:
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH: why = "o certificado não é deste nome ou endereço"; break;
        case X509_V_ERR_CERT_HAS_EXPIRED: why = "o certificado venceu"; break;
        case X509_V_ERR_CERT_NOT_YET_VALID: why = "o certificado ainda não é válido"; break;
        default: why = "o certificado não foi emitido por uma autoridade confiável (" + ca + ")"; break;
      }
      return "o servidor não pôde ser verificado: " + why + "; conexão recusada";
    }
    default: return {};
  }
}

// The base URL of host:port, an IPv6 address in brackets.
std::string BaseUrl(const HttpTransport::Endpoint& at) {
  const std::string& host = at.host;
  const bool bareIpv6 = host.find(':') != std::string::npos && host.front() != '[';
  return std::string(at.tls ? "https://" : "http://") + (bareIpv6 ? "[" + host + "]" : host) + ":" +
         std::to_string(at.port);
}

}  // namespace

struct HttpTransport::Impl {
  explicit Impl(const Endpoint& at) : http(BaseUrl(at)), caFile(at.caFile), readTimeout(at.readTimeout) {
    if (at.tls) {
      // The certificate chain is checked against the CA file or the system store, then the
      // certificate's names (SAN, else CN) against the host name or IP address.
      http.enable_server_certificate_verification(true);
      if (!caFile.empty()) http.set_ca_cert_path(caFile);
    }
    http.set_keep_alive(true);
    // A compressed body reaches Send undecoded: it is decoded there, capped, while it arrives.
    http.set_decompress(false);
    // Headers and body go out in separate writes; without this each call waits for a delayed ACK.
    http.set_tcp_nodelay(true);
    http.set_connection_timeout(at.connectTimeout);
    http.set_read_timeout(at.readTimeout);
    http.set_write_timeout(at.readTimeout);
  }

  httplib::Client http;
  std::string caFile;
  std::chrono::milliseconds readTimeout;
  std::atomic<bool> givenUp{false};
};

HttpTransport::HttpTransport(const Endpoint& endpoint) : impl_(std::make_unique<Impl>(endpoint)) {}

HttpTransport::~HttpTransport() = default;

void HttpTransport::CancelAll() {
  std::lock_guard<std::mutex> lock(InFlightMutex());
  for (const InFlightExchange& e : InFlight()) {
    *e.canceled = true;
    // Shuts the socket of a request in flight: its read or write fails at once.
    e.http->stop();
  }
}

void HttpTransport::SetCompressedAnswers(bool on) { compressedAnswers = on; }

void HttpTransport::Cancel() {
  impl_->givenUp = true;
  std::lock_guard<std::mutex> lock(InFlightMutex());
  for (const InFlightExchange& e : InFlight()) {
    if (e.http != &impl_->http) continue;
    *e.canceled = true;
    e.http->stop();
  }
}

ExchangeEnd HttpTransport::Send(NetRequest request, AnswerReceiver& receiver) {
  httplib::Request req;
  req.path = std::move(request.path);
  if (request.method == NetRequest::Method::Post) {
    req.method = "POST";
    req.body = std::move(request.body);
    req.set_header("Content-Type", "application/json");
  } else {
    req.method = "GET";
  }
  if (!request.authorization.empty()) req.set_header("Authorization", request.authorization);
  // Asked for explicitly either way: without the header the library would ask for codings of its own.
  req.set_header("Accept-Encoding", compressedAnswers ? ContentDecoder::kAccepted : "identity");
  for (const auto& [name, value] : request.headers) req.set_header(name, value);
  std::unique_ptr<ContentDecoder> decoder;  // set when the answer comes compressed
  req.response_handler = [&receiver, &decoder](const httplib::Response& response) {
    for (const auto& [name, ignored] : receiver.WantedHeaders()) {
      if (response.has_header(name)) receiver.KeepHeader(name, response.get_header_value(name));
    }
    const std::string encoding = response.get_header_value("Content-Encoding");
    const std::optional<ContentDecoder::Coding> coding = ContentDecoder::Named(encoding);
    if (!coding) {
      receiver.Refuse("o servidor enviou a resposta na codificação \"" + encoding.substr(0, 40) +
                      "\", que este programa não lê");
      return false;
    }
    if (*coding != ContentDecoder::Coding::Identity) decoder = std::make_unique<ContentDecoder>(*coding);
    std::optional<std::uint64_t> length;
    // Anything not a number reads as 0; a negative or overflowing one as a huge number.
    if (response.has_header("Content-Length")) length = response.get_header_value<std::uint64_t>("Content-Length");
    return receiver.Head(response.status, length);
  };
  req.content_receiver = [&receiver, &decoder](const char* data, std::size_t size, std::uint64_t, std::uint64_t) {
    if (!decoder) return receiver.Data(std::string_view(data, size));
    if (!receiver.Coded(size)) return false;
    try {
      if (decoder->Feed(std::string_view(data, size), [&receiver](std::string_view plain) { return receiver.Data(plain); })) {
        return true;
      }
    } catch (const std::exception& e) {
      receiver.Abandon(e);
      return false;
    }
    if (!decoder->Failure().empty()) receiver.Refuse("resposta inválida do servidor (" + decoder->Failure() + ")");
    return false;
  };

  httplib::Response res;
  httplib::Error error = httplib::Error::Success;
  const auto start = std::chrono::steady_clock::now();
  std::atomic<bool> canceled{false};
  bool sent = false;
  {
    const InFlightGuard registered(impl_->http, canceled);
    if (canceled || impl_->givenUp) return ExchangeEnd::Canceled();
    sent = impl_->http.send(req, res, error);
  }
  if (sent && decoder && !decoder->Finish()) {
    receiver.Refuse("resposta inválida do servidor (" + decoder->Failure() + ")");
    return ExchangeEnd::Failed(receiver.Failure());
  }
  if (sent) return ExchangeEnd::Answered(res.status);
  if (canceled) return ExchangeEnd::Canceled();
  std::string reason = TlsReason(error, impl_->http.get_openssl_verify_result(), impl_->caFile);
  if (reason.empty()) {
    const bool timedOut = std::chrono::steady_clock::now() - start >= impl_->readTimeout * 9 / 10;
    reason = Reason(error, timedOut);
  }
  return ExchangeEnd::Failed(std::move(reason));
}

}  // namespace host
