#include "host/net/NetConnection.h"

#include <unistd.h>
#include <simdjson.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <utility>

#include "host/net/AnswerDecoder.h"
#include "host/net/HttpTransport.h"
#include "host/net/NetExchange.h"
#include "host/services/HostLib.h"
#include "host/wire/JsonRpcRequest.h"

namespace host {

namespace {

TNetConnection::CallObserver& Observer() {
  static TNetConnection::CallObserver observer;
  return observer;
}

// The open observer, guarded: connections may open on any thread while it is set or removed.
struct OpenWatch {
  std::mutex mutex;
  TNetConnection::OpenObserver observer;
};
OpenWatch& OpenWatcher() {
  static OpenWatch watch;
  return watch;
}

// The access renewer, guarded as the open observer: history requests run on worker threads.
struct RenewWatch {
  std::mutex mutex;
  TNetConnection::AccessRenewer renewer;
};
RenewWatch& RenewWatcher() {
  static RenewWatch watch;
  return watch;
}

// The user the service's description names ("user": the access token's), or "" when it names
// none or is not JSON.
std::string DescribedUser(const std::string& description) {
  simdjson::dom::parser parser;
  simdjson::dom::element root;
  std::string_view user;
  if (parser.parse(description).get(root) || root["user"].get_string().get(user)) return {};
  return std::string(user);
}

TNetConnection::CallRunner& Runner() {
  static TNetConnection::CallRunner runner;
  return runner;
}

std::atomic<std::int64_t>& DefaultReadTimeoutMs() {
  static std::atomic<std::int64_t> ms{120000};
  return ms;
}

// What an HTTP status other than 200 means, for messages.
std::string StatusReason(int status) {
  if (status == 401) return "o servidor recusou o acesso (HTTP 401): token de acesso ausente ou inválido";
  return "o servidor respondeu HTTP " + std::to_string(status);
}

// The call's parameters, each argument a text (valid UTF-8) or a packet. Returns why not ("" when
// every argument can be sent).
std::string CallParams(const std::vector<Variant>& args, std::vector<wire::JsonRpcParam>& params) {
  params.reserve(args.size());
  for (std::size_t i = 0; i < args.size(); ++i) {
    const Variant& arg = args[i];
    const std::string n = std::to_string(i + 1);
    if (arg.Kind() == VariantKind::Text) {
      const std::string& text = arg.AsText();
      if (!simdjson::validate_utf8(text.data(), text.size())) return "o argumento " + n + " não é texto UTF-8 válido";
      params.push_back(wire::JsonRpcParam::Text(text));
    } else if (arg.IsPacket()) {
      params.push_back(wire::JsonRpcParam::Object(std::string(arg.PacketJson())));
    } else {
      return "o argumento " + n + " é do tipo " + VariantKindName(arg.Kind()) + ", que não pode ser enviado";
    }
  }
  return {};
}

}  // namespace

TNetConnection::TNetConnection(std::string name, TComponent* owner)
    : TComponent(std::move(name), owner) {
  readTimeout_ = std::chrono::milliseconds(DefaultReadTimeoutMs().load());
}

TNetConnection::~TNetConnection() = default;

void TNetConnection::SetDefaultReadTimeout(std::chrono::milliseconds timeout) {
  DefaultReadTimeoutMs() = timeout.count();
}

void TNetConnection::CancelCalls() { HttpTransport::CancelAll(); }

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

bool TNetConnection::UsesTls() const { return ServerHost::Parse(host_).tls; }

std::string TNetConnection::HostName() const { return ServerHost::Parse(host_).name; }

std::string TNetConnection::EffectiveCaFile() const { return caFile_.empty() ? ::host::CaFile() : caFile_; }

void TNetConnection::CheckTokenTransport(const std::string& what, const std::string& authorization) const {
  if (authorization.empty() || insecure_ || ::host::Insecure()) return;
  if (const ServerHost server = ServerHost::Parse(host_); server.tls || server.IsLoopback()) return;
  Fail(what,
       "o token de acesso não é enviado sem criptografia a um servidor fora desta máquina; use "
       "https:// no endereço do servidor ou permita explicitamente a conexão insegura (--insecure)");
}

void TNetConnection::Fail(const std::string& what, const std::string& reason, int status) const {
  throw ENetError("Falha ao " + what + " em " + Address() + ": " + reason, status);
}

void TNetConnection::SetAccessRenewer(AccessRenewer renewer) {
  RenewWatch& watch = RenewWatcher();
  const std::lock_guard<std::mutex> lock(watch.mutex);
  watch.renewer = std::move(renewer);
}

bool TNetConnection::RenewedAccess() const {
  if (!accessToken_.empty()) return false;
  AccessRenewer renewer;
  {
    RenewWatch& watch = RenewWatcher();
    const std::lock_guard<std::mutex> lock(watch.mutex);
    renewer = watch.renewer;
  }
  return renewer && renewer();
}

std::string TNetConnection::Authorization(const std::string& what) const {
  const std::string token = accessToken_.empty() ? ::host::AccessToken() : accessToken_;
  if (token.empty()) return {};
  for (const char c : token) {
    if (c < 0x21 || c > 0x7E) Fail(what, "token de acesso inválido (só caracteres visíveis, sem espaços)");
  }
  return "Bearer " + token;
}

bool TNetConnection::Connected() const { return transport_ != nullptr; }

void TNetConnection::SetCallObserver(CallObserver observer) { Observer() = std::move(observer); }

void TNetConnection::SetCallRunner(CallRunner runner) { Runner() = std::move(runner); }

void TNetConnection::SetOpenObserver(OpenObserver observer) {
  OpenWatch& watch = OpenWatcher();
  const std::lock_guard<std::mutex> lock(watch.mutex);
  watch.observer = std::move(observer);
}

void TNetConnection::Exchange(HttpTransport& transport, const std::string& what, NetRequest request,
                              AnswerReceiver& receiver) {
  ExchangeEnd ended;  // Canceled, should the runner not run the exchange
  const auto exchange = [&] {
    try {
      ended = transport.Send(std::move(request), receiver);
    } catch (const std::exception& e) {
      receiver.Abandon(e);
      ended = ExchangeEnd::Failed({});
    }
  };
  if (const CallRunner& runner = Runner()) {
    runner(exchange);
  } else {
    exchange();
  }
  if (ended.how == ExchangeEnd::How::Canceled) {
    Close();
    Fail(what, "chamada cancelada pelo usuário");
  }
  if (!receiver.Failure().empty()) {
    // The answer was abandoned part way: the stream cannot carry another exchange.
    Close();
    Fail(what, receiver.Failure());
  }
  if (ended.how == ExchangeEnd::How::Failed) Fail(what, ended.reason);
  if (ended.status != 200) {
    const std::string excerpt = ended.status == 401 ? std::string() : receiver.Excerpt();
    Fail(what, StatusReason(ended.status) + (excerpt.empty() ? "" : " (" + excerpt + ")"), ended.status);
  }
}

void TNetConnection::Open() {
  if (transport_) return;
  try {
    OpenOnce();
  } catch (const ENetError& e) {
    if (e.Status() != 401 || !RenewedAccess()) throw;
    OpenOnce();
  }
}

void TNetConnection::OpenOnce() {
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

  auto transport = std::make_unique<HttpTransport>(
      HttpTransport::Endpoint{HostName(), port_, UsesTls(), caFile, connectTimeout_, readTimeout_});
  // The service's description is small: an answer past this is not the service.
  std::string description;
  AnswerReceiver receiver(std::min<std::uint64_t>(maxAnswerBytes_, 1 << 20), [&description](std::string_view bytes) {
    description.append(bytes);
    return std::string();
  });
  Exchange(*transport, what, NetRequest{NetRequest::Method::Get, "/" + serverName_, authorization, {}, {}}, receiver);
  transport_ = std::move(transport);
  serverUser_ = DescribedUser(description);
  OpenObserver observer;
  {
    OpenWatch& watch = OpenWatcher();
    const std::lock_guard<std::mutex> lock(watch.mutex);
    observer = watch.observer;
  }
  if (observer) observer(*this);
}

void TNetConnection::Close() {
  transport_.reset();
  serverUser_.clear();
}

Variant TNetConnection::Call(const std::string& method, const std::vector<Variant>& args) {
  const std::string what = "chamar " + method;
  if (method.empty()) Fail("chamar o serviço", "método não informado");
  // Build the request before anything is sent, so a bad argument sends nothing.
  std::vector<wire::JsonRpcParam> params;
  if (const std::string why = CallParams(args, params); !why.empty()) Fail(what, why);
  // A token that may not travel sends nothing, and the observer hears of no call.
  CheckTokenTransport(what, Authorization(what));
  if (const CallObserver& observer = Observer()) observer(method, args);
  try {
    return CallOnce(what, method, params);
  } catch (const ENetError& e) {
    if (e.Status() != 401 || !RenewedAccess()) throw;
  }
  // The server refused the request before doing anything: the same call goes again, on a
  // connection opened with the new token.
  Close();
  return CallOnce(what, method, params);
}

Variant TNetConnection::CallOnce(const std::string& what, const std::string& method,
                                 const std::vector<wire::JsonRpcParam>& params) {
  const std::string authorization = Authorization(what);
  CheckTokenTransport(what, authorization);
  Open();

  const std::int64_t id = nextId_++;
  // The answer is decoded while it arrives; only the envelope's checks are left afterwards.
  AnswerDecoder decoder;
  AnswerReceiver receiver(maxAnswerBytes_, &decoder);
  Exchange(*transport_, what,
           NetRequest{NetRequest::Method::Post, "/" + serverName_, authorization,
                      wire::JsonRpcRequest::Write(id, method, params), {}},
           receiver);
  const auto broken = [&](const std::string& detail) { Fail(what, "resposta inválida do servidor (" + detail + ")"); };
  if (!decoder.Finish()) broken(decoder.Failure());
  if (decoder.HasError()) {
    throw ENetError("Falha ao " + what + " em " + Address() + ": o servidor respondeu com o erro " +
                        std::to_string(decoder.ErrorCode()) + ": " + decoder.ErrorMessage(),
                    0, static_cast<int>(decoder.ErrorCode()));
  }
  if (!decoder.HasResult()) broken("sem \"result\"");
  if (decoder.Id() != id) broken("identificador da resposta não confere com o da chamada");
  return decoder.TakeResult();
}

}  // namespace host
