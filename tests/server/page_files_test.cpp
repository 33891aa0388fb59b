// The browser client's files as the server answers them: caching by name, revalidation of the
// page, the security headers, and nothing outside the folder.
#include "server/http/PageFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace {

namespace fs = std::filesystem;

std::string Header(const server::PageFiles::Answer& a, const std::string& name) {
  for (const auto& [k, v] : a.headers)
    if (k == name) return v;
  return {};
}

class PageFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("page_files_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                        "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_ / "sub");
    Write("index.html", "<!doctype html><script type=module src=app.0123456789ab.js></script>");
    Write("app.0123456789ab.js", "export {}");
    Write("sub/secret.txt", "no");
  }
  void TearDown() override { fs::remove_all(dir_); }
  void Write(const std::string& name, const std::string& text) { std::ofstream(dir_ / name, std::ios::binary) << text; }

  fs::path dir_;
};

TEST_F(PageFilesTest, HashedNamesAreImmutableAndThePageIsRevalidated) {
  const auto page = server::PageFiles::Load(dir_);
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
  EXPECT_EQ(*index->body, "<!doctype html><script type=module src=app.0123456789ab.js></script>");
  for (const auto& [k, v] : server::PageFiles::SecurityHeaders()) EXPECT_EQ(Header(*index, k), v) << k;
  EXPECT_NE(Header(*index, "Content-Security-Policy").find("frame-ancestors 'none'"), std::string::npos);
  EXPECT_EQ(Header(*index, "Content-Security-Policy").find("unsafe-inline"), std::string::npos);

  const auto again = page->Get("/index.html", "\"other\", W/" + etag);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->status, 304);
  EXPECT_TRUE(again->body->empty());
  EXPECT_EQ(page->Get("/index.html", "\"other\"")->status, 200);
}

TEST_F(PageFilesTest, NothingOutsideTheFolderNorAFolderWithoutItsPage) {
  const auto page = server::PageFiles::Load(dir_);
  EXPECT_FALSE(page->Get("/sub/secret.txt", ""));
  EXPECT_FALSE(page->Get("/../index.html", ""));
  EXPECT_FALSE(page->Get("/missing.js", ""));
  EXPECT_FALSE(page->Get("index.html", ""));
  EXPECT_TRUE(server::PageFiles::IsHashedName("pdi07310.0a1b2c3d4e5f.wasm"));
  EXPECT_FALSE(server::PageFiles::IsHashedName("pdi07310.0A1B2C3D4E5F.wasm"));
  EXPECT_FALSE(server::PageFiles::IsHashedName("index.html"));

  fs::remove(dir_ / "index.html");
  EXPECT_THROW(server::PageFiles::Load(dir_), std::runtime_error);
  EXPECT_THROW(server::PageFiles::Load(dir_ / "none"), std::runtime_error);
}

}  // namespace
