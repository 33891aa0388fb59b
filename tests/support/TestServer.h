// Test support: a real pdi07310-server process (ServerProcess) on a free loopback port over a
// temporary SQLite file, and the local read-only database that desktops validate against, with
// known contents. The server is stopped (SIGTERM, then SIGKILL after a grace period) when the
// object dies, so a failing test leaves nothing running; its files are removed with it unless
// PDI_KEEP_TEST_SERVER is set.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/Programs.h"
#include "tests/support/ServerProcess.h"
#include "tests/support/TempDir.h"

namespace testsupport {

struct Product {
  std::string key;   // CDPRODUTO
  std::string code;  // CDARVPROD
  std::string name;  // NMPRODUTO
};
struct Party {       // a supplier or a client
  std::string number;      // taxpayer number, digits only
  std::string name;
  std::string personType;  // "J" or "F"
  std::string key;         // CDFORNECED / CDCLIENTE
};
struct Branch {
  std::string code;
  std::string name;
};

// The master data of a local database.
struct MasterData {
  std::vector<Product> products;
  std::vector<Party> suppliers;
  std::vector<Party> clients;
  std::vector<Branch> branches;
};

// A small, fixed data set with the awkward cases: a product key holding a quote, two products
// sharing one code, a branch code longer than four characters, accented names.
MasterData SampleMasterData();

// Writes a local database file with these tables and rows.
void WriteLocalDatabase(const std::filesystem::path& path, const MasterData& data);

class TestServer {
 public:
  // Creates a temporary folder with the local database and the server's database (masters
  // imported from the local one), then starts the server.
  explicit TestServer(const MasterData& data = SampleMasterData());
  // The same over the store at database (a postgresql:// URI naming an empty schema, or a path)
  // instead of the folder's SQLite file.
  TestServer(const MasterData& data, std::string database);
  // Demo data of the server's own generator: `products` listed products with
  // `rowsPerProduct` related rows each.
  struct Demo {
    int products;
    int rowsPerProduct;
    std::string sync = "full";  // the server's --sync (full or normal)
  };
  explicit TestServer(Demo demo);
  ~TestServer();
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  int Port() const { return port_; }
  const std::filesystem::path& LocalDatabase() const { return localDb_; }
  const std::filesystem::path& ServerDatabase() const { return serverDb_; }
  const std::filesystem::path& Folder() const { return dir_->Path(); }

  // Calls a method with a JSON text of positional params; returns the JSON-RPC response body.
  std::string CallRaw(const std::string& method, const std::string& paramsJson) const;
  // Stores exemption rows directly through the service: (product key, item key) pairs.
  void AddSupplier(const std::string& productKey, const Party& supplier) const;
  void AddClient(const std::string& productKey, const Party& client) const;
  void AddBranch(const std::string& productKey, const Branch& branch) const;

  // Imports the master data of the local database into the server's database again.
  void ImportMaster() const;
  // Stops and starts the server process again on the same files.
  void Restart();
  // Likewise, with more options for `serve` (e.g. a TLS certificate and key). CallRaw and the
  // Add… helpers speak plain HTTP: with TLS, only clients that speak it can call.
  void RestartWith(std::vector<std::string> serveOptions);
  // Stops the server process (a server gone down); Restart brings it back.
  void Stop();

 private:
  void MakeFolder();
  void Start();
  // Runs a server subcommand to its end, its output in logName; raises when it fails.
  void RunServer(const std::vector<std::string>& args, const std::string& logName) const;

  std::unique_ptr<TempDir> dir_;
  std::filesystem::path localDb_;
  std::filesystem::path serverDb_;
  std::string db_;  // the server's --db: serverDb_, or the database given
  std::filesystem::path log_;
  std::unique_ptr<ServerProcess> process_;
  int port_ = 0;
  std::vector<std::string> serveOptions_;
  std::string sync_ = "full";
};

// The exemption rows most tests start from: product 100 with two suppliers, a client and a
// branch; product 200 with one supplier; product O'1 with one branch.
void SeedSample(const TestServer& server);

}  // namespace testsupport
