#include "host/net/NetConnection.h"

#include <arpa/inet.h>
#include <unistd.h>
#include <httplib.h>
#include <openssl/x509_vfy.h>
#include <simdjson.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <utility>

#include "host/net/AnswerDecoder.h"
#include "host/services/HostLib.h"
#include "host/wire/JsonRpcRequest.h"

namespace host {

namespace {

namespace od = simdjson::ondemand;

TNetConnection::CallObserver& Observer() {
  static TNetConnection::CallObserver observer;
  return observer;
}

TNetConnection::CallRunner& Runner() {
  static TNetConnection::CallRunner runner;
  return runner;
}

std::atomic<std::int64_t>& DefaultReadTimeoutMs() {
  static std::atomic<std::int64_t> ms{120000};
  return ms;
}

// The exchanges under way, so that CancelCalls can end them from another thread.
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

// What an HTTP-level failure means, in the user's words.
std::string Reason(httplib::Error error, bool timedOut) {
  switch (error) {
    case httplib::Error::Connection: return "conexão recusada";
    case httplib::Error::ConnectionTimeout: return "tempo esgotado ao conectar";
    case httplib::Error::Read:
      return timedOut ? "tempo esgotado aguardando a resposta"
                      : "a conexão foi encerrada antes da resposta completa";
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
    case httplib::Error::SSLConnection:
      return "falha na negociação TLS (o servidor atende HTTPS nesta porta?)";
    case httplib::Error::SSLServerVerification: {
      std::string why;
      switch (verifyResult) {
        case X509_V_OK:
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
          why = "o certificado não é deste nome ou endereço";
          break;
        case X509_V_ERR_CERT_HAS_EXPIRED: why = "o certificado venceu"; break;
        case X509_V_ERR_CERT_NOT_YET_VALID: why = "o certificado ainda não é válido"; break;
        default: why = "o certificado não foi emitido por uma autoridade confiável (" + ca + ")"; break;
      }
      return "o servidor não pôde ser verificado: " + why + "; conexão recusada";
    }
    default: return {};
  }
}

// True when host (without scheme) is this machine's loopback: "localhost", 127.0.0.0/8 or ::1.
bool IsLoopback(std::string host) {
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  std::string lower;
  for (const char c : host) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (lower == "localhost") return true;
  unsigned char v4[4];
  if (::inet_pton(AF_INET, lower.c_str(), v4) == 1) return v4[0] == 127;
  unsigned char v6[16];
  if (::inet_pton(AF_INET6, lower.c_str(), v6) == 1) {
    static const unsigned char kLoopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    return std::equal(v6, v6 + 16, kLoopback);
  }
  return false;
}

// "https://" or "http://" at the front of text, in any case; returns its length (0: none).
std::size_t SchemeLength(std::string_view text) {
  for (const std::string_view scheme : {std::string_view("https://"), std::string_view("http://")}) {
    if (text.size() < scheme.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < scheme.size() && same; ++i) {
      const char c = text[i];
      same = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) == scheme[i];
    }
    if (same) return scheme.size();
  }
  return 0;
}

// The message for an answer over the cap.
std::string TooLarge(std::uint64_t cap) {
  return "a resposta do servidor excede o limite de " + std::to_string(cap) + " bytes; recebimento interrompido";
}
constexpr const char* kOutOfMemory = "memória insuficiente para receber a resposta do servidor";

// Why an exchange raised instead of returning, in the user's words.
std::string ExchangeFailure(const std::exception& e) {
  if (dynamic_cast<const std::bad_alloc*>(&e) || dynamic_cast<const std::length_error*>(&e)) return kOutOfMemory;
  return std::string("falha inesperada na troca com o servidor (") + e.what() + ")";
}

// Receives an answer body into out, at most cap bytes, keeping kPacketPadding spare bytes at its
// end; records in failure why receiving stopped. Never raises: httplib calls these from inside
// its read loop.
struct BodyReceiver {
  // The largest buffer reserved on the word of a Content-Length alone.
  static constexpr std::uint64_t kMaxUpfrontBytes = std::uint64_t{4} << 30;

