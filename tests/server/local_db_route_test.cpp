// GET /PDI07310.rdmProdDesoneraImpos/local.db on each store: behind the access tokens, a valid
// local database with an ETag, 304 when If-None-Match names it (in any of its forms), and a new
// copy once import-master (another process) changed the master data.
#include <gtest/gtest.h>

#include <filesystem>

#include <fstream>

#include <zstd.h>

#include "ServiceFixture.h"
#include "server/service/LocalDbPublisher.h"
#include "server/store/SqliteDatabase.h"

namespace server::test {
namespace {

class LocalDbRouteTest : public ServiceFixture {
 protected:
  std::vector<std::string> ExtraArgs() override {
    std::ofstream(dir_.File("tokens.txt")) << "tok-maria-0123456789 Maria\n";
    std::filesystem::permissions(dir_.File("tokens.txt"),
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    return {"--tokens", dir_.File("tokens.txt")};
  }
  httplib::Result Get(const std::string& token, const std::string& ifNoneMatch = "",
                      const std::string& acceptEncoding = "") {
    httplib::Headers headers;
    if (!token.empty()) headers.emplace("Authorization", "Bearer " + token);
    if (!ifNoneMatch.empty()) headers.emplace("If-None-Match", ifNoneMatch);
    if (!acceptEncoding.empty()) headers.emplace("Accept-Encoding", acceptEncoding);
    rpc_->Http().set_decompress(false);
    return rpc_->Http().Get(ServerProcess::Path() + "/local.db", headers);
  }
  // The suppliers of a downloaded copy, "code|key" sorted.
  std::vector<std::string> Suppliers(const std::string& body) {
    const std::string path = dir_.File("got.db");
    std::ofstream(path, std::ios::binary | std::ios::trunc) << body;
    SqliteDatabase db(path, SqliteDatabase::Mode::ReadOnly);
    SqliteStatement s = db.Prepare("SELECT NRINSJURFORN, CDFORNECED FROM FORNECEDOR ORDER BY CDFORNECED");
    std::vector<std::string> rows;
    while (s.Step()) rows.push_back(std::string(s.Text(0)) + "|" + std::string(s.Text(1)));
    return rows;
  }
};
INSTANTIATE_TEST_SUITE_P(Stores, LocalDbRouteTest, ::testing::Values(StoreKind::Sqlite, StoreKind::Postgres),
                         StoreParamName());

TEST_P(LocalDbRouteTest, ServedBehindTheTokensWithAnETagAnd304UntilTheMasterDataChange) {
  for (const char* token : {"", "tok-joao-0123456789"}) {
    const auto refused = Get(token);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 401) << token;
    EXPECT_EQ(refused->body.find("SQLite"), std::string::npos);
  }
  const auto first = Get("tok-maria-0123456789");
  ASSERT_TRUE(first);
  ASSERT_EQ(first->status, 200) << first->body;
  const std::string etag = first->get_header_value("ETag");
  EXPECT_EQ(etag.front(), '"');
  EXPECT_EQ(first->body.rfind("SQLite format 3", 0), 0u);
  EXPECT_EQ(Suppliers(first->body),
            (std::vector<std::string>{"12345678000195|F1", "52998224725|F2", "11222333000181|F3"}));

  for (const std::string& match : {etag, "W/" + etag, "\"other\", " + etag, std::string("*")}) {
    const auto same = Get("tok-maria-0123456789", match);
    ASSERT_TRUE(same);
    EXPECT_EQ(same->status, 304) << match;
    EXPECT_TRUE(same->body.empty());
    EXPECT_EQ(same->get_header_value("ETag"), etag);
  }
  EXPECT_EQ(Get("tok-maria-0123456789", "\"stale\"")->status, 200);

  // Asked compressed: the same bytes once decoded, under a tag of their own that names the same
  // copy, so a client keeps its copy whichever way it asks.
  const auto coded = Get("tok-maria-0123456789", "", "zstd");
  ASSERT_TRUE(coded);
  ASSERT_EQ(coded->status, 200);
  EXPECT_EQ(coded->get_header_value("Content-Encoding"), "zstd");
  const std::string codedTag = coded->get_header_value("ETag");
  EXPECT_EQ(codedTag, LocalDbPublisher::CodedTag(etag, ContentCoding::Zstd));
  std::string decoded(first->body.size(), '\0');
  decoded.resize(ZSTD_decompress(decoded.data(), decoded.size(), coded->body.data(), coded->body.size()));
  EXPECT_EQ(decoded, first->body);
  EXPECT_LT(coded->body.size(), first->body.size());
  EXPECT_EQ(Get("tok-maria-0123456789", codedTag, "zstd")->status, 304);
  EXPECT_EQ(Get("tok-maria-0123456789", etag, "gzip")->status, 304);
  EXPECT_EQ(Get("tok-maria-0123456789", codedTag)->status, 304);

  // A supplier registered today reaches the next download, through another process.
  {
    SqliteDatabase master(dir_.File("more.db"), SqliteDatabase::Mode::CreatePlain);
    master.Exec(
        "CREATE TABLE PRODUTO (CDPRODUTO TEXT, CDARVPROD TEXT, NMPRODUTO TEXT);"
        "CREATE TABLE FORNECEDOR (NRINSJURFORN TEXT, NMRAZSOCFORN TEXT, IDTPIJURFORN TEXT, CDFORNECED TEXT);"
        "INSERT INTO FORNECEDOR VALUES ('45723174000110', 'Novo Fornecedor Ltda.', 'J', 'F9');"
        "CREATE TABLE CLIENTE (NRINSJURCLIE TEXT, NMRAZSOCCLIE TEXT, IDTPIJURCLIE TEXT, CDCLIENTE TEXT);"
        "CREATE TABLE FILIAL (CDFILIAL TEXT, NMFILIAL TEXT);");
  }
  const CommandResult imported = RunServerCommand({"import-master", "--db", db_, dir_.File("more.db")});
  ASSERT_EQ(imported.status, 0) << imported.output;
  const auto changed = Get("tok-maria-0123456789", etag);
  ASSERT_TRUE(changed);
  ASSERT_EQ(changed->status, 200);
  EXPECT_NE(changed->get_header_value("ETag"), etag);
  EXPECT_EQ(Suppliers(changed->body).back(), "45723174000110|F9");
}

TEST(LocalDbPublisherMatches, IfNoneMatchForms) {
  EXPECT_TRUE(LocalDbPublisher::Matches("\"a\"", "\"a\""));
  EXPECT_TRUE(LocalDbPublisher::Matches(" \"b\" ,\"a\" ", "\"a\""));
  EXPECT_TRUE(LocalDbPublisher::Matches("W/\"a\"", "\"a\""));
  EXPECT_TRUE(LocalDbPublisher::Matches("*", "\"a\""));
  EXPECT_FALSE(LocalDbPublisher::Matches("", "\"a\""));
  EXPECT_FALSE(LocalDbPublisher::Matches("\"ab\"", "\"a\""));
  EXPECT_FALSE(LocalDbPublisher::Matches("a", "\"a\""));
  EXPECT_TRUE(LocalDbPublisher::Matches("\"a-zstd\"", "\"a\""));
  EXPECT_TRUE(LocalDbPublisher::Matches("W/\"a-gzip\"", "\"a\""));
  EXPECT_FALSE(LocalDbPublisher::Matches("\"a-br\"", "\"a\""));
}

}  // namespace
}  // namespace server::test
