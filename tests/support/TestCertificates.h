// Test support: a throwaway certificate authority and certificates, made with the `openssl`
// command in a temporary folder when the object is built and removed with it. Nothing here is
// trusted by the system: a client must be told the CA file.
//
//   CaCert()                     the test CA (PEM), to give a client as its CA file
//   ServerCert() / ServerKey()   a server certificate signed by the test CA for "localhost" and
//                                127.0.0.1 (subjectAltName DNS and IP), and its key
//   WrongNameCert() / WrongNameKey()  signed by the test CA, but only for "elsewhere.invalid"
//   UntrustedCaCert()            a second CA that signed nothing a test server uses
//
// Keys are P-256 (fast to make); certificates are valid for two days from now. Raises
// std::runtime_error with openssl's output when a step fails or takes more than a minute.
// Not copyable; usable from one thread.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

namespace testsupport {

class TestCertificates {
 public:
  TestCertificates();
  TestCertificates(const TestCertificates&) = delete;
  TestCertificates& operator=(const TestCertificates&) = delete;

  std::string CaCert() const { return File("ca.pem"); }
  std::string ServerCert() const { return File("server.pem"); }
  std::string ServerKey() const { return File("server.key"); }
  std::string WrongNameCert() const { return File("wrong-name.pem"); }
  std::string WrongNameKey() const { return File("wrong-name.key"); }
  std::string UntrustedCaCert() const { return File("untrusted-ca.pem"); }
  const std::filesystem::path& Folder() const { return dir_.Path(); }

 private:
  std::string File(const char* name) const { return dir_.File(name); }
  // Makes a self-signed CA named name.pem / name.key.
  void MakeCa(const std::string& name, const std::string& commonName);
  // Makes name.pem / name.key for subjectAltName san, signed by the CA ca.pem / ca.key.
  void Issue(const std::string& name, const std::string& commonName, const std::string& san);
  void Openssl(const std::vector<std::string>& args);

  TempDir dir_;
};

}  // namespace testsupport
