// pdi07310-server: the application server of the exemption-list screen, and its data tools. Its
// commands, their options and help are the table of ServerCommands.
#include <string>
#include <vector>

#include "server/cli/ServerCommands.h"

int main(int argc, char** argv) { return server::ServerMain(std::vector<std::string>(argv + 1, argv + argc)); }
