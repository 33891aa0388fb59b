// The fixture of the service's integration tests, run once per store: a fresh server database
// (SQLite file or PostgreSQL schema) with small known master data imported, the real server
// binary serving it on a free loopback port, and helpers to save, load and check over HTTP.
//
// Master data: four products (P1 "100", P'2 "200", P3 "200", P4 "050"), three suppliers (F1, F2,
// F3), two clients (C1, C2), three branches (0001, SP01, and MATRIZ01, longer than the branch
// list's four characters).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ServerTestSupport.h"
#include "tests/support/ServerProcess.h"

namespace server::test {

using Change = std::pair<host::wire::ChangeOp, std::vector<std::string>>;

// Writes the master data above as a local-format database file.
void WriteMasterFile(const std::string& path);

// A grid of master data for tests of many saves: kProducts products and kSuppliers
// suppliers, so there are kProducts x kSuppliers distinct supplier pairs to store.
constexpr int kProducts = 40;
constexpr int kSuppliers = 30;
std::string ProductKey(int i);
std::string SupplierKey(int i);
void WriteGridMasterFile(const std::string& path);
// Pair n of the grid (0 <= n < kProducts * kSuppliers) as a supplier row.
std::vector<std::string> GridRow(int n);

class ServiceFixture : public ::testing::TestWithParam<StoreKind> {
 protected:
  // Skips when the store is not available; makes the database, imports the masters, and starts
  // the server with ExtraArgs().
  void SetUp() override;
  // Stops the server, expecting a clean exit.
  void TearDown() override;
  virtual std::vector<std::string> ExtraArgs() { return {}; }

  // Saves one change packet and expects it accepted.
  void Save(const std::string& method, const std::vector<host::wire::FieldDef>& fields,
            const std::vector<Change>& changes);
  // Saves a packet expecting a refusal; returns its message.
  std::string Refused(const std::string& method, const std::vector<host::wire::FieldDef>& fields,
                      const std::vector<Change>& changes);
  Packet Load(const std::string& method);
  bool Stored(const std::string& method, const std::string& product, const std::string& item);
  // Runs `audit --db DB` with more args; returns its result.
  CommandResult Audit(const std::vector<std::string>& args = {});

  // Rows of a list as "a|b|c" lines, for one-line comparisons.
  static std::string Lines(const Packet& p);

  // Rows as the screen sends them: only the keys and the typed code are filled.
  static std::vector<std::string> SupplierRow(const std::string& product, const std::string& key,
                                              const std::string& typed = "") {
    return {product, typed, "", "", key, typed};
  }
  static std::vector<std::string> ClientRow(const std::string& product, const std::string& key) {
    return {product, "", key, "", "", ""};
  }
  static std::vector<std::string> BranchRow(const std::string& product, const std::string& code) {
    return {product, code, ""};
  }

  TempDir dir_;
  std::unique_ptr<TestDatabase> database_;
  std::string db_;  // database_->Location()
  std::unique_ptr<ServerProcess> process_;
  std::unique_ptr<RpcClient> rpc_;
};

}  // namespace server::test
