// Directory signs people in against the company's directory (OpenLDAP, Active Directory) through
// OpenLDAP's libldap. The person binds as themselves (a simple bind with the password typed) to
// the distinguished name the template makes of their name ("uid={user},ou=pessoas,dc=empresa,dc=br",
// or "{user}@empresa.local" for Active Directory); their role comes from membership of two groups
// (the group entry's `member` attribute holds the person's DN): edicao when in the edicao group
// (also when in both), consulta when only in the consulta group; in neither, they cannot sign in.
// With a template that makes no DN (Active Directory's user@domain), the person's DN comes from
// the directory's "who am I" answer, else from a search for that userPrincipalName under the
// groups' domain.
//
// Only plain names reach the directory (PlainUserName): no character of a DN or a filter, so a
// name can neither name another entry nor change a query. An empty password is never sent (to a
// directory an empty password is an anonymous bind, which succeeds).
//
// Transport: ldaps:// speaks TLS from the start; ldap:// is upgraded with StartTLS, except to a
// loopback address. The certificate is verified (against caFile when given, else the system's
// CA store) and must name the host. `insecure` allows plain ldap:// to any address. Every call to
// the directory has a deadline (`timeout`, for connecting and for each answer): past it, or when
// the directory cannot be reached, the answer is kUnavailable with the reason.
//
// Each sign-in uses a connection of its own; thread-safe. Intentionally copyable.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "server/access/Identity.h"

namespace server {

struct DirectoryOptions {
  std::string uri;            // ldap://HOST[:PORT] or ldaps://HOST[:PORT]; empty: no directory
  std::string userDn;         // the template of a person's bind name, holding {user}
  std::string groupEdicao;    // DN of the group whose members may change the lists
  std::string groupConsulta;  // DN of the group whose members may only look
  std::string caFile;         // PEM file of the CAs a TLS directory's certificate is verified against
  bool insecure = false;      // plain ldap:// to an address that is not loopback
  std::chrono::milliseconds timeout{5000};

  bool Configured() const { return !uri.empty(); }
};

struct DirectoryAnswer {
  enum class Outcome {
    kAccepted,     // the password is right and the person is in a group: role, user
    kRefused,      // the name or password is wrong (or the directory refused the bind)
    kNoGroup,      // the password is right but the person is in neither group: user
    kUnavailable,  // the directory could not be reached or did not answer in time: detail
  };
  Outcome outcome = Outcome::kUnavailable;
  std::string user;  // the name as the directory spells it
  Role role = Role::kConsulta;
  std::string detail;  // what happened, for the log (never the password)
};

class Directory {
 public:
  // Why options cannot be used ("" when they can): a URI that is not ldap:// or ldaps://, a
  // template without {user}, a group missing, a CA file that cannot be read.
  static std::string Unfit(const DirectoryOptions& options);

  // REQUIRES: Unfit(options) is "".
  explicit Directory(DirectoryOptions options);

  // Signs name in with password. REQUIRES: PlainUserName(name) and a password that is not empty.
  DirectoryAnswer SignIn(std::string_view name, std::string_view password) const;

  // True when the connection would be plain (no TLS): ldap:// to loopback, or insecure.
  bool Plain() const;
  const DirectoryOptions& Options() const { return options_; }

 private:
  DirectoryOptions options_;
};

}  // namespace server
