#include "server/access/Directory.h"

#include <arpa/inet.h>
#include <ldap.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace server {
namespace {

using Outcome = DirectoryAnswer::Outcome;

struct Unbind {
  void operator()(LDAP* ld) const { ldap_unbind_ext_s(ld, nullptr, nullptr); }
};
using Connection = std::unique_ptr<LDAP, Unbind>;

struct FreeMessage {
  void operator()(LDAPMessage* m) const { ldap_msgfree(m); }
};
using Message = std::unique_ptr<LDAPMessage, FreeMessage>;

struct FreeUrl {
  void operator()(LDAPURLDesc* u) const { ldap_free_urldesc(u); }
};

std::string Lower(std::string_view text) { return UserKey(text); }

bool IsLoopback(std::string host) {
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  if (Lower(host) == "localhost") return true;
  unsigned char v4[4];
  if (inet_pton(AF_INET, host.c_str(), v4) == 1) return v4[0] == 127;
  unsigned char v6[16];
  if (inet_pton(AF_INET6, host.c_str(), v6) == 1) {
    static const unsigned char kLoopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    return std::equal(v6, v6 + 16, kLoopback);
  }
  return false;
}

// The scheme and host of a directory URI; false when it is not one.
bool ParseUri(const std::string& uri, std::string& scheme, std::string& host) {
  LDAPURLDesc* parsed = nullptr;
  if (ldap_url_parse(uri.c_str(), &parsed) != LDAP_URL_SUCCESS || parsed == nullptr) return false;
  const std::unique_ptr<LDAPURLDesc, FreeUrl> owned(parsed);
  scheme = Lower(parsed->lud_scheme ? parsed->lud_scheme : "");
  host = parsed->lud_host ? parsed->lud_host : "";
  return (scheme == "ldap" || scheme == "ldaps") && !host.empty();
}

// True when the result code means the directory was not reached or gave no answer in time.
bool Unreachable(int rc) {
  return rc == LDAP_SERVER_DOWN || rc == LDAP_TIMEOUT || rc == LDAP_CONNECT_ERROR || rc == LDAP_UNAVAILABLE ||
         rc == LDAP_BUSY || rc == LDAP_TIMELIMIT_EXCEEDED || rc == LDAP_NO_MEMORY || rc == LDAP_LOCAL_ERROR;
}

std::string Why(std::string_view what, int rc) { return std::string(what) + ": " + ldap_err2string(rc); }

DirectoryAnswer Answer(Outcome outcome, std::string detail) {
  DirectoryAnswer a;
  a.outcome = outcome;
  a.detail = std::move(detail);
  return a;
}

// "\2a" for each character a filter value may not hold as it is (RFC 4515).
std::string FilterValue(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '*' || c == '(' || c == ')' || c == '\\' || c == '\0') {
      static const char kHex[] = "0123456789abcdef";
      out += '\\';
      out += kHex[(static_cast<unsigned char>(c) >> 4) & 0xF];
      out += kHex[static_cast<unsigned char>(c) & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

// The "dc=…" components at the end of dn, where a domain's entries live.
std::string DomainOf(const std::string& dn) {
  const std::string lower = Lower(dn);
  for (size_t at = 0; at < lower.size(); at = lower.find(',', at) + 1) {
    const size_t start = lower.find_first_not_of(' ', at);
    if (lower.compare(start, 3, "dc=") == 0) return dn.substr(start);
    if (lower.find(',', at) == std::string::npos) break;
  }
  return {};
}

class Session {
 public:
  Session(const DirectoryOptions& options, bool plain) : options_(options), plain_(plain) {}

  // Connects and, when the connection must be secured, secures it. Returns "" or why not.
  std::string Open() {
    LDAP* raw = nullptr;
    if (const int rc = ldap_initialize(&raw, options_.uri.c_str()); rc != LDAP_SUCCESS) return Why("address", rc);
    ld_.reset(raw);
    const int version = LDAP_VERSION3;
    const int demand = LDAP_OPT_X_TLS_DEMAND;
    const int tls12 = LDAP_OPT_X_TLS_PROTOCOL_TLS1_2;
    const int newContext = 0;
    timeval deadline{};
    deadline.tv_sec = static_cast<time_t>(options_.timeout.count() / 1000);
    deadline.tv_usec = static_cast<suseconds_t>((options_.timeout.count() % 1000) * 1000);
    const unsigned int userTimeout = static_cast<unsigned int>(options_.timeout.count());
    ldap_set_option(ld_.get(), LDAP_OPT_PROTOCOL_VERSION, &version);
    ldap_set_option(ld_.get(), LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
    ldap_set_option(ld_.get(), LDAP_OPT_NETWORK_TIMEOUT, &deadline);
    ldap_set_option(ld_.get(), LDAP_OPT_TIMEOUT, &deadline);
    ldap_set_option(ld_.get(), LDAP_OPT_TCP_USER_TIMEOUT, &userTimeout);
    ldap_set_option(ld_.get(), LDAP_OPT_X_TLS_REQUIRE_CERT, &demand);
    ldap_set_option(ld_.get(), LDAP_OPT_X_TLS_PROTOCOL_MIN, &tls12);
    if (!options_.caFile.empty()) ldap_set_option(ld_.get(), LDAP_OPT_X_TLS_CACERTFILE, options_.caFile.c_str());
    // The TLS settings above take effect in a context of this connection's own.
    ldap_set_option(ld_.get(), LDAP_OPT_X_TLS_NEWCTX, &newContext);
    if (const int rc = ldap_connect(ld_.get()); rc != LDAP_SUCCESS) return Why("connect", rc);
    if (!plain_ && Lower(options_.uri).rfind("ldap://", 0) == 0) {
      if (const int rc = ldap_start_tls_s(ld_.get(), nullptr, nullptr); rc != LDAP_SUCCESS) return Why("StartTLS", rc);
    }
    return {};
  }

  LDAP* Handle() { return ld_.get(); }

 private:
  const DirectoryOptions& options_;
  bool plain_;
  Connection ld_;
};

// The values of attribute attr of the entry dn, read with a base search; rc gets the result.
std::vector<std::string> ReadValues(LDAP* ld, const std::string& dn, std::vector<const char*> attrs, int& rc) {
  attrs.push_back(nullptr);
  LDAPMessage* raw = nullptr;
  rc = ldap_search_ext_s(ld, dn.c_str(), LDAP_SCOPE_BASE, "(objectClass=*)", const_cast<char**>(attrs.data()), 0,
                         nullptr, nullptr, nullptr, 1, &raw);
  const Message result(raw);
  std::vector<std::string> values;
  if (rc != LDAP_SUCCESS) return values;
  LDAPMessage* entry = ldap_first_entry(ld, result.get());
  if (entry == nullptr) return values;
  for (size_t i = 0; attrs[i] != nullptr; ++i) {
    berval** found = ldap_get_values_len(ld, entry, attrs[i]);
    if (found == nullptr) continue;
    for (berval** v = found; *v != nullptr; ++v) values.emplace_back((*v)->bv_val, (*v)->bv_len);
    ldap_value_free_len(found);
  }
  return values;
}

}  // namespace

std::string Directory::Unfit(const DirectoryOptions& options) {
  std::string scheme, host;
  if (!ParseUri(options.uri, scheme, host)) {
    return "--ldap-uri takes ldap://HOST[:PORT] or ldaps://HOST[:PORT], not \"" + options.uri + "\"";
  }
  if (options.userDn.find("{user}") == std::string::npos) {
    return "--ldap-user-dn must hold {user}, e.g. uid={user},ou=pessoas,dc=empresa,dc=br or {user}@empresa.local";
  }
  if (options.groupEdicao.empty() || options.groupConsulta.empty()) {
    return "--ldap-uri needs both --ldap-group-edicao and --ldap-group-consulta";
  }
  if (!options.caFile.empty() && access(options.caFile.c_str(), R_OK) != 0) {
    return "cannot read the CA file " + options.caFile + " of --ldap-ca";
  }
  return {};
}

Directory::Directory(DirectoryOptions options) : options_(std::move(options)) {}

bool Directory::Plain() const {
  std::string scheme, host;
  if (!ParseUri(options_.uri, scheme, host)) return false;
  return scheme == "ldap" && (options_.insecure || IsLoopback(host));
}

DirectoryAnswer Directory::SignIn(std::string_view name, std::string_view password) const {
  if (!PlainUserName(name) || password.empty()) return Answer(Outcome::kRefused, "not a name and password to send");
  Session session(options_, Plain());
  // No password is sent over a connection that could not be opened or secured.
  if (const std::string why = session.Open(); !why.empty()) return Answer(Outcome::kUnavailable, why);
  LDAP* ld = session.Handle();

  std::string bindName = options_.userDn;
  for (size_t at = bindName.find("{user}"); at != std::string::npos; at = bindName.find("{user}", at + name.size())) {
    bindName.replace(at, 6, name);
  }
  berval credentials{static_cast<ber_len_t>(password.size()), const_cast<char*>(password.data())};
  const int bound = ldap_sasl_bind_s(ld, bindName.c_str(), LDAP_SASL_SIMPLE, &credentials, nullptr, nullptr, nullptr);
  if (Unreachable(bound)) return Answer(Outcome::kUnavailable, Why("bind", bound));
  if (bound != LDAP_SUCCESS) return Answer(Outcome::kRefused, Why("bind as " + bindName, bound));

  // The person's DN: the bind name when it is one, else what the directory says.
  std::string dn = bindName;
  if (bindName.find('=') == std::string::npos) {
    dn.clear();
    berval* authzid = nullptr;
    if (ldap_whoami_s(ld, &authzid, nullptr, nullptr) == LDAP_SUCCESS && authzid != nullptr) {
      const std::string said(authzid->bv_val, authzid->bv_len);
      if (Lower(said).rfind("dn:", 0) == 0) dn = said.substr(3);
    }
    if (authzid != nullptr) ber_bvfree(authzid);
    if (dn.empty()) {
      const std::string base = DomainOf(options_.groupEdicao);
      const std::string filter = "(userPrincipalName=" + FilterValue(bindName) + ")";
      char noAttributes[] = "1.1";
      char* attrs[] = {noAttributes, nullptr};
      LDAPMessage* raw = nullptr;
      const int rc = ldap_search_ext_s(ld, base.c_str(), LDAP_SCOPE_SUBTREE, filter.c_str(), attrs, 0, nullptr,
                                       nullptr, nullptr, 1, &raw);
      const Message result(raw);
      if (Unreachable(rc)) return Answer(Outcome::kUnavailable, Why("search for " + bindName, rc));
      if (LDAPMessage* entry = rc == LDAP_SUCCESS ? ldap_first_entry(ld, result.get()) : nullptr) {
        char* found = ldap_get_dn(ld, entry);
        if (found != nullptr) dn = found;
        ldap_memfree(found);
      }
    }
    if (dn.empty()) return Answer(Outcome::kNoGroup, "the directory did not say the entry of " + bindName);
  }

  // The name as the directory spells it: the value of uid or sAMAccountName (or the name part of
  // userPrincipalName) that is the name typed, whatever its case.
  DirectoryAnswer answer;
  answer.user = std::string(name);
  int read = LDAP_SUCCESS;
  for (std::string value : ReadValues(ld, dn, {"uid", "sAMAccountName", "userPrincipalName"}, read)) {
    if (const size_t at = value.find('@'); at != std::string::npos && Lower(value) != Lower(name)) value.resize(at);
    if (Lower(value) == Lower(name)) {
      answer.user = value;
      break;
    }
  }
  if (Unreachable(read)) return Answer(Outcome::kUnavailable, Why("read " + dn, read));

  // The role, from the groups' member attribute.
  const auto member = [&](const std::string& group, int& rc) {
    berval value{static_cast<ber_len_t>(dn.size()), const_cast<char*>(dn.data())};
    char attribute[] = "member";
    rc = ldap_compare_ext_s(ld, group.c_str(), attribute, &value, nullptr, nullptr);
    return rc == LDAP_COMPARE_TRUE;
  };
  int rc = LDAP_SUCCESS;
  if (member(options_.groupEdicao, rc)) {
    answer.role = Role::kEdicao;
  } else if (Unreachable(rc)) {
    return Answer(Outcome::kUnavailable, Why("compare " + options_.groupEdicao, rc));
  } else if (member(options_.groupConsulta, rc)) {
    answer.role = Role::kConsulta;
  } else if (Unreachable(rc)) {
    return Answer(Outcome::kUnavailable, Why("compare " + options_.groupConsulta, rc));
  } else {
    answer.outcome = Outcome::kNoGroup;
    answer.detail = dn + " is a member of neither group";
    return answer;
  }
  answer.outcome = Outcome::kAccepted;
  answer.detail = dn;
  return answer;
}

}  // namespace server
