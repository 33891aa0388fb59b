#include "desktop/DesktopSettings.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include "host/text/EditMask.h"

namespace desktop {

namespace {

const char* const kModuleFile = "libPKG_PDI07310.so";

std::string Std(const QString& s) { return s.toStdString(); }

// The scheme of "SCHEME://…" in lower case, or "" when text has none.
std::string SchemeOf(const std::string& text) {
  const auto end = text.find("://");
  if (end == std::string::npos) return {};
  std::string scheme = text.substr(0, end);
  for (char& c : scheme) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return scheme;
}

// Checks the scheme of a server address; returns the address as WebURL keeps it.
std::string CheckedServerHost(const std::string& host) {
  const std::string scheme = SchemeOf(host);
  if (scheme.empty()) return host;
  if (scheme != "http" && scheme != "https") {
    throw ESettingsError("Servidor: só http:// ou https://, recebido \"" + host + "\"");
  }
  const std::string bare = host.substr(scheme.size() + 3);
  if (bare.empty()) throw ESettingsError("Endereço do servidor vazio");
  return scheme == "https" ? "https://" + bare : bare;
}

}  // namespace

void DesktopSettings::ParseServer(const std::string& text, std::string& host, int& port) {
  const auto colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 >= text.size()) {
    throw ESettingsError("--server: esperado HOST:PORTA, recebido \"" + text + "\"");
  }
  const std::string scheme = SchemeOf(text);
  if (!scheme.empty() && scheme != "http" && scheme != "https") {
    throw ESettingsError("--server: só http:// ou https://, recebido \"" + text + "\"");
  }
  const std::size_t hostStart = scheme.empty() ? 0 : scheme.size() + 3;
  if (colon < hostStart) throw ESettingsError("--server: esperado HOST:PORTA, recebido \"" + text + "\"");
  std::string h = text.substr(hostStart, colon - hostStart);
  if (h.size() >= 2 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
  const std::string p = text.substr(colon + 1);
  int value = 0;
  for (char c : p) {
    if (c < '0' || c > '9' || value > 65535) {
      throw ESettingsError("--server: porta inválida \"" + p + "\"");
    }
    value = value * 10 + (c - '0');
  }
  if (h.empty() || value < 1 || value > 65535) {
    throw ESettingsError("--server: esperado HOST:PORTA com porta de 1 a 65535, recebido \"" +
                         text + "\"");
  }
  host = scheme == "https" ? "https://" + h : std::move(h);
  port = value;
}

void DesktopSettings::SetServer(const std::string& host, int port) {
  if (host.empty()) throw ESettingsError("Endereço do servidor vazio");
  if (port < 1 || port > 65535) {
    throw ESettingsError("Porta do servidor inválida: " + std::to_string(port));
  }
  webURL_ = CheckedServerHost(host);
  webPort_ = port;
}

std::string DesktopSettings::ServerHost() const {
  const std::string scheme = SchemeOf(webURL_);
  return scheme.empty() ? webURL_ : webURL_.substr(scheme.size() + 3);
}

void DesktopSettings::SetCaFile(std::string path) {
  if (!path.empty() && !QFileInfo(QString::fromStdString(path)).isFile()) {
    throw ESettingsError("--ca: arquivo de certificados não encontrado: " + path);
  }
  caFile_ = std::move(path);
}

void DesktopSettings::SetAccessToken(std::string token) {
  for (const char c : token) {
    if (c < 0x21 || c > 0x7E) {
      throw ESettingsError("--token: o token de acesso só pode ter caracteres visíveis, sem espaços");
    }
  }
  accessToken_ = std::move(token);
}

void DesktopSettings::SetProductMask(std::string mask) {
  try {
    host::EditMask parsed(mask);
  } catch (const std::exception& e) {
    throw ESettingsError(std::string("--product-mask: ") + e.what());
  }
  productMask_ = std::move(mask);
}

void DesktopSettings::SetStallTimeoutSeconds(int seconds) {
  if (seconds < 1 || seconds > 3600) {
    throw ESettingsError("--stall-timeout: esperado de 1 a 3600 segundos, recebido " +
                         std::to_string(seconds));
  }
  stallTimeoutSeconds_ = seconds;
}

bool DesktopSettings::RemembersLayout() const {
  if (configPath_.empty()) return false;
  const QFileInfo file(QString::fromStdString(configPath_));
  return !file.exists() || (file.isFile() && file.isWritable() && !file.isSymLink());
}

std::string DesktopSettings::DefaultModulePath() {
  const QString dir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath()
                                                   : QDir::currentPath();
  const QString beside = QDir(dir).filePath(QString::fromLatin1(kModuleFile));
  if (QFileInfo::exists(beside)) return Std(beside);
  const QString inBuild = QDir(dir).filePath(QStringLiteral("../module/") + kModuleFile);
  if (QFileInfo::exists(inBuild)) return Std(QDir::cleanPath(inBuild));
  return Std(beside);
}

std::string DesktopSettings::Usage() {
  return "Uso: pdi07310-desktop [opções]\n"
         "  --config ARQUIVO        arquivo INI de configuração\n"
         "  --server HOST:PORTA     servidor de aplicação (padrão 127.0.0.1:8470)\n"
         "                          (https://HOST:PORTA: conexão TLS, certificado verificado)\n"
         "  --token TOKEN           token de acesso enviado ao servidor (sem ele, um servidor\n"
         "                          com usuários pede usuário e senha ao abrir)\n"
         "  --ca ARQUIVO            certificados de CA (PEM) para verificar o servidor\n"
         "                          (padrão: os do sistema)\n"
         "  --insecure              permite enviar o token sem criptografia a servidor remoto\n"
         "  --local ARQUIVO         banco de dados local (somente leitura)\n"
         "  --product-mask MASCARA  máscara do código de produto (padrão 9999999999;0;_)\n"
         "  --module CAMINHO        módulo da tela (libPKG_PDI07310.so)\n"
         "  --open                  abre a tela ao iniciar\n"
         "  --screenshot ARQUIVO    abre a tela, grava a janela principal em PNG e sai\n"
         "  --stall-timeout SEGUNDOS  desiste de uma chamada ao servidor que nada recebe por\n"
         "                          esse tempo (padrão 30)\n"
         "  --no-compression        pede as respostas do servidor sem compressão\n"
         "  --focus-log ARQUIVO     (testes) registra cada mudança de foco do teclado\n"
         "  --window-size LxA       tamanho da janela principal ao iniciar (padrão 1024x768)\n"
         "  --tile                  dispõe as telas lado a lado ao abri-las\n"
         "  --help                  mostra esta ajuda\n";
}

DesktopSettings DesktopSettings::Load(const QStringList& arguments, bool* helpRequested) {
  QCommandLineParser parser;
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  const QCommandLineOption config(QStringLiteral("config"), {}, QStringLiteral("file"));
  const QCommandLineOption server(QStringLiteral("server"), {}, QStringLiteral("host:port"));
  const QCommandLineOption token(QStringLiteral("token"), {}, QStringLiteral("token"));
  const QCommandLineOption ca(QStringLiteral("ca"), {}, QStringLiteral("file"));
  const QCommandLineOption insecure(QStringLiteral("insecure"));
  const QCommandLineOption local(QStringLiteral("local"), {}, QStringLiteral("file"));
  const QCommandLineOption mask(QStringLiteral("product-mask"), {}, QStringLiteral("mask"));
  const QCommandLineOption module(QStringLiteral("module"), {}, QStringLiteral("path"));
  const QCommandLineOption open(QStringLiteral("open"));
  const QCommandLineOption screenshot(QStringLiteral("screenshot"), {}, QStringLiteral("file"));
  const QCommandLineOption help(QStringLiteral("help"));
  parser.addOptions({config, server, token, ca, insecure, local, mask, module, open, screenshot, help});
  const QCommandLineOption stall(QStringLiteral("stall-timeout"), {}, QStringLiteral("seconds"));
  const QCommandLineOption focusLog(QStringLiteral("focus-log"), {}, QStringLiteral("file"));
  const QCommandLineOption windowSize(QStringLiteral("window-size"), {}, QStringLiteral("WxH"));
  const QCommandLineOption tile(QStringLiteral("tile"));
  const QCommandLineOption noCompression(QStringLiteral("no-compression"));
  parser.addOptions({stall, focusLog, windowSize, tile, noCompression});
  if (!parser.parse(arguments)) throw ESettingsError(Std(parser.errorText()));
  if (!parser.positionalArguments().isEmpty()) {
    throw ESettingsError("Argumento desconhecido: " + Std(parser.positionalArguments().first()));
  }
  if (helpRequested) *helpRequested = parser.isSet(help);

  DesktopSettings s;
  QString iniPath = parser.value(config);
  if (iniPath.isEmpty()) {
    iniPath = QDir(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation))
                  .filePath(QStringLiteral("pdi07310-desktop.ini"));
  } else if (!QFileInfo::exists(iniPath)) {
    throw ESettingsError("--config: arquivo não encontrado: " + Std(iniPath));
  }
  s.configPath_ = Std(iniPath);

