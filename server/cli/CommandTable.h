// The server's subcommands as one table. Each command is one entry: its name, a one-line summary
// for the program's usage, a description for its help, its options, its positional argument and
// the function that runs it. Each option is one entry too: its name, what it takes, its help, and
// how its text is taken into the settings the command runs with. The table drives the reading of
// the command line (and of serve's configuration file), each command's --help and the program's
// usage, so adding an option or a command is one change in one place.
//
// No default is written in the table: help shows each option's default as read from a
// default-constructed ServerSettings, whose members are the server's own option structures
// (HttpServerOptions, StoreOptions, DemoOptions), so the help always states what the server uses.
//
// An option marked reloadable is one a running server takes again from its configuration file
// on SIGHUP; each option can say its value as text, so that a reload can say what changed.
//
// The tables are immutable values; intentionally copyable.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "server/cli/CommandLine.h"
#include "server/cli/DemoGenerator.h"
#include "server/access/Directory.h"
#include "server/access/Identity.h"
#include "server/access/Sessions.h"
#include "server/http/CallLog.h"
#include "server/http/HttpServer.h"
#include "server/service/RemoteService.h"
#include "server/http/TrustedProxies.h"
#include "server/store/Store.h"
#include "server/store/StoreBackup.h"

namespace server {

// What a command runs with: the defaults of every option, then what its command line and
// configuration file gave. Each command reads the members its options set.
struct ServerSettings {
  std::string db;                    // --db: an SQLite file or a postgresql:// URI
  std::vector<std::string> arguments;  // the positional arguments
  std::vector<std::string> commandLine;  // the command's arguments as given, read again on reload
  HttpServerOptions http;            // serve: address, workers, limits, TLS
  // serve: --create, --sync, --wal-size-limit, --db-connections, --db-wait-timeout
  StoreOptions store = DefaultStore();
  ServiceOptions service;            // serve: batch budget, rate of saves
  BackupOptions backup;              // backup: --force
  std::string tokensFile;            // serve: --tokens
  DirectoryOptions directory;        // serve: --ldap-…
  SessionLimits sessions;            // serve: --session-idle, --session-max
  std::optional<Role> role;          // user: --role
  bool passwordStdin = false;        // user: --password-stdin
  TrustedProxies trustedProxies;     // serve: --trusted-proxy
  std::string metricsHost;           // serve: --metrics-listen ("": no metrics listener)
  int metricsPort = 0;
  std::string logFile;               // serve: --log-file ("": standard error)
  LogFormat logFormat = LogFormat::kText;  // serve: --log-format
  LogLevel logLevel = LogLevel::kInfo;     // serve: --log-level
  bool checkConfig = false;          // serve: --check-config
  std::string web;                   // serve: --web, the browser client's folder ("none": no page)
  std::string local;                 // demo: --local
  DemoOptions demo;                  // demo: sizes and seed
  AuditFilter audit;                 // audit: --product, --since

  // The store options serve starts from: ten connections, calls waiting ten seconds for one.
  static StoreOptions DefaultStore() {
    StoreOptions o;
    o.connections = 10;
    o.connectionWait = std::chrono::seconds(10);
    return o;
  }
};

// One option of a command.
struct OptionSpec {
  enum class Kind {
    kValue,       // --name VALUE
    kFlag,        // --name
    kConfigFile,  // --config FILE: reads the configurable options from FILE
  };
  Kind kind = Kind::kValue;
  std::string name{};   // with the leading "--"
  std::string value{};  // what it takes, as the help shows it: "N", "HOST:PORT"
  std::string help{};   // lines of at most 74 characters joined by '\n'
  bool required = false;
  bool configurable = false;  // may also be set in the command's configuration file
  bool reloadable = false;    // a running server takes it again on SIGHUP
  // Takes the option's text (empty for a flag) into the settings. Raises EUsage.
  std::function<void(const std::string& text, ServerSettings& settings)> take{};
  // The default the help states, read from default settings; null: none stated.
  std::function<std::string(ServerSettings& defaults)> shownDefault{};
  // The option's value in settings, as text (what a reload compares and names); null: as
  // shownDefault says it.
  std::function<std::string(ServerSettings& settings)> shown{};

