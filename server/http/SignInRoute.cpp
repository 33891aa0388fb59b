#include "server/http/SignInRoute.h"

#include <simdjson.h>

#include "host/wire/PacketWriter.h"
#include "server/service/AuditTime.h"

namespace server {
namespace {

using host::wire::PacketWriter;

std::string Cookie(std::string_view value, long long maxAge, bool tls) {
  return std::string(kSessionCookie) + "=" + std::string(value) + "; HttpOnly; SameSite=Strict; Path=/; Max-Age=" +
         std::to_string(maxAge) + (tls ? "; Secure" : "");
}

// The outcome line's start: who tried, from where.
std::string Who(std::string_view name, std::string_view client) {
  // The call log escapes the line.
  return "user \"" + std::string(name.substr(0, 80)) + "\" from " + std::string(client);
}

}  // namespace

std::string AddressOf(std::string_view client) {
  if (!client.empty() && client.front() == '[') {
    const size_t close = client.find(']');
    return std::string(client.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
  }
  return std::string(client.substr(0, client.rfind(':')));
}

RouteAnswer AnswerSignIn(AccessControl& access, std::string_view body, std::string_view client, bool tls) {
  std::string_view name, password;
  simdjson::dom::parser parser;
  simdjson::dom::object object;
  const simdjson::padded_string padded(body);
  bool read = parser.parse(padded).get(object) == simdjson::SUCCESS &&
              object["user"].get(name) == simdjson::SUCCESS && object["password"].get(password) == simdjson::SUCCESS;
  if (read) {
    size_t members = 0;
    for ([[maybe_unused]] const auto member : object) ++members;
    read = members == 2;
  }
  if (!read) {
    return {400, ErrorBody(400, "corpo inválido: envie {\"user\":\"…\",\"password\":\"…\"}"), {},
            "refused: " + std::string(client) + " sent no sign-in object"};
  }

  const SignInOutcome outcome = access.SignIn(name, password, AddressOf(client));
  if (outcome.status != 200) {
    RouteAnswer refused{outcome.status, ErrorBody(outcome.status, outcome.message), {},
                        "refused: " + Who(name, client) + ": HTTP " + std::to_string(outcome.status) + ", " +
                            outcome.log};
    if (outcome.status == 429) refused.headers.emplace_back("Retry-After", std::to_string(outcome.retryAfter));
    return refused;
  }
  std::string answer = R"({"token":)";
  PacketWriter::AppendJsonString(answer, outcome.token);
  answer += R"(,"user":)";
  PacketWriter::AppendJsonString(answer, outcome.who.user);
  answer += R"(,"role":)";
  PacketWriter::AppendJsonString(answer, RoleName(outcome.who.role));
  answer += R"(,"expires":)";
  PacketWriter::AppendJsonString(
      answer, AuditTime::Format(std::chrono::system_clock::time_point(std::chrono::milliseconds(outcome.expires))));
  answer += '}';
  const auto maxAge = std::chrono::duration_cast<std::chrono::seconds>(access.OpenSessions().Limits().max).count();
  return {200, std::move(answer), {{"Set-Cookie", Cookie(outcome.token, maxAge, tls)}, {"Cache-Control", "no-store"}},
          "ok: " + Who(name, client) + ": " + outcome.log};
}

RouteAnswer AnswerSignOut(AccessControl& access, std::string_view token, bool tls) {
  const bool ended = !token.empty() && access.SignOut(token);
  return {200, R"({"ok":true})", {{"Set-Cookie", Cookie("", 0, tls)}},
          ended ? "ok: session ended" : "ok: no open session"};
}

}  // namespace server
