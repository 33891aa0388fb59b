// pdi07310-scenario: runs a scenario script against the screen module, a real application server
// and a real local database, and prints what happens.
#include <cstdlib>
#include <fstream>
#include <iostream>

#include "host/net/HttpTransport.h"
#include "host/net/LocalDatabaseDownload.h"
#include "host/net/SignIn.h"
#include "host/wire/ServiceName.h"
#include "pdi_version.h"
#include "scenario/ScenarioRunner.h"

namespace {

void Usage(std::ostream& out) {
  out << "uso: pdi07310-scenario [--server [https://]HOST:PORT] [--local LOCAL_DB] [--product-mask MASK]\n"
         "                          [--module PATH] [--token TOKEN] [--ca FILE] [--insecure]\n"
         "                          [--user NOME [--password-file ARQUIVO]]\n"
         "                          [--local-from-server] [--narrative] [--no-compression] [SCRIPT]\n"
         "Executa o roteiro SCRIPT (ou a entrada padrão) na tela PDI07310 e imprime o registro.\n"
         "--server https://HOST:PORT fala com o servidor por TLS e verifica o seu certificado.\n"
         "--token TOKEN envia o token de acesso ao servidor (Authorization: Bearer TOKEN).\n"
         "--user NOME entra no servidor como NOME (POST /login) e usa a sessão como token de acesso; a senha\n"
         "vem da primeira linha de --password-file ARQUIVO ou da variável de ambiente PDI07310_PASSWORD.\n"
         "--ca FILE verifica o certificado do servidor com as CAs de FILE (PEM) em vez das do sistema.\n"
         "--insecure permite enviar o token por HTTP sem criptografia a um servidor fora desta máquina.\n"
         "--local-from-server atualiza antes o banco local LOCAL_DB a partir do servidor (se o servidor\n"
         "não responder, a cópia anterior é usada e o aviso sai na saída de erros).\n"
         "--narrative imprime só a narração (linhas 'say') e as falhas, não o registro.\n"
         "--no-compression pede as respostas do servidor sem compressão (para comparar).\n"
         "--version imprime a versão.\n"
         "Saída: 0 tudo certo; 1 uma expectativa (expect) falhou; 2 roteiro ou opções inválidos;\n"
         "3 algum passo não conseguiu falar com o servidor (o registro diz qual e o que ficou gravado);\n"
         "4 o servidor recusou a entrada de --user.\n";
}

// The password of --user: the first line of file, else PDI07310_PASSWORD. False when neither gives one.
bool ReadPassword(const std::string& file, std::string& password) {
  if (!file.empty()) {
    std::ifstream in(file);
    if (!in || !std::getline(in, password)) return false;
    if (!password.empty() && password.back() == '\r') password.pop_back();
    return true;
  }
  const char* fromEnvironment = std::getenv("PDI07310_PASSWORD");
  if (fromEnvironment == nullptr) return false;
  password = fromEnvironment;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  scenario::Options options;
  bool localFromServer = false;
  std::string user, passwordFile;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::cerr << "pdi07310-scenario: " << arg << " requer um valor\n";
        std::exit(scenario::kExitBadInput);
      }
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      Usage(std::cout);
      return 0;
    } else if (arg == "--version") {
      std::cout << "pdi07310-scenario " PDI_VERSION "\n";
      return 0;
    } else if (arg == "--local-from-server") {
      localFromServer = true;
    } else if (arg == "--server") {
      const std::string hostPort = value();
      const std::size_t colon = hostPort.rfind(':');
      const std::size_t scheme = hostPort.find("://");
      try {
        if (scheme != std::string::npos && hostPort.compare(0, scheme, "http") != 0 &&
            hostPort.compare(0, scheme, "https") != 0) {
          throw std::invalid_argument("scheme");
        }
        if (colon == std::string::npos || (scheme != std::string::npos && colon == scheme)) {
          throw std::invalid_argument("no port");
        }
        options.serverHost = hostPort.substr(0, colon);
        options.serverPort = std::stoi(hostPort.substr(colon + 1));
      } catch (const std::exception&) {
        std::cerr << "pdi07310-scenario: --server espera [https://]HOST:PORTA, recebeu '" << hostPort << "'\n";
        return scenario::kExitBadInput;
      }
    } else if (arg == "--local") {
      options.localDatabase = value();
    } else if (arg == "--product-mask") {
      options.productMask = value();
    } else if (arg == "--module") {
      options.modulePath = value();
    } else if (arg == "--token") {
      options.accessToken = value();
    } else if (arg == "--user") {
      user = value();
    } else if (arg == "--password-file") {
      passwordFile = value();
    } else if (arg == "--narrative") {
      options.narrative = &std::cout;
    } else if (arg == "--ca") {
      options.caFile = value();
    } else if (arg == "--insecure") {
      options.insecure = true;
    } else if (arg == "--no-compression") {
      host::HttpTransport::SetCompressedAnswers(false);
    } else if (!arg.empty() && arg[0] == '-') {
      std::cerr << "pdi07310-scenario: opção desconhecida " << arg << "\n";
      Usage(std::cerr);
      return scenario::kExitBadInput;
    } else if (options.scriptPath.empty()) {
      options.scriptPath = arg;
    } else {
      std::cerr << "pdi07310-scenario: mais de um roteiro\n";
      return scenario::kExitBadInput;
    }
  }

  if (!passwordFile.empty() && user.empty()) {
    std::cerr << "pdi07310-scenario: --password-file requer --user NOME\n";
    return scenario::kExitBadInput;
  }
  if (!user.empty()) {
    std::string password;
    if (!ReadPassword(passwordFile, password)) {
      std::cerr << "pdi07310-scenario: --user requer a senha: --password-file ARQUIVO (não foi possível ler '"
                << passwordFile << "') ou a variável PDI07310_PASSWORD\n";
      return scenario::kExitBadInput;
    }
    const host::SignInAnswer signedIn = host::SignIn(
        {options.serverHost, options.serverPort, options.caFile, options.insecure}, user, password);
    std::fill(password.begin(), password.end(), '\0');
    if (!signedIn.ok) {
      std::cerr << "pdi07310-scenario: entrada recusada: " << signedIn.message << "\n";
      return scenario::kExitNoAccess;
    }
    options.accessToken = signedIn.token;
    options.role = signedIn.role;
    std::cerr << "pdi07310-scenario: conectado como " << signedIn.user << " (" << signedIn.role << ")\n";
  }

  bool refreshFailed = false;
  if (localFromServer) {
    if (options.localDatabase.empty()) {
      std::cerr << "pdi07310-scenario: --local-from-server requer --local LOCAL_DB\n";
      return scenario::kExitBadInput;
    }
    host::LocalDatabaseDownload download(options.serverHost, options.serverPort, std::string(host::wire::kServiceName),
                                         options.accessToken);
    download.SetCaFile(options.caFile);
    download.SetInsecure(options.insecure);
    const host::LocalDatabaseRefresh refresh = download.Refresh(options.localDatabase);
    std::cerr << "pdi07310-scenario: " << refresh.message << "\n";
    refreshFailed = refresh.outcome == host::LocalDatabaseRefresh::Outcome::Failed;
  }

  std::vector<scenario::ScriptLine> lines;
  try {
    if (options.scriptPath.empty()) {
      lines = scenario::ReadScript(std::cin);
    } else {
      std::ifstream file(options.scriptPath);
      if (!file) {
        std::cerr << "pdi07310-scenario: não foi possível abrir " << options.scriptPath << "\n";
        return scenario::kExitBadInput;
      }
      lines = scenario::ReadScript(file);
    }
    std::ostream quiet(nullptr);  // the log, unwritten, while only the narration is printed
    scenario::ScenarioRunner runner(options, options.narrative ? quiet : std::cout);
    if (refreshFailed) runner.NoteUnreachable();
    return runner.Run(lines);
  } catch (const scenario::EScriptError& e) {
    std::cout.flush();
    std::cerr << "pdi07310-scenario: " << e.what() << "\n";
    return scenario::kExitBadInput;
  } catch (const std::exception& e) {
    std::cout.flush();
    std::cerr << "pdi07310-scenario: " << e.what() << "\n";
    return scenario::kExitBadInput;
  }
}
