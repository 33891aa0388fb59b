// The browser client's files as the server answers them: caching by name, revalidation of the
// page, the security headers, nothing outside the folder; and the served page at a real server
// over HTTPS, open to a browser without a token while the service keeps asking for one.
#include "server/http/PageFiles.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "ServerTestSupport.h"
#include "tests/support/ServerProcess.h"
#include "tests/support/TestCertificates.h"

namespace server::test {
namespace {

namespace fs = std::filesystem;

const char kIndex[] = "<!doctype html><script type=module src=app.0123456789ab.js></script>";

std::string Header(const PageFiles::Answer& a, const std::string& name) {
  for (const auto& [k, v] : a.headers)
    if (k == name) return v;
  return {};
}

class PageFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(Folder() / "sub");
    Write("index.html", kIndex);
    Write("app.0123456789ab.js", "export {}");
    Write("sub/secret.txt", "no");
  }
  fs::path Folder() const { return fs::path(dir_.File("web")); }
  void Write(const std::string& name, const std::string& text) { std::ofstream(Folder() / name, std::ios::binary) << text; }

  TempDir dir_;
};

TEST_F(PageFilesTest, HashedNamesAreImmutableAndThePageIsRevalidated) {
  const auto page = PageFiles::Load(Folder());
  const auto script = page->Get("/app.0123456789ab.js?v=1", "");
  ASSERT_TRUE(script);
  EXPECT_EQ(script->status, 200);
  EXPECT_EQ(Header(*script, "Cache-Control"), "public, max-age=31536000, immutable");
  EXPECT_EQ(Header(*script, "Content-Type"), "text/javascript; charset=utf-8");
  EXPECT_EQ(Header(*script, "ETag"), "");

  const auto index = page->Get("/", "");
  ASSERT_TRUE(index);
  EXPECT_EQ(Header(*index, "Cache-Control"), "no-cache");
  const std::string etag = Header(*index, "ETag");
  ASSERT_FALSE(etag.empty());
  EXPECT_EQ(*index->body, kIndex);
  for (const auto& [k, v] : PageFiles::SecurityHeaders()) EXPECT_EQ(Header(*index, k), v) << k;
  EXPECT_NE(Header(*index, "Content-Security-Policy").find("frame-ancestors 'none'"), std::string::npos);
  EXPECT_EQ(Header(*index, "Content-Security-Policy").find("unsafe-inline"), std::string::npos);

  const auto again = page->Get("/index.html", "\"other\", W/" + etag);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->status, 304);
  EXPECT_TRUE(again->body->empty());
  EXPECT_EQ(page->Get("/index.html", "\"other\"")->status, 200);
}

TEST_F(PageFilesTest, AGzipCopyGoesToBrowsersThatAcceptIt) {
  Write("app.0123456789ab.js.gz", "GZ");
  Write("orphan.js.gz", "GZ");
  const auto page = PageFiles::Load(Folder());
  const auto packed = page->Get("/app.0123456789ab.js", "", "deflate, gzip;q=0.8, br");
  ASSERT_TRUE(packed);
  EXPECT_EQ(*packed->body, "GZ");
  EXPECT_EQ(Header(*packed, "Content-Encoding"), "gzip");
  EXPECT_EQ(Header(*packed, "Vary"), "Accept-Encoding");
  for (const char* refused : {"", "identity", "gzip;q=0", "gzip; q=0.0, br", "gzipx"}) {
    const auto plain = page->Get("/app.0123456789ab.js", "", refused);
    EXPECT_EQ(*plain->body, "export {}") << refused;
    EXPECT_EQ(Header(*plain, "Content-Encoding"), "") << refused;
    EXPECT_EQ(Header(*plain, "Vary"), "Accept-Encoding") << refused;
  }
  EXPECT_TRUE(PageFiles::AcceptsGzip("*"));
  EXPECT_TRUE(PageFiles::AcceptsGzip("GZIP; q=1"));
  EXPECT_FALSE(page->Get("/app.0123456789ab.js.gz", ""));
  EXPECT_FALSE(page->Get("/orphan.js", ""));
  EXPECT_EQ(Header(*page->Get("/", "", "gzip"), "Vary"), "");  // the page has no copy here
}