  std::string& out;
  std::string& failure;
  std::uint64_t cap;
  // When set, a successful answer (status 200) is decoded as it arrives instead of kept in out.
  AnswerDecoder* decoder = nullptr;
  bool decoding = false;
  std::uint64_t received = 0;

  bool Head(const httplib::Response& response) {
    decoding = decoder && response.status == 200;
    if (!response.has_header("Content-Length")) return true;
    // Anything not a number reads as 0; a negative or overflowing one as a huge number.
    const auto length = response.get_header_value<std::uint64_t>("Content-Length");
    if (length > cap) {
      failure = TooLarge(cap);
      return false;
    }
    // The announced length is only a promise: past kMaxUpfrontBytes, or when memory for it is
    // refused, the buffer grows as the bytes arrive instead.
    if (length <= kMaxUpfrontBytes && !decoding) {
      try {
        out.reserve(length + kPacketPadding);
      } catch (const std::exception&) {
      }
    }
    return true;
  }

  bool Data(const char* data, std::size_t size) {
    if (received + size > cap) {
      failure = TooLarge(cap);
      return false;
    }
    received += size;
    if (decoding) {
      try {
        if (decoder->Feed(std::string_view(data, size))) return true;
        failure = "resposta inválida do servidor (" + decoder->Failure() + ")";
      } catch (const std::bad_alloc&) {
        failure = kOutOfMemory;
      } catch (const std::exception& e) {
        // The storage refused the rows (past its limits): nothing of the answer is kept.
        failure = std::string("resposta do servidor não pôde ser guardada (") + e.what() + ")";
      }
      return false;
    }
    try {
      const std::size_t needed = out.size() + size + kPacketPadding;
      if (needed > out.capacity()) out.reserve(std::max(needed, out.capacity() * 2));
      out.append(data, size);
    } catch (const std::exception&) {
      failure = kOutOfMemory;
      return false;
    }
    return true;
  }
};

// What an HTTP status other than 200 means, for messages.
std::string StatusReason(int status) {
  if (status == 401) return "o servidor recusou o acesso (HTTP 401): token de acesso ausente ou inválido";
  return "o servidor respondeu HTTP " + std::to_string(status);
}

// A short, printable excerpt of an answer body, for messages.
std::string Excerpt(std::string_view body) {
  std::string out;
  for (char c : body.substr(0, 200)) out += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
  if (body.size() > 200) out += "...";
  return out;
}

// The raw JSON text of a value, pointing into the parsed buffer.
simdjson::error_code RawJson(od::value& value, std::string_view& out) {
  od::json_type type;
  if (auto e = value.type().get(type)) return e;
  if (type == od::json_type::object) {
    od::object object;
    if (auto e = value.get_object().get(object)) return e;
    return object.raw_json().get(out);
  }
  if (type == od::json_type::array) {
    od::array array;
    if (auto e = value.get_array().get(array)) return e;
    return array.raw_json().get(out);
  }
  out = value.raw_json_token();
  while (!out.empty() && (out.back() == ' ' || out.back() == '\n' || out.back() == '\r' ||
                          out.back() == '\t')) {
    out.remove_suffix(1);
  }
  return simdjson::SUCCESS;
}

}  // namespace

struct TNetConnection::Client {
  Client(const std::string& host, int port, bool tls, const std::string& caFile,
         std::chrono::milliseconds connectTimeout, std::chrono::milliseconds readTimeout)
      : http(std::string(tls ? "https://" : "http://") +
             (host.find(':') != std::string::npos && host.front() != '[' ? "[" + host + "]" : host) + ":" +
             std::to_string(port)) {
    if (tls) {
      // The certificate chain is checked against the CA file or the system store, then the
      // certificate's names (SAN, else CN) against the host name or IP address.
      http.enable_server_certificate_verification(true);
      if (!caFile.empty()) http.set_ca_cert_path(caFile);
    }
    http.set_keep_alive(true);
    // Headers and body go out in separate writes; without this each call waits for a delayed ACK.
    http.set_tcp_nodelay(true);
    http.set_connection_timeout(connectTimeout);
    http.set_read_timeout(readTimeout);
    http.set_write_timeout(readTimeout);
  }
  httplib::Client http;
};