  QSettings ini(iniPath, QSettings::IniFormat);
  if (ini.status() != QSettings::NoError) {
    throw ESettingsError("Arquivo de configuração ilegível: " + Std(iniPath));
  }
  const QString iniHost = ini.value(QStringLiteral("Servidor/WebURL")).toString();
  const QVariant iniPort = ini.value(QStringLiteral("Servidor/WebPort"));
  if (!iniHost.isEmpty() || iniPort.isValid()) {
    bool portOk = true;
    const int port = iniPort.isValid() ? iniPort.toInt(&portOk) : s.webPort_;
    if (!portOk) throw ESettingsError("[Servidor] WebPort inválida em " + Std(iniPath));
    s.SetServer(iniHost.isEmpty() ? s.webURL_ : Std(iniHost), port);
  }
  s.SetAccessToken(Std(ini.value(QStringLiteral("Servidor/Token")).toString()));
  s.SetCaFile(Std(ini.value(QStringLiteral("Servidor/CA")).toString()));
  s.insecure_ = ini.value(QStringLiteral("Servidor/Insecure"), false).toBool();
  s.localDatabase_ = Std(ini.value(QStringLiteral("BancoLocal/Arquivo")).toString());
  const QString iniMask = ini.value(QStringLiteral("Mascaras/Produto")).toString();
  if (!iniMask.isEmpty()) s.SetProductMask(Std(iniMask));
  s.modulePath_ = Std(ini.value(QStringLiteral("Modulo/Caminho")).toString());

