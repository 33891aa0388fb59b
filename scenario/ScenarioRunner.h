// ScenarioRunner is the headless host: it loads the screen module the way the desktop does,
// answers dialogs from its script through the scripted host services, and works against a real
// application server and a real local database. It prints what happens as log lines.
//
// Used on one thread. Not copyable.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "host/controls/Form.h"
#include "host/module/ModuleLoader.h"
#include "host/services/ScriptedHost.h"
#include "scenario/ScriptReader.h"

namespace scenario {

struct Options {
  std::string serverHost = "127.0.0.1";
  int serverPort = 8470;
  std::string localDatabase;
  std::string productMask = "9999999999;0;_";
  std::string modulePath;
  std::string accessToken;  // sent to the server as a bearer token when not empty
  std::string caFile;       // CA file a TLS server's certificate is verified against ("": system's)
  bool insecure = false;    // allows the token over plain HTTP to a server not on loopback
  std::string role;         // --user: the role the server gave ("edicao", "consulta"); "" with a token
  std::string scriptPath;  // empty: standard input
  // When set, `say` lines, failed expectations and failed actions are written here (and the
  // log goes where the runner was told); when null, `say` lines go to the log as "say: TEXT".
  std::ostream* narrative = nullptr;
};

// Exit statuses of the runner.
inline constexpr int kExitOk = 0;
inline constexpr int kExitExpectFailed = 1;
inline constexpr int kExitBadInput = 2;
// Every line ran, but at least one step failed to reach the server (a refused connection, a cut
// one, a timeout): the log says which, and what the server holds afterwards where it matters.
inline constexpr int kExitUnreachable = 3;
inline constexpr int kExitNoAccess = 4;  // --user: the server refused the sign-in

class ScenarioRunner {
 public:
  ScenarioRunner(Options options, std::ostream& out);
  ~ScenarioRunner();
  ScenarioRunner(const ScenarioRunner&) = delete;
  ScenarioRunner& operator=(const ScenarioRunner&) = delete;

  // Runs every line; returns the exit status.
  int Run(const std::vector<ScriptLine>& lines);
  // Counts a step that failed to reach the server before Run (e.g. the local database's
  // refresh): Run then ends with kExitUnreachable unless an expectation failed.
  void NoteUnreachable() { unreachable_ = true; }

  // The value of COMPONENT.PROPERTY as the script's show and expect print it. Raises
  // EScriptError when the component or property is unknown.
  std::string Property(const std::string& path);

 private:
  void Execute(const ScriptLine& line);
  void Act(const ScriptLine& line);
  void Load();
  void Unload();
  host::TForm* ScreenForm() const;
  host::TComponent* Component(const std::string& name) const;
  template <class T>
  T* ComponentAs(const std::string& name, const ScriptLine& line) const;
  void PrintRows(const std::string& dataSetName, const ScriptLine& line);
  // Prints the server's change history of a product as "history: …" lines.
  void PrintHistory(const std::string& productKey);

  Options options_;
  std::ostream& out_;
  host::ScriptedHost host_;
  std::unique_ptr<host::TForm> mainForm_;
  std::unique_ptr<host::ModuleLoader> module_;
  bool unreachable_ = false;  // a step failed to reach the server
};

}  // namespace scenario