TNetConnection::TNetConnection(std::string name, TComponent* owner)
    : TComponent(std::move(name), owner) {
  readTimeout_ = std::chrono::milliseconds(DefaultReadTimeoutMs().load());
}

void TNetConnection::SetDefaultReadTimeout(std::chrono::milliseconds timeout) {
  DefaultReadTimeoutMs() = timeout.count();
}

void TNetConnection::CancelCalls() {
  std::lock_guard<std::mutex> lock(InFlightMutex());
  for (const InFlightExchange& e : InFlight()) {
    *e.canceled = true;
    // Shuts the socket of a request in flight: its read or write fails at once.
    e.http->stop();
  }
}

TNetConnection::~TNetConnection() = default;

void TNetConnection::SetHost(std::string host) {
  if (host != host_) Close();
  host_ = std::move(host);
}

void TNetConnection::SetPort(int port) {
  if (port != port_) Close();
  port_ = port;
}

void TNetConnection::SetServerName(std::string serverName) {
  if (serverName != serverName_) Close();
  serverName_ = std::move(serverName);
}

std::string TNetConnection::Address() const { return host_ + ":" + std::to_string(port_); }

void TNetConnection::SetCaFile(std::string path) {
  if (path != caFile_) Close();
  caFile_ = std::move(path);
}

bool TNetConnection::UsesTls() const { return SchemeLength(host_) == 8; }

std::string TNetConnection::HostName() const {
  std::string name = host_.substr(SchemeLength(host_));
  if (!name.empty() && name.back() == '/') name.pop_back();
  return name;
}

std::string TNetConnection::EffectiveCaFile() const { return caFile_.empty() ? ::host::CaFile() : caFile_; }

void TNetConnection::CheckTokenTransport(const std::string& what, const std::string& authorization) const {
  if (authorization.empty() || UsesTls() || insecure_ || ::host::Insecure() || IsLoopback(HostName())) return;
  Fail(what,
       "o token de acesso não é enviado sem criptografia a um servidor fora desta máquina; use "
       "https:// no endereço do servidor ou permita explicitamente a conexão insegura (--insecure)");
}

void TNetConnection::Fail(const std::string& what, const std::string& reason) const {
  throw ENetError("Falha ao " + what + " em " + Address() + ": " + reason);
}

std::string TNetConnection::Authorization(const std::string& what) const {
  const std::string token = accessToken_.empty() ? ::host::AccessToken() : accessToken_;
  if (token.empty()) return {};
  for (const char c : token) {
    if (c < 0x21 || c > 0x7E) Fail(what, "token de acesso inválido (só caracteres visíveis, sem espaços)");
  }
  return "Bearer " + token;
}

bool TNetConnection::Connected() const { return client_ != nullptr; }

void TNetConnection::SetCallObserver(CallObserver observer) { Observer() = std::move(observer); }

void TNetConnection::SetCallRunner(CallRunner runner) { Runner() = std::move(runner); }

