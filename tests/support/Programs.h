// Test support: the programs this build made (the server, the scenario runner, the screen
// module), and running a program to its end with its output captured. The paths are those of
// the build tree; a test that needs a program checks that it exists and skips, saying so, when
// the build it runs in did not make it.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// The pdi07310-server binary: the one built with the tests, or the one named by the environment
// variable PDI_TEST_SERVER_BINARY (to show what another build does with a test).
std::string ServerBinary();
// The pdi07310-scenario binary.
std::string ScenarioBinary();
// The screen module (libPKG_PDI07310.so).
std::string ScreenModule();

// A loopback port nobody listens on at the time of asking (0 when none could be had); the caller
// retries when someone takes it first.
int FreePort();

// What a program did: its exit status (128 + the signal when a signal ended it, -1 when it could
// not be started) and everything it wrote on its standard output and error, in order.
struct ProgramResult {
  int status = -1;
  std::string output;
};

// Runs argv (argv[0] a path, or a name looked up in PATH) with its standard input from
// /dev/null, and waits for it to end. A program still running after `timeout` is killed
// (SIGKILL) and its output ends with a line saying so, so a faulty test fails instead of
// hanging. Never throws for the program's sake.
ProgramResult RunProgram(const std::vector<std::string>& argv,
                         std::chrono::seconds timeout = std::chrono::seconds(240));
// The same with input on its standard input (then the end of it) instead of /dev/null.
ProgramResult RunProgram(const std::vector<std::string>& argv, std::chrono::seconds timeout,
                         const std::optional<std::string>& input);

// RunProgram, with the output written to outputFile when one is given; returns the status.
int RunCommand(const std::vector<std::string>& argv, const std::filesystem::path& outputFile = {});

}  // namespace testsupport
