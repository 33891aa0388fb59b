// The serve command at run time: what it reads before it starts (the secrets, from the files the
// configuration names or else from systemd's credentials; the trusted proxies; the log file),
// the start itself, and what it does on signals: SIGINT and SIGTERM stop it after the calls under
// way; SIGHUP reloads it.
//
// A reload reads the command line and the configuration file again and takes from them what may
// change while the server runs (the options marked reloadable: tokens, TLS certificate and key,
// log file, format and level, trusted proxies): the tokens and TLS files are read again even when
// their names did not change, and the log file is opened again (so logrotate may move it away
// first). Everything is read and checked before anything changes: a reload that fails changes
// nothing and says why; one that succeeds says what changed, and which changed options wait for
// the next start.
//
// --check-config reads and checks everything a start would read (but opens no store and binds no
// address), says what it found, and exits: 0 when a start would get this far, 1 otherwise.
//
// Secrets from systemd: when the configuration names no tokens file, the server reads
// $CREDENTIALS_DIRECTORY/tokens when the unit gave one (LoadCredential=tokens:…); when it names
// no certificate and key, $CREDENTIALS_DIRECTORY/tls.crt and tls.key (both or neither).
//
// Running as root outside a container is logged as a warning.
#pragma once

#include <string>
#include <sys/types.h>

#include "server/cli/CommandTable.h"

namespace server {

// Runs serve (or --check-config) with settings. Returns the exit status.
int Serve(const ServerSettings& settings);

// The warning due for a server running as user euid (in a container or not), or "".
std::string RootWarning(uid_t euid, bool inContainer);

}  // namespace server
