// The commands that manage the local users of a store, entries of the server's command table:
//
//   pdi07310-server user add     --db DB NAME [--role edicao|consulta] [--password-stdin]
//   pdi07310-server user passwd  --db DB NAME [--password-stdin]
//   pdi07310-server user role    --db DB NAME --role edicao|consulta
//   pdi07310-server user disable --db DB NAME
//   pdi07310-server user enable  --db DB NAME
//   pdi07310-server user list    --db DB
//
// add and passwd ask for the password twice on the terminal, without echo, or read one line of
// standard input with --password-stdin; a password has at least 10 characters. A new user's role
// is consulta unless --role says otherwise. passwd, role and disable end the user's open sessions
// (servers notice within seconds). Names are plain (see server/access/Identity.h) and matched
// without regard to case.
#pragma once

#include <vector>

#include "server/cli/CommandTable.h"

namespace server {

// The entries, named "user add", "user passwd", …, in the order above.
std::vector<CommandSpec> UserCommands();

}  // namespace server