void TNetConnection::Open() {
  if (client_) return;
  if (BeforeConnect) BeforeConnect(this);
  const std::string what = "conectar ao serviço " + serverName_;
  if (HostName().empty()) Fail(what, "endereço do servidor não informado");
  if (port_ < 1 || port_ > 65535) Fail(what, "porta inválida");
  if (serverName_.empty()) Fail(what, "nome do serviço não informado");

  const std::string authorization = Authorization(what);
  CheckTokenTransport(what, authorization);
  const std::string caFile = UsesTls() ? EffectiveCaFile() : std::string();
  if (!caFile.empty() && ::access(caFile.c_str(), R_OK) != 0) {
    Fail(what, "não foi possível ler o arquivo de CA " + caFile);
  }

  auto client = std::make_unique<Client>(HostName(), port_, UsesTls(), caFile, connectTimeout_, readTimeout_);
  httplib::Headers headers;
  if (!authorization.empty()) headers.emplace("Authorization", authorization);
  const auto start = std::chrono::steady_clock::now();
  // The service's description is small: an answer past this is not the service.
  std::string body;
  std::string receiveFailure;
  BodyReceiver receiver{body, receiveFailure, std::min<std::uint64_t>(maxAnswerBytes_, 1 << 20)};
  std::optional<httplib::Result> checked;
  std::atomic<bool> canceled{false};
  // The check runs like a call's exchange: off the user-interface thread, and cancellable.
  const auto check = [&] {
    const InFlightGuard registered(client->http, canceled);
    if (canceled) return;
    try {
      checked.emplace(client->http.Get(
          "/" + serverName_, headers, [&](const httplib::Response& r) { return receiver.Head(r); },
          [&](const char* data, std::size_t size) { return receiver.Data(data, size); }));
    } catch (const std::exception& e) {
      receiveFailure = ExchangeFailure(e);
    }
  };
  if (const CallRunner& runner = Runner()) {
    runner(check);
  } else {
    check();
  }
  if (!receiveFailure.empty()) Fail(what, receiveFailure);
  if (!checked || (!*checked && canceled)) Fail(what, "chamada cancelada pelo usuário");
  httplib::Result& res = *checked;
  if (!res) {
    const std::string tls = TlsReason(res.error(), client->http.get_openssl_verify_result(), caFile);
    if (!tls.empty()) Fail(what, tls);
    const bool timedOut = std::chrono::steady_clock::now() - start >= readTimeout_ * 9 / 10;
    Fail(what, Reason(res.error(), timedOut));
  }
  if (res->status != 200) {
    Fail(what, StatusReason(res->status) + (body.empty() || res->status == 401
                                                ? ""
                                                : " (" + Excerpt(body) + ")"));
  }
  client_ = std::move(client);
}

void TNetConnection::Close() { client_.reset(); }

