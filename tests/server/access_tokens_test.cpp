// The tokens file and the Authorization header: what is read, what is refused, which user a
// header stands for.
#include "server/http/AccessTokens.h"

#include <gtest/gtest.h>

#include <fstream>

#include "ServerTestSupport.h"

namespace server {
namespace {

TEST(AccessTokens, ReadsTokensAndUsersSkippingCommentsAndBlankLines) {
  const AccessTokens tokens = AccessTokens::Parse(
      "# desktops of the tax office\n"
      "\n"
      "tok-maria   Maria da Silva\r\n"
      "  tok-joao\tjoao  \n"
      "tok-last last",
      "tokens.txt");
  EXPECT_EQ(tokens.Size(), 3u);
  EXPECT_EQ(tokens.UserFor("Bearer tok-maria"), "Maria da Silva");
  EXPECT_EQ(tokens.UserFor("bearer  tok-joao "), "joao");
  EXPECT_EQ(tokens.UserFor("BEARER tok-last"), "last");
}

TEST(AccessTokens, AnythingButABearerHeaderWithAListedTokenIsRefused) {
  const AccessTokens tokens = AccessTokens::Parse("tok-maria maria\n", "t");
  for (const char* header : {"", "Bearer", "Bearer ", "tok-maria", "Basic tok-maria", "Bearertok-maria",
                             "Bearer tok-mari", "Bearer tok-maria2", "Bearer TOK-MARIA", "Bearer # maria"}) {
    EXPECT_FALSE(tokens.UserFor(header).has_value()) << header;
  }
}

TEST(AccessTokens, BadFilesAreRefusedNamingTheLine) {
  const auto message = [](const std::string& text) {
    try {
      AccessTokens::Parse(text, "tokens.txt");
    } catch (const std::runtime_error& e) {
      return std::string(e.what());
    }
    return std::string("accepted");
  };
  EXPECT_EQ(message("# nobody\n\n"), "tokens.txt: no token listed; nobody could call the server");
  EXPECT_EQ(message("a alice\nlonely\n"), "tokens.txt, line 2: expected \"TOKEN USER\"");
  EXPECT_EQ(message("a alice\nb bob\na again\n"), "tokens.txt, line 3: the token is listed twice");
  EXPECT_EQ(message(std::string("a\x01z alice\n")), "tokens.txt, line 1: a token holds only printable characters");

  server::test::TempDir dir;
  EXPECT_THROW(AccessTokens::Load(dir.File("missing.txt")), std::runtime_error);
  std::ofstream(dir.File("t.txt")) << "secret alice\n";
  EXPECT_EQ(AccessTokens::Load(dir.File("t.txt")).UserFor("Bearer secret"), "alice");
}

}  // namespace
}  // namespace server
