// Helpers of the server tests: a fresh server database of either store
// (SQLite file or PostgreSQL schema), running the server binary as a command, a JSON-RPC client
// over loopback HTTP, and readers of raw results and data packets that turn answers into plain
// values a test can compare.
#pragma once

#include <httplib.h>

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "host/wire/JsonRpcRequest.h"
#include "host/wire/PacketWriter.h"
#include "tests/support/Programs.h"
#include "tests/support/ServerProcess.h"
#include "tests/support/TempDir.h"

namespace server::test {

// The server binary, the way to start it and a temporary folder are the shared test support's.
using testsupport::ServerBinary;
using testsupport::ServerProcess;
using testsupport::TempDir;

// Writes text to path readable and writable by its owner only (mode 0600), as a tokens file
// must be.
void WritePrivateFile(const std::string& path, const std::string& text);

// The stores the integration tests run against.
enum class StoreKind { Sqlite, Postgres };
// "Sqlite" / "Postgres", for test names.
std::string StoreName(StoreKind kind);
inline std::ostream& operator<<(std::ostream& out, StoreKind kind) { return out << StoreName(kind); }

// The PostgreSQL database the PostgreSQL variants use: the URI in PDI_TEST_PG_URI, if set.
std::optional<std::string> PgTestUri();
// Why the PostgreSQL variants are skipped.
std::string PgSkipReason();

// A fresh, empty server database of one kind for one test: an SQLite file in dir, or a schema of
// its own in the PDI_TEST_PG_URI database (dropped with everything in it when the object goes
// away; its connections carry the schema's name as application_name). REQUIRES for Postgres:
// PgTestUri() is set (check with Available first).
class TestDatabase {
 public:
  TestDatabase(StoreKind kind, const TempDir& dir, const std::string& name = "server");
  ~TestDatabase();
  TestDatabase(const TestDatabase&) = delete;
  TestDatabase& operator=(const TestDatabase&) = delete;

  // True when databases of this kind can be made here.
  static bool Available(StoreKind kind) { return kind == StoreKind::Sqlite || PgTestUri().has_value(); }

  StoreKind Kind() const { return kind_; }
  // What --db takes: the file's path or a postgresql:// URI.
  const std::string& Location() const { return location_; }
  // The schema of a Postgres database ("" for SQLite).
  const std::string& Schema() const { return schema_; }
  // All rows of a query on the database, each as "a|b|c" (NULL as empty).
  std::vector<std::string> Rows(const std::string& sql) const;
  // The first row of a query, or "" when none.
  std::string One(const std::string& sql) const;

 private:
  StoreKind kind_;
  std::string schema_;
  std::string location_;
};

// Skips the running test (GTEST_SKIP) when databases of kind cannot be made here.
#define PDI_SKIP_UNLESS_STORE(kind)                                                             \
  do {                                                                                          \
    if (!::server::test::TestDatabase::Available(kind)) GTEST_SKIP() << ::server::test::PgSkipReason(); \
  } while (false)

// Names parameterized tests after the store: Stores/ServiceTest.Name/Sqlite.
struct StoreParamName {
  template <class ParamInfo>
  std::string operator()(const ParamInfo& info) const {
    return StoreName(info.param);
  }
};

// Runs the server binary with args; returns its exit status and what it wrote (stdout+stderr). A
// command that should end but does not (a server started by mistake) is killed after a minute.
using CommandResult = testsupport::ProgramResult;
// input, when given, is what the command reads on its standard input (then the end of it).
CommandResult RunServerCommand(const std::vector<std::string>& args, const std::string& input = {});
// The same for another program (a path).
CommandResult RunProgram(const std::string& program, const std::vector<std::string>& args);

// A data packet as plain values.
struct Packet {
  std::vector<std::string> names;
  std::vector<int> sizes;
  std::vector<std::vector<std::string>> rows;
};

// The pieces of one JSON-RPC response.
struct Answer {
  int httpStatus = 0;
  std::string body;
  bool isError = false;     // a JSON-RPC error object
  int errorCode = 0;
  std::string errorMessage;
  bool ok = false;          // raw result "ok"
  std::string refusal;      // raw result "error"
  std::string dataJson;     // raw result "data" as JSON text
  bool chunked = false;     // sent with Transfer-Encoding: chunked
};

// Reads one data packet from JSON text. Fails the test (ADD_FAILURE) and returns an empty packet
// when the text is not a data packet.
Packet ReadPacket(const std::string& json);
// Reads a JSON array of data packets.
std::vector<Packet> ReadPackets(const std::string& json);

// A JSON-RPC client of the service on a loopback port.
class RpcClient {
 public:
  explicit RpcClient(int port);
  // Calls method with params. Never throws; a transport failure gives httpStatus 0.
  Answer Call(const std::string& method, const std::vector<host::wire::JsonRpcParam>& params = {});
  // Posts body as it stands.
  Answer Post(const std::string& body);
  // Call, but a "server busy" (503) answer is tried again after a pause, at most 50 times, as a
  // client is told to: for tests of many clients at once from one address, whose calls may pass
  // the address's share of the server.
  Answer CallRetryingBusy(const std::string& method, const std::vector<host::wire::JsonRpcParam>& params = {});
  // Like Call, for a service behind a proxy whose server may die under the call: an answer that
  // is not HTTP 200 (a proxy's 502 or 503 page) is returned with its status and body, unread, and
  // adds no test failure. A transport failure gives httpStatus 0.
  Answer CallThroughProxy(const std::string& method, const std::vector<host::wire::JsonRpcParam>& params = {});
  httplib::Client& Http() { return http_; }

 private:
  Answer Read(const httplib::Result& res);

  httplib::Client http_;
  int64_t nextId_ = 1;
};

// A change packet parameter: fields and (op, row) pairs.
host::wire::JsonRpcParam Changes(const std::vector<host::wire::FieldDef>& fields,
                                 const std::vector<std::pair<host::wire::ChangeOp, std::vector<std::string>>>& changes);

// The fields of each list's packet, as the record sets declare them.
const std::vector<host::wire::FieldDef>& ProductFields();
const std::vector<host::wire::FieldDef>& SupplierFields();
const std::vector<host::wire::FieldDef>& ClientFields();
const std::vector<host::wire::FieldDef>& BranchFields();

}  // namespace server::test