Variant TNetConnection::Call(const std::string& method, const std::vector<Variant>& args) {
  const std::string what = "chamar " + method;
  if (method.empty()) Fail("chamar o serviço", "método não informado");

  // Build the request before anything is sent, so a bad argument sends nothing.
  std::vector<wire::JsonRpcParam> params;
  params.reserve(args.size());
  for (std::size_t i = 0; i < args.size(); ++i) {
    const Variant& arg = args[i];
    const std::string n = std::to_string(i + 1);
    if (arg.Kind() == VariantKind::Text) {
      const std::string& text = arg.AsText();
      if (!simdjson::validate_utf8(text.data(), text.size())) {
        Fail(what, "o argumento " + n + " não é texto UTF-8 válido");
      }
      params.push_back(wire::JsonRpcParam::Text(text));
    } else if (arg.IsPacket()) {
      params.push_back(wire::JsonRpcParam::Object(std::string(arg.PacketJson())));
    } else {
      Fail(what, "o argumento " + n + " é do tipo " + VariantKindName(arg.Kind()) +
                     ", que não pode ser enviado");
    }
  }

  const std::string authorization = Authorization(what);
  CheckTokenTransport(what, authorization);
  if (const CallObserver& observer = Observer()) observer(method, args);
  Open();

  const std::int64_t id = nextId_++;
  httplib::Request req;
  req.method = "POST";
  req.path = "/" + serverName_;
  req.body = wire::JsonRpcRequest::Write(id, method, params);
  req.set_header("Content-Type", "application/json");
  if (!authorization.empty()) req.set_header("Authorization", authorization);

  // The body goes straight into one buffer that always keeps the padding the JSON reader needs.
  std::string body;
  std::string receiveFailure;
  AnswerDecoder decoder;
  BodyReceiver receiver{body, receiveFailure, maxAnswerBytes_, &decoder};
  req.response_handler = [&receiver](const httplib::Response& response) { return receiver.Head(response); };
  req.content_receiver = [&receiver](const char* data, std::size_t size, std::uint64_t, std::uint64_t) {
    return receiver.Data(data, size);
  };

  httplib::Response res;
  httplib::Error error = httplib::Error::Success;
  const auto start = std::chrono::steady_clock::now();
  bool sent = false;
  std::atomic<bool> canceled{false};
  const auto exchange = [&] {
    const InFlightGuard registered(client_->http, canceled);
    if (canceled) return;
    try {
      sent = client_->http.send(req, res, error);
    } catch (const std::exception& e) {
      receiveFailure = ExchangeFailure(e);
      sent = false;
    }
  };
  if (const CallRunner& runner = Runner()) {
    runner(exchange);
  } else {
    exchange();
  }
  if (!sent && canceled) {
    Close();
    Fail(what, "chamada cancelada pelo usuário");
  }
  if (!receiveFailure.empty()) {
    // The answer was abandoned part way: the stream cannot carry another call.
    Close();
    Fail(what, receiveFailure);
  }
  if (!sent) {
    const std::string tls =
        TlsReason(error, client_->http.get_openssl_verify_result(), UsesTls() ? EffectiveCaFile() : std::string());
    if (!tls.empty()) Fail(what, tls);
    const bool timedOut = std::chrono::steady_clock::now() - start >= readTimeout_ * 9 / 10;
    Fail(what, Reason(error, timedOut));
  }
  if (res.status != 200) {
    Fail(what, StatusReason(res.status) +
                   (body.empty() || res.status == 401 ? "" : " (" + Excerpt(body) + ")"));
  }
  const auto broken = [&](const std::string& detail) {
    Fail(what, "resposta inválida do servidor (" + detail + ")");
  };
  if (receiver.decoding) {
    // The answer was read as it arrived: only the envelope's checks are left.
    if (!decoder.Finish()) broken(decoder.Failure());
    if (decoder.HasError()) {
      Fail(what, "o servidor respondeu com o erro " + std::to_string(decoder.ErrorCode()) + ": " +
                     decoder.ErrorMessage());
    }
    if (!decoder.HasResult()) broken("sem \"result\"");
    if (decoder.Id() != id) broken("identificador da resposta não confere com o da chamada");
    return decoder.TakeResult();
  }
  try {
    if (body.capacity() < body.size() + kPacketPadding) body.reserve(body.size() + kPacketPadding);
  } catch (const std::exception&) {
    Fail(what, kOutOfMemory);
  }

  // Read the envelope: {"jsonrpc":"2.0","id":N,"result":…} or {…,"error":{"code":…,"message":…}}.
  od::parser parser;
  od::document doc;
  od::object envelope;
  if (auto e = parser.iterate(body.data(), body.size(), body.capacity()).get(doc)) {
    broken(simdjson::error_message(e));
  }
  if (auto e = doc.get_object().get(envelope)) broken(simdjson::error_message(e));
  std::string_view result;
  bool hasResult = false, hasError = false, idMatches = false;
  std::int64_t errorCode = 0;
  std::string errorMessage;
  for (auto member : envelope) {
    od::field field;
    std::string_view key;
    if (auto e = std::move(member).get(field)) broken(simdjson::error_message(e));
    if (auto e = field.unescaped_key().get(key)) broken(simdjson::error_message(e));
    od::value value = field.value();
    if (key == "result") {
      if (auto e = RawJson(value, result)) broken(simdjson::error_message(e));
      hasResult = true;
    } else if (key == "id") {
      std::int64_t answered = 0;
      idMatches = !value.get_int64().get(answered) && answered == id;
    } else if (key == "error") {
      hasError = true;
      od::object object;
      if (value.get_object().get(object)) broken("erro sem objeto");
      for (auto part : object) {
        od::field f;
        std::string_view k;
        if (std::move(part).get(f) || f.unescaped_key().get(k)) broken("erro ilegível");
        od::value v = f.value();
        if (k == "code") {
          if (v.get_int64().get(errorCode)) broken("código de erro não numérico");
        } else if (k == "message") {
          std::string_view m;
          if (v.get_string().get(m)) broken("mensagem de erro não textual");
          errorMessage = std::string(m);
        }
      }
    }
  }
  if (doc.current_location().error() != simdjson::OUT_OF_BOUNDS) broken("texto após a resposta");
  if (hasError) {
    Fail(what, "o servidor respondeu com o erro " + std::to_string(errorCode) + ": " +
                   errorMessage);
  }
  if (!hasResult) broken("sem \"result\"");
  if (!idMatches) broken("identificador da resposta não confere com o da chamada");

  // Move the raw result to the front of the buffer; its capacity keeps the padding.
  const std::size_t offset = static_cast<std::size_t>(result.data() - body.data());
  const std::size_t length = result.size();
  body.erase(0, offset);
  body.resize(length);
  return Variant::FromText(std::make_shared<const std::string>(std::move(body)));
}

}  // namespace host