TEST_F(PageFilesTest, NothingOutsideTheFolderNorAFolderWithoutItsPage) {
  const auto page = PageFiles::Load(Folder());
  EXPECT_FALSE(page->Get("/sub/secret.txt", ""));
  EXPECT_FALSE(page->Get("/../index.html", ""));
  EXPECT_FALSE(page->Get("/missing.js", ""));
  EXPECT_FALSE(page->Get("index.html", ""));
  EXPECT_TRUE(PageFiles::IsHashedName("pdi07310.0a1b2c3d4e5f.wasm"));
  EXPECT_FALSE(PageFiles::IsHashedName("pdi07310.0A1B2C3D4E5F.wasm"));
  EXPECT_FALSE(PageFiles::IsHashedName("index.html"));

  fs::remove(Folder() / "index.html");
  EXPECT_THROW(PageFiles::Load(Folder()), std::runtime_error);
  EXPECT_THROW(PageFiles::Load(Folder() / "none"), std::runtime_error);
  // The server does not start on a page folder it cannot serve.
  const CommandResult r = RunServerCommand({"serve", "--db", dir_.File("s.db"), "--create", "--listen",
                                            "127.0.0.1:0", "--web", Folder().string()});
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("holds no index.html"), std::string::npos) << r.output;
}

TEST_F(PageFilesTest, TheServerServesThePageOverHttpsWithoutATokenAndTheServiceStillAsksForOne) {
  testsupport::TestCertificates certs;
  WritePrivateFile(dir_.File("tokens.txt"), "tok-maria-7Qx2Lp9v maria\n");
  ServerProcess process(ServerBinary(), dir_.File("s.db"),
                        {"--create", "--web", Folder().string(), "--tokens", dir_.File("tokens.txt"), "--tls-cert",
                         certs.ServerCert(), "--tls-key", certs.ServerKey()});
  EXPECT_TRUE(process.LogShows("serves the screen for browsers at https://")) << process.Log();
  httplib::SSLClient client("localhost", process.Port());
  client.set_ca_cert_path(certs.CaCert());
  client.enable_server_certificate_verification(true);

  const auto index = client.Get("/");
  ASSERT_TRUE(index) << httplib::to_string(index.error());
  EXPECT_EQ(index->status, 200);
  EXPECT_EQ(index->body, kIndex);
  EXPECT_EQ(index->get_header_value("X-Content-Type-Options"), "nosniff");
  EXPECT_EQ(index->get_header_value("Referrer-Policy"), "no-referrer");
  EXPECT_NE(index->get_header_value("Content-Security-Policy").find("frame-ancestors 'none'"), std::string::npos);
  EXPECT_EQ(index->get_header_value("Cache-Control"), "no-cache");
  const auto again = client.Get("/", {{"If-None-Match", index->get_header_value("ETag")}});
  ASSERT_TRUE(again);
  EXPECT_EQ(again->status, 304);
  const auto head = client.Head("/app.0123456789ab.js");
  ASSERT_TRUE(head);
  EXPECT_EQ(head->status, 200);
  EXPECT_EQ(head->get_header_value("Content-Length"), "9");
  EXPECT_EQ(head->get_header_value("Cache-Control"), "public, max-age=31536000, immutable");

  // Names the page does not hold, and every other method, are not the page's.
  const auto missing = client.Get("/sub/secret.txt");
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->status, 404);
  const auto post = client.Post("/", "x", "text/plain");
  ASSERT_TRUE(post);
  EXPECT_EQ(post->status, 401);
  // The service and its local database keep their token.
  for (const std::string& path : {ServerProcess::Path(), ServerProcess::Path() + "/local.db"}) {
    const auto service = client.Get(path);
    ASSERT_TRUE(service);
    EXPECT_EQ(service->status, 401) << path;
  }
  EXPECT_EQ(client.Get(ServerProcess::Path(), {{"Authorization", "Bearer tok-maria-7Qx2Lp9v"}})->status, 200);
  EXPECT_EQ(process.Stop(), 0);
}

}  // namespace
}  // namespace server::test