  OptionSpec Required() && { required = true; return std::move(*this); }
  OptionSpec Configurable() && { configurable = true; return std::move(*this); }
  OptionSpec Reloadable() && { configurable = reloadable = true; return std::move(*this); }
  // The option's value in settings as text ("" when it cannot say).
  std::string ValueIn(const ServerSettings& settings) const;
};

// Options listed under a heading of their own in the help and as "[name]" in the usage line.
struct OptionGroup {
  std::string name{};     // "limits"
  std::string heading{};  // the help's heading, without the colon
  std::vector<OptionSpec> options{};
};

struct CommandSpec {
  std::string name{};         // "serve"; a member of a family of commands: "user add"
  std::string summary{};      // one line for the program's usage
  std::string description{};  // the help's paragraph, lines of at most 100 characters
  std::vector<OptionSpec> options{};
  std::vector<OptionGroup> groups{};
  std::string argument{};  // the positional argument it takes ("LOCAL_DB"); empty: none
  bool manyArguments = false;  // the argument may be given several times (at least once)
  std::string footer{};    // the help's closing paragraph, if any
  // Checks what concerns several options together. Raises EUsage.
  std::function<void(const ServerSettings&)> check{};
  // Runs the command; returns the exit status. Raises EUsage on bad usage, anything else on a
  // failure while running.
  std::function<int(const ServerSettings&)> run{};
};

// The program's name, as its messages and help name it.
inline constexpr const char* kProgramName = "pdi07310-server";

// Parses a command's arguments into settings (the defaults, then what args and the configuration
// file give) and runs it; with --help prints the command's help on out instead. Returns the exit
// status. Raises EUsage on bad usage; what run raises passes through.
int RunCommand(const CommandSpec& command, const std::vector<std::string>& args, std::ostream& out);

// Reads a command's arguments into settings, as RunCommand does, without running it. Raises EUsage.
ServerSettings ReadSettings(const CommandSpec& command, const std::vector<std::string>& args);

// The text of "COMMAND --help".
std::string CommandHelp(const CommandSpec& command);

// The program's usage: "usage: …", the commands with their summaries, then footer.
std::string ProgramUsage(const std::vector<CommandSpec>& commands, const std::string& footer);

// Builders of option entries. field is a callable returning a reference to the member of
// ServerSettings the option sets: [](ServerSettings& s) -> auto& { return s.http.threads; }.

// --name VALUE stored as given.
template <class Field>
OptionSpec TextOption(std::string name, std::string value, std::string help, Field field) {
  OptionSpec o{.name = std::move(name), .value = std::move(value), .help = std::move(help)};
  o.take = [field](const std::string& text, ServerSettings& s) { field(s) = text; };
  o.shown = [field](ServerSettings& s) { return std::string(field(s)); };
  return o;
}

// --name with no value: sets a bool.
template <class Field>
OptionSpec FlagOption(std::string name, std::string help, Field field) {
  OptionSpec o{.kind = OptionSpec::Kind::kFlag, .name = std::move(name), .help = std::move(help)};
  o.take = [field](const std::string&, ServerSettings& s) { field(s) = true; };
  o.shown = [field](ServerSettings& s) { return std::string(field(s) ? "yes" : "no"); };
  return o;
}

// --name N: a whole number in [min, max].
template <class Field>
OptionSpec NumberOption(std::string name, std::string value, std::string help, int64_t min, int64_t max, Field field) {
  using Number = std::remove_reference_t<decltype(field(std::declval<ServerSettings&>()))>;
  OptionSpec o{.name = std::move(name), .value = std::move(value), .help = std::move(help)};
  o.take = [field, option = o.name, min, max](const std::string& text, ServerSettings& s) {
    field(s) = static_cast<Number>(CommandLine::ParseNumber(option, text, min, max));
  };
  o.shownDefault = [field](ServerSettings& s) { return std::to_string(field(s)); };
  return o;
}

// --name S: whole seconds in [min, max], kept as milliseconds.
template <class Field>
OptionSpec SecondsOption(std::string name, std::string help, int64_t min, int64_t max, Field field) {
  OptionSpec o{.name = std::move(name), .value = "S", .help = std::move(help)};
  o.take = [field, option = o.name, min, max](const std::string& text, ServerSettings& s) {
    field(s) = std::chrono::milliseconds(CommandLine::ParseNumber(option, text, min, max) * 1000);
  };
  o.shownDefault = [field](ServerSettings& s) {
    return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(field(s)).count());
  };
  return o;
}

// --name A|B|…: one of the choices' words, setting the field to the choice's value.
template <class Field, class Value>
OptionSpec ChoiceOption(std::string name, std::string help, std::vector<std::pair<std::string, Value>> choices,
                        Field field) {
  std::string words, listed;
  for (size_t i = 0; i < choices.size(); ++i) {
    words += (i > 0 ? "|" : "") + choices[i].first;
    listed += (i == 0 ? "" : i + 1 == choices.size() ? " or " : ", ") + choices[i].first;
  }
  OptionSpec o{.name = std::move(name), .value = words, .help = std::move(help)};
  o.take = [field, choices, listed, option = o.name](const std::string& text, ServerSettings& s) {
    for (const auto& [word, value] : choices) {
      if (word == text) {
        field(s) = value;
        return;
      }
    }
    throw EUsage(option + " takes " + listed + ", not \"" + text + "\"");
  };
  o.shownDefault = [field, choices](ServerSettings& s) {
    for (const auto& [word, value] : choices) {
      if (field(s) == value) return word;
    }
    return std::string();
  };
  return o;
}

// --config FILE.
OptionSpec ConfigFileOption(std::string help);

}  // namespace server
