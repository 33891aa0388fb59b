#include "server/access/PasswordHash.h"

#include <sodium.h>

#include <semaphore>
#include <thread>

#include "host/wire/EscapedText.h"
#include "host/wire/PacketWriter.h"
#include "host/wire/Utf8.h"

namespace server {
namespace {

constexpr unsigned long long kOpsLimit = crypto_pwhash_OPSLIMIT_INTERACTIVE;
constexpr size_t kMemLimit = crypto_pwhash_MEMLIMIT_INTERACTIVE;

void InitSodium() {
  static const int kReady = sodium_init();
  if (kReady < 0) throw std::runtime_error("libsodium could not be initialized");
}

// Turns to hash: as many as the machine has processors.
std::counting_semaphore<>& Turns() {
  static std::counting_semaphore<> turns(std::max<std::ptrdiff_t>(1, std::thread::hardware_concurrency()));
  return turns;
}

// Holds one turn for its life.
class Turn {
 public:
  Turn() {
    if (!Turns().try_acquire_for(PasswordHash::kWaitLimit)) {
      throw EPasswordBusy("too many password checks at once: none could start within " +
                          std::to_string(PasswordHash::kWaitLimit.count()) + " s");
    }
  }
  ~Turn() { Turns().release(); }
  Turn(const Turn&) = delete;
  Turn& operator=(const Turn&) = delete;
};

// A hash made once, of a password nobody has, for VerifyNothing.
const std::string& DecoyHash() {
  static const std::string kDecoy = [] {
    unsigned char random[24];
    randombytes_buf(random, sizeof random);
    char hex[sizeof random * 2 + 1];
    sodium_bin2hex(hex, sizeof hex, random, sizeof random);
    return PasswordHash::Hash(hex);
  }();
  return kDecoy;
}

}  // namespace

std::string PasswordHash::Unfit(std::string_view password) {
  if (password.size() > kMaxBytes) return "a password has at most " + std::to_string(kMaxBytes) + " bytes";
  if (host::wire::PacketWriter::SanitizeUtf8(password) != password) return "a password is UTF-8 text";
  if (host::wire::HasControlCharacter(password)) return "a password holds no control characters";
  const size_t characters = host::wire::Utf8CharCount(password);
  if (characters < kMinCharacters) {
    return "a password has at least " + std::to_string(kMinCharacters) + " characters (this one has " +
           std::to_string(characters) + ")";
  }
  return {};
}

std::string PasswordHash::Hash(std::string_view password) {
  InitSodium();
  char out[crypto_pwhash_STRBYTES];
  const Turn turn;
  if (crypto_pwhash_str(out, password.data(), password.size(), kOpsLimit, kMemLimit) != 0) {
    throw std::runtime_error("the password could not be hashed (out of memory)");
  }
  return out;
}

bool PasswordHash::Verify(std::string_view hash, std::string_view password) {
  InitSodium();
  // libsodium reads a NUL-terminated text of at most crypto_pwhash_STRBYTES.
  if (hash.empty() || hash.size() >= crypto_pwhash_STRBYTES || hash.find('\0') != std::string_view::npos) return false;
  char stored[crypto_pwhash_STRBYTES] = {};
  hash.copy(stored, hash.size());
  const Turn turn;
  return crypto_pwhash_str_verify(stored, password.data(), password.size()) == 0;
}

void PasswordHash::VerifyNothing(std::string_view password) { (void)Verify(DecoyHash(), password); }

}  // namespace server
