#include "tests/support/TestCertificates.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <stdexcept>

#include "tests/support/Programs.h"

namespace testsupport {

TestCertificates::TestCertificates() : dir_("pdi_test_certs") {
  MakeCa("ca", "PDI07310 Test CA");
  MakeCa("untrusted-ca", "PDI07310 Untrusted Test CA");
  Issue("server", "localhost", "DNS:localhost,IP:127.0.0.1");
  Issue("wrong-name", "elsewhere.invalid", "DNS:elsewhere.invalid");
}

void TestCertificates::MakeCa(const std::string& name, const std::string& commonName) {
  Openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
           File((name + ".key").c_str()), "-out", File((name + ".pem").c_str()), "-days", "2", "-subj",
           "/CN=" + commonName, "-addext", "basicConstraints=critical,CA:TRUE", "-addext",
           "keyUsage=critical,keyCertSign,cRLSign"});
}

void TestCertificates::Issue(const std::string& name, const std::string& commonName, const std::string& san) {
  const std::string key = File((name + ".key").c_str());
  const std::string csr = File((name + ".csr").c_str());
  const std::string ext = File((name + ".ext").c_str());
  std::ofstream(ext) << "subjectAltName=" << san
                     << "\nbasicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                        "extendedKeyUsage=serverAuth\n";
  Openssl({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key, "-out",
           csr, "-subj", "/CN=" + commonName});
  static std::atomic<int> serial{2};
  Openssl({"x509", "-req", "-in", csr, "-CA", CaCert(), "-CAkey", File("ca.key"), "-set_serial",
           std::to_string(serial++), "-days", "2", "-extfile", ext, "-out", File((name + ".pem").c_str())});
}

void TestCertificates::Openssl(const std::vector<std::string>& args) {
  std::vector<std::string> argv{"openssl"};
  argv.insert(argv.end(), args.begin(), args.end());
  // openssl takes milliseconds here; a minute means it hangs.
  const ProgramResult result = RunProgram(argv, std::chrono::minutes(1));
  if (result.status == -1) throw std::runtime_error("cannot run openssl (is it installed?)");
  if (result.status != 0) throw std::runtime_error("openssl " + args.front() + " failed: " + result.output);
}

}  // namespace testsupport