  if (parser.isSet(server)) {
    std::string h;
    int p = 0;
    ParseServer(Std(parser.value(server)), h, p);
    s.SetServer(h, p);
  }
  if (parser.isSet(token)) s.SetAccessToken(Std(parser.value(token)));
  if (parser.isSet(ca)) s.SetCaFile(Std(parser.value(ca)));
  if (parser.isSet(insecure)) s.insecure_ = true;
  if (parser.isSet(local)) s.localDatabase_ = Std(parser.value(local));
  if (parser.isSet(mask)) s.SetProductMask(Std(parser.value(mask)));
  if (parser.isSet(module)) s.modulePath_ = Std(parser.value(module));
  if (s.modulePath_.empty() && QCoreApplication::instance()) s.modulePath_ = DefaultModulePath();
  const auto seconds = [](const QString& text, const char* what) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (!ok) throw ESettingsError(std::string(what) + ": número de segundos inválido \"" + Std(text) + "\"");
    return value;
  };
  const QString iniStall = ini.value(QStringLiteral("Servidor/EsperaSemResposta")).toString();
  if (!iniStall.isEmpty()) s.SetStallTimeoutSeconds(seconds(iniStall, "[Servidor] EsperaSemResposta"));
  if (parser.isSet(stall)) s.SetStallTimeoutSeconds(seconds(parser.value(stall), "--stall-timeout"));
  const QString iniCompression = ini.value(QStringLiteral("Servidor/Compressao")).toString().trimmed();
  if (iniCompression == QLatin1String("0")) {
    s.compressedAnswers_ = false;
  } else if (!iniCompression.isEmpty() && iniCompression != QLatin1String("1")) {
    throw ESettingsError("[Servidor] Compressao: esperado 0 ou 1, recebido \"" + Std(iniCompression) + "\"");
  }
  if (parser.isSet(noCompression)) s.compressedAnswers_ = false;
  s.focusLogPath_ = Std(parser.value(focusLog));
  if (parser.isSet(windowSize)) {
    const QStringList parts = parser.value(windowSize).split(QLatin1Char('x'));
    bool okW = false, okH = false;
    const int w = parts.size() == 2 ? parts[0].toInt(&okW) : 0;
    const int h = parts.size() == 2 ? parts[1].toInt(&okH) : 0;
    if (!okW || !okH || w < 320 || h < 240 || w > 10000 || h > 10000) {
      throw ESettingsError("--window-size: esperado LARGURAxALTURA (de 320x240 a 10000x10000), recebido \"" +
                           Std(parser.value(windowSize)) + "\"");
    }
    s.windowWidth_ = w;
    s.windowHeight_ = h;
    s.windowSizeGiven_ = true;
  }
  s.tileScreens_ = parser.isSet(tile);
  s.openAtStart_ = parser.isSet(open);
  s.screenshotPath_ = Std(parser.value(screenshot));
  if (!s.screenshotPath_.empty()) s.openAtStart_ = true;
  return s;
}

}  // namespace desktop
