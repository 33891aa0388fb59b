// The commands of pdi07310-server, as one table (see CommandTable):
//
//   pdi07310-server serve --db DB [--create] [--sync full|normal] [--config FILE] [--check-config]
//                         [--listen HOST:PORT] [--tokens FILE] [--tls-cert FILE] [--tls-key FILE]
//                         [--threads N] [--db-connections N] [--db-wait-timeout S]
//                         [--trusted-proxy CIDR,...] [--metrics-listen HOST:PORT] [--log-file FILE]
//                         [--log-format text|json] [--log-level LEVEL] [limits]
//                         [sign-in: --ldap-uri URI --ldap-user-dn TEMPLATE --ldap-group-edicao DN
//                          --ldap-group-consulta DN [--ldap-ca FILE] [--ldap-insecure] [--ldap-timeout S]
//                          [--session-idle S] [--session-max S]]
//   pdi07310-server init --db DB
//   pdi07310-server migrate --db DB
//   pdi07310-server backup --db DB FILE
//   pdi07310-server restore --db DB FILE
//   pdi07310-server import-master --db DB FILE...
//   pdi07310-server export-local --db DB LOCAL_DB
//   pdi07310-server demo --db DB --local LOCAL_DB [--products N] [--rows-per-product M] [--seed S]
//   pdi07310-server audit --db DB [--product CDPRODUTO] [--since TIME]
//   pdi07310-server user add|passwd|role|disable|enable|list --db DB [NAME] … (see UserCommands.h)
//
// plus "--version" and "--help" (also "-h" and "help"). DB is an SQLite file or a postgresql://
// URI. Every command prints "COMMAND --help".
//
// Exit status: 0 done, 1 failure while running, 2 bad command line.
#pragma once

#include <string>
#include <vector>

#include "server/cli/CommandTable.h"

namespace server {

// The table of the program's commands, in the order its usage lists them.
const std::vector<CommandSpec>& ServerCommands();

// Runs the program on its arguments (without the program's name). Returns the exit status;
// messages go to stderr, help and reports to stdout.
int ServerMain(std::vector<std::string> args);

}  // namespace server
