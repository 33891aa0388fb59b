#include "server/cli/UserCommands.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <iostream>
#include <stdexcept>

#include "server/access/PasswordHash.h"
#include "server/service/AuditTime.h"
#include "server/store/Store.h"

namespace server {
namespace {

using Settings = ServerSettings;

// The NAME argument, checked. Raises EUsage.
std::string NameOf(const Settings& settings) {
  const std::string& name = settings.arguments.at(0);
  if (!PlainUserName(name)) {
    throw EUsage("a user name has 1 to " + std::to_string(kMaxUserNameLength) +
                 " ASCII letters, digits, '.', '_', '-' or '@', not \"" + name + "\"");
  }
  return name;
}

// Reads one line from fd (without its end), at most PasswordHash::kMaxBytes + 1 bytes.
std::string ReadLine(int fd) {
  std::string line;
  char c = 0;
  for (;;) {
    const ssize_t n = read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || c == '\n') break;
    if (line.size() <= PasswordHash::kMaxBytes) line += c;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

// Turns the terminal's echo off for its life.
class NoEcho {
 public:
  explicit NoEcho(int fd) : fd_(fd) {
    saved_ = tcgetattr(fd_, &before_) == 0;
    if (!saved_) return;
    termios quiet = before_;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(fd_, TCSAFLUSH, &quiet);
  }
  ~NoEcho() {
    if (saved_) tcsetattr(fd_, TCSAFLUSH, &before_);
  }
  NoEcho(const NoEcho&) = delete;
  NoEcho& operator=(const NoEcho&) = delete;

 private:
  int fd_;
  termios before_{};
  bool saved_ = false;
};

// The new password: one line of standard input, or asked twice on the terminal. Raises EUsage
// when it cannot be read or is unfit.
std::string NewPassword(const Settings& settings, const std::string& name) {
  std::string password;
  if (settings.passwordStdin) {
    password = ReadLine(STDIN_FILENO);
  } else {
    const int tty = open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (tty < 0) throw EUsage("no terminal to ask the password on; give it on standard input with --password-stdin");
    const auto say = [tty](const std::string& text) { (void)!write(tty, text.data(), text.size()); };
    std::string again;
    {
      const NoEcho quiet(tty);
      say("Password for " + name + ": ");
      password = ReadLine(tty);
      say("\nThe same password again: ");
      again = ReadLine(tty);
      say("\n");
    }
    close(tty);
    if (password != again) throw EUsage("the two passwords differ; nothing was changed");
  }
  if (const std::string why = PasswordHash::Unfit(password); !why.empty()) throw EUsage(why);
  return password;
}

// The stored user of NAME. Raises std::runtime_error when there is none.
UserRecord Existing(StoreSession& session, const std::string& name) {
  auto user = session.FindUser(UserKey(name));
  if (!user) throw std::runtime_error("there is no local user " + name);
  return *user;
}

// Writes a changed user; ends their sessions when endSessions.
void Write(StoreSession& session, UserRecord user, bool endSessions, const std::string& what) {
  user.changed = AuditTime::Now();
  session.BeginWrite();
  try {
    if (!session.UpdateUser(user)) throw std::runtime_error("there is no local user " + user.name);
    const int64_t ended = endSessions ? session.EndUserSessions(user.key) : 0;
    session.Commit();
    std::cerr << "user " << user.name << ": " << what;
    if (ended > 0) std::cerr << "; " << ended << (ended == 1 ? " open session ended" : " open sessions ended");
    std::cerr << "\n";
  } catch (...) {
    session.Rollback();
    throw;
  }
}

int Add(const Settings& settings) {
  const std::string name = NameOf(settings);
  const auto store = Store::Open(settings.db);
  const auto session = store->OpenSession();
  if (session->FindUser(UserKey(name))) throw std::runtime_error("the local user " + name + " already exists");
  const std::string password = NewPassword(settings, name);
  const Role role = settings.role.value_or(Role::kConsulta);
  const std::string now = AuditTime::Now();
  const bool first = session->CountUsers() == 0;
  if (!session->AddUser(UserRecord{UserKey(name), name, std::string(RoleName(role)), PasswordHash::Hash(password),
                                   false, now, now})) {
    throw std::runtime_error("the local user " + name + " already exists");
  }
  std::cerr << "user " << name << " added, role " << RoleName(role) << "\n";
  if (first) {
    std::cerr << "the store's first local user: a server started before it lets anyone call until it is restarted\n";
  }
  return 0;
}

int Passwd(const Settings& settings) {
  const std::string name = NameOf(settings);
  const auto store = Store::Open(settings.db);
  const auto session = store->OpenSession();
  UserRecord user = Existing(*session, name);
  user.passwordHash = PasswordHash::Hash(NewPassword(settings, user.name));
  Write(*session, user, true, "password changed");
  return 0;
}

int SetRole(const Settings& settings) {
  const std::string name = NameOf(settings);
  const auto store = Store::Open(settings.db);
  const auto session = store->OpenSession();
  UserRecord user = Existing(*session, name);
  user.role = std::string(RoleName(settings.role.value()));
  Write(*session, user, true, "role " + user.role);
  return 0;
}

int Enable(const Settings& settings, bool enabled) {
  const std::string name = NameOf(settings);
  const auto store = Store::Open(settings.db);
  const auto session = store->OpenSession();
  UserRecord user = Existing(*session, name);
  user.disabled = !enabled;
  Write(*session, user, !enabled, enabled ? "enabled" : "disabled");
  return 0;
}

int List(const Settings& settings) {
  const auto store = Store::Open(settings.db);
  const auto users = store->OpenSession()->ListUsers();
  for (const UserRecord& u : users) {
    std::cout << u.name << "  " << u.role << "  " << (u.disabled ? "disabled" : "enabled") << "  created "
              << u.created << "  changed " << u.changed << "\n";
  }
  std::cout.flush();
  std::cerr << users.size() << (users.size() == 1 ? " local user\n" : " local users\n");
  return 0;
}

OptionSpec Db() {
  return TextOption("--db", "DB", "SQLite file of the server, or a postgresql:// URI",
                    [](Settings& s) -> auto& { return s.db; })
      .Required();
}

OptionSpec RoleOption(std::string help) {
  OptionSpec o = ChoiceOption(
      "--role", std::move(help),
      std::vector<std::pair<std::string, Role>>{{"edicao", Role::kEdicao}, {"consulta", Role::kConsulta}},
      [](Settings& s) -> auto& { return s.role; });
  o.shownDefault = nullptr;  // none: the help says what applies
  return o;
}

OptionSpec PasswordStdin() {
  return FlagOption("--password-stdin",
                    "read the password from one line of standard input instead of asking on\nthe terminal",
                    [](Settings& s) -> auto& { return s.passwordStdin; });
}

}  // namespace

std::vector<CommandSpec> UserCommands() {
  const std::string names =
      "NAME has 1 to 64 ASCII letters, digits, '.', '_', '-' or '@'; names are matched without regard to case.\n";
  std::vector<CommandSpec> commands;
  OptionSpec role = RoleOption("edicao may change the lists, consulta may only look (default consulta)");
  commands.push_back({.name = "user add",
                      .summary = "add a local user who signs in with a password",
                      .description = "Adds the local user NAME to the store at DB. The password (at least 10 "
                                     "characters) is asked twice\non the terminal, or read from standard input.\n" +
                                     names,
                      .options = {Db(), std::move(role), PasswordStdin()},
                      .argument = "NAME",
                      .run = Add});
  commands.push_back({.name = "user passwd",
                      .summary = "give a local user a new password",
                      .description = "Gives the local user NAME a new password and ends their open sessions.\n",
                      .options = {Db(), PasswordStdin()},
                      .argument = "NAME",
                      .run = Passwd});
  commands.push_back({.name = "user role",
                      .summary = "change a local user's role",
                      .description = "Sets the role of the local user NAME and ends their open sessions.\n",
                      .options = {Db(), RoleOption("edicao may change the lists, consulta may only look").Required()},
                      .argument = "NAME",
                      .run = SetRole});
  commands.push_back({.name = "user disable",
                      .summary = "stop a local user from signing in",
                      .description = "Disables the local user NAME (kept for the audit trail) and ends their open "
                                     "sessions.\n",
                      .options = {Db()},
                      .argument = "NAME",
                      .run = [](const Settings& s) { return Enable(s, false); }});
  commands.push_back({.name = "user enable",
                      .summary = "let a disabled local user sign in again",
                      .description = "Enables the local user NAME again.\n",
                      .options = {Db()},
                      .argument = "NAME",
                      .run = [](const Settings& s) { return Enable(s, true); }});
  commands.push_back({.name = "user list",
                      .summary = "list the local users",
                      .description = "Lists the local users of the store at DB: name, role, enabled or disabled, "
                                     "times of creation\nand last change (UTC).\n",
                      .options = {Db()},
                      .run = List});
  return commands;
}

}  // namespace server
