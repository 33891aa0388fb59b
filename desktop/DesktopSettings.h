// DesktopSettings holds the desktop's configuration: the application server's address and port,
// the local read-only database file, the product-code edit mask (picture kind 0), the path of the
// screen module, and the start-up options. Values come from an INI file (QSettings, IniFormat) and
// are overridden by the command line:
//
//   --config FILE         the INI file (default: the user's pdi07310-desktop.ini)
//   --server HOST:PORT    [Servidor] WebURL / WebPort   (default 127.0.0.1:8470; "https://HOST:PORT"
//                                                        and WebURL=https://HOST: over TLS)
//   --token TOKEN         [Servidor] Token              (access token sent to the server; none:
//                                                        a server with named users asks for a
//                                                        sign-in, see SignInDialog)
//   --ca FILE             [Servidor] CA                 (CA certificates, PEM, that the server's
//                                                        certificate is verified against; default
//                                                        the system's CA store)
//   --insecure            [Servidor] Insecure=true      (allows the token over plain HTTP to a
//                                                        server that is not on loopback)
//   --local LOCAL_DB      [BancoLocal] Arquivo          (the local read-only database)
//   --product-mask MASK   [Mascaras] Produto            (default "9999999999;0;_")
//   --module PATH         [Modulo] Caminho              (default: beside the executable, or the
//                                                        build tree's module/ folder)
//   --open                open the screen at start
//   --screenshot FILE     open the screen, wait for its load, save the main window to FILE, exit
//   --stall-timeout SECS  [Servidor] EsperaSemResposta (default 30, 1..3600): a remote call
//                                                       that receives nothing for this long fails
//   --no-compression      [Servidor] Compressao=0      (default 1: answers are asked for compressed;
//                                                       0 asks for them plain)
//   --focus-log FILE      (for tests) append one line per keyboard focus change to FILE
//   --window-size WxH     the main window's size at start (default 1024x768)
//   --tile                tile the screens over the whole document area once opened
// The window layout is remembered per user (LayoutStore) when RemembersLayout; the INI file's
// [Janela] Geometria and [Colunas] FORM.GRID = "w1,w2,...", which earlier releases wrote, are
// still read when the user's settings hold none.
//
// In the INI file a mask is written in double quotes (Produto="9999999999;0;_"): unquoted, the
// INI format reads ';' as the start of a comment.
//
// Every value is checked when read: a port outside 1..65535, an address without a port, a
// product mask the platform cannot parse, a scheme other than http:// or https://, a CA file
// that does not exist, or a token with blanks or characters outside printable
// ASCII raises ESettingsError naming the option (a token's value is never shown).
//
// Thread rules: built on the user-interface thread; once built it is never changed, so its
// getters may be read from any thread (the connection may ask for the address off the UI thread).
// Intentionally copyable.
#pragma once

#include <QStringList>
#include <stdexcept>
#include <string>

namespace desktop {

class ESettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class DesktopSettings {
 public:
  // The defaults, with no file read.
  DesktopSettings() = default;

  // Reads the INI file named by --config (or the default one) and applies the overrides of
  // `arguments` (arguments.first() is the program). Needs no Qt application object, so the
  // command line can be checked before one is created. Raises ESettingsError on a bad option or
  // value; `helpRequested` is set when --help was given (the caller prints Usage() and exits).
  static DesktopSettings Load(const QStringList& arguments, bool* helpRequested = nullptr);
  // Text of --help.
  static std::string Usage();

  // Splits "[SCHEME://]HOST:PORT" (an IPv6 host in brackets) and checks the port. host keeps an
  // "https://" in front ("https://HOST"); "http://" is dropped, plain HTTP being the default.
  // Raises ESettingsError.
  static void ParseServer(const std::string& text, std::string& host, int& port);

  const std::string& WebURL() const { return webURL_; }
  const std::string& AccessToken() const { return accessToken_; }
  const std::string& CaFile() const { return caFile_; }
  bool Insecure() const { return insecure_; }
  // WebURL without its scheme: the host name or address alone.
  std::string ServerHost() const;
  int WebPort() const { return webPort_; }
  const std::string& LocalDatabase() const { return localDatabase_; }
  const std::string& ProductMask() const { return productMask_; }
  const std::string& ModulePath() const { return modulePath_; }
  const std::string& ConfigPath() const { return configPath_; }
  bool OpenAtStart() const { return openAtStart_; }
  const std::string& ScreenshotPath() const { return screenshotPath_; }
  // Seconds a remote call may receive nothing before it fails as a broken connection does.
  int StallTimeoutSeconds() const { return stallTimeoutSeconds_; }
  // Whether remote calls ask for compressed answers (Accept-Encoding).
  bool CompressedAnswers() const { return compressedAnswers_; }
  const std::string& FocusLogPath() const { return focusLogPath_; }
  int WindowWidth() const { return windowWidth_; }
  int WindowHeight() const { return windowHeight_; }
  bool TileScreens() const { return tileScreens_; }
  bool WindowSizeGiven() const { return windowSizeGiven_; }
  // True when the window layout (geometry, column widths) is remembered: the INI file is a
  // regular file or does not exist yet (not /dev/null, not empty for built settings). The layout
  // itself goes to the user's settings (LayoutStore), the INI file being its earlier home.
  bool RemembersLayout() const;

  // Setters for hosts and tests that build settings without a file. Each checks its value as
  // Load does and raises ESettingsError.
  void SetServer(const std::string& host, int port);
  void SetLocalDatabase(std::string path) { localDatabase_ = std::move(path); }
  void SetAccessToken(std::string token);
  void SetCaFile(std::string path);
  void SetInsecure(bool insecure) { insecure_ = insecure; }
  void SetProductMask(std::string mask);
  void SetModulePath(std::string path) { modulePath_ = std::move(path); }
  void SetStallTimeoutSeconds(int seconds);

  // The module path used when none is configured: libPKG_PDI07310.so beside the executable, else
  // in the build tree's module/ folder (the executable lives in <build>/desktop/).
  static std::string DefaultModulePath();

 private:
  std::string webURL_ = "127.0.0.1";
  int webPort_ = 8470;
  std::string accessToken_;
  std::string caFile_;
  bool insecure_ = false;
  std::string localDatabase_;
  std::string productMask_ = "9999999999;0;_";
  std::string modulePath_;
  std::string configPath_;
  bool openAtStart_ = false;
  std::string screenshotPath_;
  int stallTimeoutSeconds_ = 30;
  bool compressedAnswers_ = true;
  std::string focusLogPath_;
  int windowWidth_ = 1024;
  int windowHeight_ = 768;
  bool tileScreens_ = false;
  bool windowSizeGiven_ = false;
};

}  // namespace desktop
