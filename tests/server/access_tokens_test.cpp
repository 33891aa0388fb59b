// The tokens file and the Authorization header: what is read, what is refused, which user a
// header stands for.
#include "server/access/AccessTokens.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "ServerTestSupport.h"

namespace server {
namespace {

// Parses text; returns the refusal's message, or "accepted".
std::string ParseMessage(const std::string& text) {
  try {
    AccessTokens::Parse(text, "tokens.txt");
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "accepted";
}

TEST(AccessTokens, ReadsTokensAndUsersSkippingCommentsAndBlankLines) {
  const AccessTokens tokens = AccessTokens::Parse(
      "# desktops of the tax office\n"
      "\n"
      "tok-maria-0123456   Maria da Silva\r\n"
      "  tok-joao-01234567\tjoao  \n"
      "tok-last-01234567 last",
      "tokens.txt");
  EXPECT_EQ(tokens.Size(), 3u);
  EXPECT_EQ(tokens.UserFor("Bearer tok-maria-0123456"), "Maria da Silva");
  EXPECT_EQ(tokens.UserFor("bearer tok-joao-01234567"), "joao");
  EXPECT_EQ(tokens.UserFor("BEARER tok-last-01234567"), "last");
}

// A third column sets the token's role; without it the role is edicao, as before roles existed.
TEST(AccessTokens, AnOptionalLastWordSetsTheRole) {
  const AccessTokens tokens = AccessTokens::Parse(
      "tok-maria-0123456 Maria da Silva consulta\ntok-joao-01234567 joao edicao\n"
      "tok-robo-01234567 robo de carga\ntok-solo-01234567 consulta\n",
      "tokens.txt");
  const auto role = [&](const std::string& token) { return tokens.IdentityFor("Bearer " + token).value(); };
  EXPECT_EQ(role("tok-maria-0123456").user, "Maria da Silva");
  EXPECT_EQ(role("tok-maria-0123456").role, Role::kConsulta);
  EXPECT_EQ(role("tok-joao-01234567").role, Role::kEdicao);
  EXPECT_EQ(role("tok-robo-01234567").user, "robo de carga");
  EXPECT_EQ(role("tok-robo-01234567").role, Role::kEdicao);
  EXPECT_EQ(role("tok-solo-01234567").user, "consulta");  // a name alone is a name
  EXPECT_EQ(role("tok-solo-01234567").access, AccessKind::kToken);
}

// Only "Bearer TOKEN" exactly: blanks, control characters or anything else around the token
// (a NUL with junk after it among them) make the header unknown.
TEST(AccessTokens, AnythingButExactlyABearerHeaderWithAListedTokenIsRefused) {
  const AccessTokens tokens = AccessTokens::Parse("tok-maria-0123456 maria\n", "t");
  const std::string refused[] = {"",
                                 "Bearer",
                                 "Bearer ",
                                 "tok-maria-0123456",
                                 "Basic tok-maria-0123456",
                                 "Bearertok-maria-0123456",
                                 "Bearer tok-maria-012345",
                                 "Bearer tok-maria-01234567",
                                 "Bearer TOK-MARIA-0123456",
                                 "Bearer # maria",
                                 "Bearer  tok-maria-0123456",
                                 "Bearer\ttok-maria-0123456",
                                 " Bearer tok-maria-0123456",
                                 "Bearer tok-maria-0123456 ",
                                 "Bearer tok-maria-0123456 junk",
                                 "Bearer tok-maria-0123456\r\n",
                                 std::string("Bearer tok-maria-0123456\0junk", 29),
                                 std::string("Bearer tok-maria-0123456\0", 25)};
  for (const std::string& header : refused) {
    EXPECT_FALSE(tokens.UserFor(header).has_value()) << header;
  }
  EXPECT_EQ(tokens.UserFor("Bearer tok-maria-0123456"), "maria");
}

TEST(AccessTokens, BadFilesAreRefusedNamingTheLine) {
  EXPECT_EQ(ParseMessage("# nobody\n\n"), "tokens.txt: no token listed; nobody could call the server");
  EXPECT_EQ(ParseMessage("alice-0123456789ab alice\nlonely-0123456789ab\n"),
            "tokens.txt, line 2: expected \"TOKEN USER\"");
  EXPECT_EQ(ParseMessage("alice-0123456789ab alice\nbob-0123456789abcd bob\nalice-0123456789ab again\n"),
            "tokens.txt, line 3: the token is listed twice");
  EXPECT_EQ(ParseMessage("a\x01z-0123456789abcdef alice\n"), "tokens.txt, line 1: a token holds only printable characters");
  EXPECT_EQ(ParseMessage(std::string("alice\0-0123456789ab alice\n", 26)),
            "tokens.txt, line 1: a token holds only printable characters");
  EXPECT_EQ(ParseMessage("ok-0123456789abcdef bob\ntoo-short alice\n"),
            "tokens.txt, line 2: a token has at least 16 characters (this one has 9)");
  EXPECT_EQ(ParseMessage("alice-0123456789ab ali\x1b[31mce\n"), "tokens.txt, line 1: a user name holds no control characters");
  EXPECT_EQ(ParseMessage("exactly-16-chars alice\n"), "accepted");
}

// A secret's file: one that others may read or write is refused, with the owner, the mode and the
// fix in the message; a private one is read. (The rule itself, owner by owner, is tested with
// PrivateFileFault.)
TEST(AccessTokens, AFileOthersMayReadOrWriteIsRefused) {
  server::test::TempDir dir;
  EXPECT_THROW(AccessTokens::Load(dir.File("missing.txt")), std::runtime_error);
  EXPECT_THROW(AccessTokens::Load(dir.File("")), std::runtime_error);  // a directory

  const std::string path = dir.File("t.txt");
  server::test::WritePrivateFile(path, "secret-0123456789 alice\n");
  EXPECT_EQ(AccessTokens::Load(path).UserFor("Bearer secret-0123456789"), "alice");

  for (const mode_t mode : {0604, 0620, 0602, 0666, 0644}) {
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    try {
      AccessTokens::Load(path);
      ADD_FAILURE() << "mode " << std::oct << mode << " accepted";
    } catch (const std::runtime_error& e) {
      const std::string message = e.what();
      EXPECT_NE(message.find("can be read or written by other users"), std::string::npos) << message;
      EXPECT_NE(message.find("chmod 600 " + path), std::string::npos) << message;
    }
  }
  ASSERT_EQ(::chmod(path.c_str(), 0400), 0);
  EXPECT_EQ(AccessTokens::Load(path).Size(), 1u);

  // Private to another user is not private to the server: whoever owns it decides who gets in.
  // Only root can hand a file to another user, so this part needs root.
  if (::geteuid() != 0) return;
  ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
  try {
    AccessTokens::Load(path);
    ADD_FAILURE() << "a file of another user accepted";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("must be owned by the user the server runs as"), std::string::npos) << e.what();
  }
  ASSERT_EQ(::chown(path.c_str(), 0, 0), 0);  // root's own file, read by a server run as root
  EXPECT_EQ(AccessTokens::Load(path).Size(), 1u);
}

}  // namespace
}  // namespace server
