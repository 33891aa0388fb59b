// The desktop's settings: an INI file with command-line overrides, and clear errors for values
// that cannot work.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>

#include "desktop/DesktopSettings.h"
#include "desktop/QtHostServices.h"
#include "host/net/HttpTransport.h"
#include "host/net/NetConnection.h"
#include "host/wire/ServiceName.h"
#include "tests/support/RawHttpStub.h"

namespace {

using desktop::DesktopSettings;
using desktop::ESettingsError;

class SettingsTest : public ::testing::Test {
 protected:
  // Each file has a new name: QSettings caches a file it read, by path and modification time.
  std::string WriteIni(const std::string& text) {
    const std::string path =
        dir_.filePath(QStringLiteral("desktop%1.ini").arg(++files_)).toStdString();
    std::ofstream(path) << text;
    return path;
  }
  static DesktopSettings Load(QStringList args) {
    args.prepend(QStringLiteral("pdi07310-desktop"));
    return DesktopSettings::Load(args);
  }
  static QString Q(const std::string& s) { return QString::fromStdString(s); }

  QTemporaryDir dir_;
  int files_ = 0;
};

TEST_F(SettingsTest, TheIniFileGivesTheValuesAndTheCommandLineOverridesThem) {
  const std::string ini = WriteIni(
      "[Servidor]\nWebURL=10.0.0.5\nWebPort=9000\n[BancoLocal]\nArquivo=/dados/local.db\n"
      "[Mascaras]\nProduto=\"999999;0;_\"\n[Modulo]\nCaminho=/opt/pdi/libPKG_PDI07310.so\n");
  DesktopSettings s = Load({"--config", Q(ini)});
  EXPECT_EQ(s.WebURL(), "10.0.0.5");
  EXPECT_EQ(s.WebPort(), 9000);
  EXPECT_EQ(s.LocalDatabase(), "/dados/local.db");
  EXPECT_EQ(s.ProductMask(), "999999;0;_");
  EXPECT_EQ(s.ModulePath(), "/opt/pdi/libPKG_PDI07310.so");
  EXPECT_FALSE(s.OpenAtStart());

  s = Load({"--config", Q(ini), "--server", "127.0.0.1:8471", "--local", "/tmp/l.db",
            "--product-mask", "9999999999;0;_", "--module", "/m.so", "--open"});
  EXPECT_EQ(s.WebURL(), "127.0.0.1");
  EXPECT_EQ(s.WebPort(), 8471);
  EXPECT_EQ(s.LocalDatabase(), "/tmp/l.db");
  EXPECT_EQ(s.ProductMask(), "9999999999;0;_");
  EXPECT_EQ(s.ModulePath(), "/m.so");
  EXPECT_TRUE(s.OpenAtStart());
}

TEST_F(SettingsTest, DefaultsWithoutFileOrOptions) {
  const DesktopSettings s = Load({"--config", Q(WriteIni(""))});
  EXPECT_EQ(s.WebURL(), "127.0.0.1");
  EXPECT_EQ(s.WebPort(), 8470);
  EXPECT_EQ(s.ProductMask(), "9999999999;0;_");
  EXPECT_TRUE(s.ScreenshotPath().empty());
  // --screenshot implies opening the screen.
  EXPECT_TRUE(Load({"--config", Q(WriteIni("")), "--screenshot", "/tmp/x.png"}).OpenAtStart());
}

TEST_F(SettingsTest, ServerAddressesAreCheckedWhenRead) {
  std::string host;
  int port = 0;
  DesktopSettings::ParseServer("[::1]:8470", host, port);
  EXPECT_EQ(host, "::1");
  EXPECT_EQ(port, 8470);
  for (const char* bad : {"localhost", "localhost:", ":8470", "host:0", "host:65536", "host:80a",
                          "host:99999999999999999999"}) {
    EXPECT_THROW(DesktopSettings::ParseServer(bad, host, port), ESettingsError) << bad;
  }
  EXPECT_THROW(Load({"--config", Q(WriteIni("[Servidor]\nWebPort=porta\n"))}), ESettingsError);
  EXPECT_THROW(Load({"--config", Q(WriteIni("[Servidor]\nWebPort=70000\n"))}), ESettingsError);
}

// A server reached over TLS: "https://" in --server or WebURL, the CA file and the explicit
// permission to send the token in clear, from the INI file or the command line.
TEST_F(SettingsTest, TlsServerCaFileAndInsecureComeFromTheIniOrTheCommandLine) {
  const std::string ca = dir_.filePath(QStringLiteral("ca.pem")).toStdString();
  std::ofstream(ca) << "-----BEGIN CERTIFICATE-----\n";
  DesktopSettings s = Load({"--config", Q(WriteIni("[Servidor]\nWebURL=https://srv.example\nWebPort=8443\nCA=" + ca +
                                                   "\nInsecure=true\n"))});
  EXPECT_EQ(s.WebURL(), "https://srv.example");
  EXPECT_EQ(s.ServerHost(), "srv.example");
  EXPECT_EQ(s.WebPort(), 8443);
  EXPECT_EQ(s.CaFile(), ca);
  EXPECT_TRUE(s.Insecure());

  const QString empty = Q(WriteIni(""));
  s = Load({"--config", empty, "--server", "HTTPS://[::1]:8443", "--ca", Q(ca), "--insecure"});
  EXPECT_EQ(s.WebURL(), "https://::1");
  EXPECT_EQ(s.ServerHost(), "::1");
  EXPECT_EQ(s.CaFile(), ca);
  EXPECT_TRUE(s.Insecure());
  s = Load({"--config", empty, "--server", "http://10.0.0.5:80"});
  EXPECT_EQ(s.WebURL(), "10.0.0.5");
  EXPECT_TRUE(s.CaFile().empty());
  EXPECT_FALSE(s.Insecure());

  for (const char* bad : {"ftp://h:21", "https://:8443", "https://h", "https://"}) {
    EXPECT_THROW(Load({"--config", empty, "--server", bad}), ESettingsError) << bad;
  }
  EXPECT_THROW(Load({"--config", empty, "--ca", "/nao/existe.pem"}), ESettingsError);
  EXPECT_THROW(Load({"--config", Q(WriteIni("[Servidor]\nWebURL=gopher://h\n"))}), ESettingsError);
  EXPECT_THROW(Load({"--config", Q(WriteIni("[Servidor]\nCA=/nao/existe.pem\n"))}), ESettingsError);
}

TEST_F(SettingsTest, BadOptionsAndMasksAreRefusedWithTheirName) {
  const QString ini = Q(WriteIni(""));
  try {
    Load({"--config", ini, "--product-mask", "99\\"});
    FAIL() << "a mask ending in an escape was accepted";
  } catch (const ESettingsError& e) {
    EXPECT_NE(std::string(e.what()).find("--product-mask"), std::string::npos);
  }
  EXPECT_THROW(Load({"--config", ini, "--nao-existe"}), ESettingsError);
  EXPECT_THROW(Load({"--config", ini, "sobra"}), ESettingsError);
  EXPECT_THROW(Load({"--config", ini, "--server"}), ESettingsError);
  EXPECT_THROW(Load({"--config", "/nao/existe.ini"}), ESettingsError);
}

TEST_F(SettingsTest, TheStallTimeoutComesFromTheIniFileOrTheCommandLineAndIsBounded) {
  EXPECT_EQ(Load({"--config", Q(WriteIni(""))}).StallTimeoutSeconds(), 30);
  const QString ini = Q(WriteIni("[Servidor]\nEsperaSemResposta=45\n"));
  EXPECT_EQ(Load({"--config", ini}).StallTimeoutSeconds(), 45);
  EXPECT_EQ(Load({"--config", ini, "--stall-timeout", "5"}).StallTimeoutSeconds(), 5);
  for (const char* bad : {"0", "3601", "trinta", ""}) {
    EXPECT_THROW(Load({"--config", ini, "--stall-timeout", bad}), ESettingsError) << bad;
  }
  EXPECT_THROW(Load({"--config", Q(WriteIni("[Servidor]\nEsperaSemResposta=-1\n"))}), ESettingsError);
}

// A server that answers every call and remembers the Accept-Encoding of the last one.
struct EncodingRecorder {
  std::string asked;
  testsupport::RawHttpStub stub{[this](int fd, const std::string& head, const std::string&) {
    const size_t at = head.find("Accept-Encoding: ");
    asked = at == std::string::npos ? "" : head.substr(at + 17, head.find("\r\n", at) - at - 17);
    const std::string body = R"({"jsonrpc":"2.0","id":1,"result":{"ok":true,"data":"x"}})";
    return stub.Send(fd, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
  }};
};

TEST_F(SettingsTest, CompressaoZeroOrNoCompressionMakesTheDesktopAskForPlainAnswers) {
  EncodingRecorder server;
  const auto askedWith = [&](const QStringList& args) {
    desktop::QtHostServices services{Load(args)};
    services.Install();
    host::TNetConnection net{"netProdDeso"};
    net.SetHost("127.0.0.1");
    net.SetPort(server.stub.Port());
    net.SetServerName(std::string(host::wire::kServiceName));
    net.Call("getDados", {});
    return server.asked;
  };
  EXPECT_NE(askedWith({"--config", Q(WriteIni("[Servidor]\nCompressao=1\n"))}).find("zstd"), std::string::npos);
  EXPECT_EQ(askedWith({"--config", Q(WriteIni("[Servidor]\nCompressao=0\n"))}), "identity");
  EXPECT_EQ(askedWith({"--config", Q(WriteIni("")), "--no-compression"}), "identity");
  host::HttpTransport::SetCompressedAnswers(true);
  EXPECT_THROW(Load({"--config", Q(WriteIni("[Servidor]\nCompressao=talvez\n"))}), ESettingsError);
}

}  // namespace
