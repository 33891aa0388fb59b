#include "host/net/SignIn.h"

#include <httplib.h>
#include <simdjson.h>

#include <algorithm>

#include "host/net/NetExchange.h"
#include "host/wire/PacketWriter.h"

namespace host {
namespace {

constexpr size_t kMaxAnswerBytes = 16 * 1024;

}  // namespace

SignInAnswer SignIn(const SignInServer& server, const std::string& user, const std::string& password) {
  SignInAnswer answer;
  const ServerHost host = ServerHost::Parse(server.host);
  const std::string& name = host.name;
  const bool tls = host.tls;
  const std::string address = name + ":" + std::to_string(server.port);
  if (!tls && !server.insecure && !host.IsLoopback()) {
    answer.message = "A senha não é enviada sem criptografia a um servidor fora desta máquina (" + address +
                     "); use https:// no endereço do servidor.";
    return answer;
  }

  const bool bareIpv6 = name.find(':') != std::string::npos && name.front() != '[';
  httplib::Client http(std::string(tls ? "https://" : "http://") + (bareIpv6 ? "[" + name + "]" : name) + ":" +
                       std::to_string(server.port));
  if (tls) {
    http.enable_server_certificate_verification(true);
    if (!server.caFile.empty()) http.set_ca_cert_path(server.caFile);
  }
  http.set_connection_timeout(std::min(server.timeout, std::chrono::milliseconds(10000)));
  http.set_read_timeout(server.timeout);
  http.set_write_timeout(server.timeout);

  std::string body = "{\"user\":";
  wire::PacketWriter::AppendJsonString(body, user);
  body += ",\"password\":";
  wire::PacketWriter::AppendJsonString(body, password);
  body += '}';
  std::string received;
  bool tooLarge = false;
  httplib::Request request;
  request.method = "POST";
  request.path = "/login";
  request.body = std::move(body);
  request.set_header("Content-Type", "application/json");
  request.content_receiver = [&](const char* data, size_t length, uint64_t, uint64_t) {
    if (received.size() + length > kMaxAnswerBytes) {
      tooLarge = true;
      return false;
    }
    received.append(data, length);
    return true;
  };
  const auto result = http.send(request);
  std::fill(request.body.begin(), request.body.end(), '\0');  // the password, not left in memory
  if (!result) {
    answer.message = tooLarge ? "O servidor " + address + " enviou uma resposta grande demais à entrada."
                              : "Não foi possível falar com o servidor " + address + " (" +
                                    httplib::to_string(result.error()) + ").";
    return answer;
  }
  answer.status = result->status;
  simdjson::dom::parser parser;
  simdjson::dom::object object;
  const bool json = parser.parse(received).get(object) == simdjson::SUCCESS;
  const auto text = [&](const char* key) {
    std::string_view value;
    return json && object[key].get(value) == simdjson::SUCCESS ? std::string(value) : std::string();
  };
  if (answer.status == 200) {
    answer.token = text("token");
    answer.user = text("user");
    answer.role = text("role");
    answer.expires = text("expires");
    answer.ok = !answer.token.empty() && (answer.role == "edicao" || answer.role == "consulta");
    if (!answer.ok) answer.message = "O servidor " + address + " respondeu à entrada sem uma sessão válida.";
    return answer;
  }
  answer.message = text("error");
  if (answer.message.empty()) {
    answer.message = answer.status == 404 ? "O servidor " + address + " não oferece entrada por usuário e senha."
                                          : "O servidor " + address + " respondeu HTTP " +
                                                std::to_string(answer.status) + " à entrada.";
  } else if (answer.status == 429) {
    const std::string after = result->get_header_value("Retry-After");
    if (!after.empty()) answer.message += " (tente de novo em " + after + " s)";
  }
  return answer;
}

}  // namespace host
