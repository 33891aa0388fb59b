// PasswordHash turns a local user's password into the text the store keeps, and checks a
// password against it: Argon2id through libsodium's crypto_pwhash_str, at its interactive limits
// (some tens of milliseconds and 64 MiB per hash), the salt and the limits written in the text.
// The store never holds a password, only such a text.
//
// A hash takes a processor and its memory for its whole time, so at most as many run at once as
// the machine has processors; one that waits longer than kWaitLimit for its turn fails as busy
// (EPasswordBusy), rather than pile up memory and time under a rush of sign-ins.
//
// VerifyNothing costs what a verification costs without anything to verify: a sign-in for a name
// that is not a local user pays it, so that the time taken does not tell which names exist.
//
// Stateless but for the turn-taking; thread-safe.
#pragma once

#include <chrono>
#include <stdexcept>
#include <string>
#include <string_view>

namespace server {

// No turn to hash came within PasswordHash::kWaitLimit.
class EPasswordBusy : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class PasswordHash {
 public:
  PasswordHash() = delete;

  // Shortest password a local user may be given, in characters; longest, in bytes.
  static constexpr size_t kMinCharacters = 10;
  static constexpr size_t kMaxBytes = 1024;
  static constexpr std::chrono::seconds kWaitLimit{10};

  // Why password cannot be given to a local user ("" when it can): shorter than kMinCharacters
  // (UTF-8 characters), longer than kMaxBytes, not UTF-8, or holding a control character.
  static std::string Unfit(std::string_view password);

  // The stored text of password. Raises EPasswordBusy, or std::runtime_error when the hash
  // cannot be made (memory).
  static std::string Hash(std::string_view password);

  // True when password is the one hash was made of; false for any other, and for a text that is
  // not such a hash. Raises EPasswordBusy.
  static bool Verify(std::string_view hash, std::string_view password);

  // Takes the time of a Verify that fails. Raises EPasswordBusy.
  static void VerifyNothing(std::string_view password);
};

}  // namespace server
