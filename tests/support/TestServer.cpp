#include "tests/support/TestServer.h"

#include <sqlite3.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include <httplib.h>

#include "host/wire/ServiceName.h"
#include "tests/support/Programs.h"

namespace testsupport {

namespace {

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

void Exec(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::string message = error != nullptr ? error : "?";
    sqlite3_free(error);
    throw std::runtime_error("sqlite: " + message);
  }
}

void Insert(sqlite3* db, const std::string& sql, const std::vector<std::string>& values) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    throw std::runtime_error(std::string("sqlite prepare: ") + sqlite3_errmsg(db));
  }
  for (std::size_t i = 0; i < values.size(); ++i) {
    sqlite3_bind_text(stmt, static_cast<int>(i + 1), values[i].c_str(), -1, SQLITE_TRANSIENT);
  }
  const int rc = sqlite3_step(stmt);
  sqlite3_finalize(stmt);
  if (rc != SQLITE_DONE) throw std::runtime_error(std::string("sqlite insert: ") + sqlite3_errmsg(db));
}

}  // namespace

MasterData SampleMasterData() {
  MasterData d;
  d.products = {
      {"100", "1001", "Arroz Agulhinha Tipo 1"},
      {"200", "1002", "Feijão Carioca"},
      {"O'1", "1003", "Óleo de Soja"},
      {"310", "1004", "Açúcar Cristal (lote A)"},
      {"300", "1004", "Açúcar Cristal"},
      {"400", "1005", "Café Torrado e Moído"},
      {"500", "1006", "Leite Longa Vida"},
  };
  d.suppliers = {
      {"11222333000181", "Distribuidora São João Ltda", "J", "F001"},
      {"45723174000110", "Comércio de Alimentos Paraná S.A.", "J", "F002"},
      {"52998224725", "José da Silva Araújo", "F", "F003"},
  };
  d.clients = {
      {"60701190000104", "Supermercados Irmãos Conceição", "J", "C001"},
      {"39053344705", "Maria Aparecida Gonçalves", "F", "C002"},
  };
  d.branches = {{"SP01", "São Paulo - Matriz"}, {"RJ02", "Rio de Janeiro"}, {"MG003", "Belo Horizonte"}};
  return d;
}

void WriteLocalDatabase(const std::filesystem::path& path, const MasterData& data) {
  std::filesystem::remove(path);
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) throw std::runtime_error("cannot create " + path.string());
  try {
    Exec(db,
         "CREATE TABLE PRODUTO (CDPRODUTO TEXT, CDARVPROD TEXT, NMPRODUTO TEXT);"
         "CREATE TABLE FORNECEDOR (NRINSJURFORN TEXT, NMRAZSOCFORN TEXT, IDTPIJURFORN TEXT, CDFORNECED TEXT);"
         "CREATE TABLE CLIENTE (NRINSJURCLIE TEXT, NMRAZSOCCLIE TEXT, IDTPIJURCLIE TEXT, CDCLIENTE TEXT);"
         "CREATE TABLE FILIAL (CDFILIAL TEXT, NMFILIAL TEXT);");
    for (const auto& p : data.products) Insert(db, "INSERT INTO PRODUTO VALUES (?,?,?)", {p.key, p.code, p.name});
    for (const auto& s : data.suppliers) {
      Insert(db, "INSERT INTO FORNECEDOR VALUES (?,?,?,?)", {s.number, s.name, s.personType, s.key});
    }
    for (const auto& c : data.clients) {
      Insert(db, "INSERT INTO CLIENTE VALUES (?,?,?,?)", {c.number, c.name, c.personType, c.key});
    }
    for (const auto& b : data.branches) Insert(db, "INSERT INTO FILIAL VALUES (?,?)", {b.code, b.name});
  } catch (...) {
    sqlite3_close(db);
    throw;
  }
  sqlite3_close(db);
}

void TestServer::MakeFolder() {
  dir_ = std::make_unique<TempDir>("pdi07310-test");
  if (std::getenv("PDI_KEEP_TEST_SERVER") != nullptr) dir_->Keep();
  localDb_ = dir_->Path() / "local.db";
  serverDb_ = dir_->Path() / "server.db";
  if (db_.empty()) db_ = serverDb_.string();
  log_ = dir_->Path() / "server.log";
}

void TestServer::RunServer(const std::vector<std::string>& args, const std::string& logName) const {
  std::vector<std::string> argv = {ServerBinary()};
  argv.insert(argv.end(), args.begin(), args.end());
  // The demo of a benchmark writes millions of rows; a test's takes a second.
  const ProgramResult result = RunProgram(argv, std::chrono::minutes(30));
  const auto logFile = dir_->Path() / logName;
  std::ofstream(logFile, std::ios::binary) << result.output;
  if (result.status != 0) throw std::runtime_error(args.front() + " failed; see " + logFile.string());
}

TestServer::TestServer(Demo demo) : sync_(demo.sync) {
  MakeFolder();
  RunServer({"demo", "--db", db_, "--local", localDb_.string(), "--products",
             std::to_string(demo.products), "--rows-per-product", std::to_string(demo.rowsPerProduct)},
            "demo.log");
  Start();
}

TestServer::TestServer(const MasterData& data) : TestServer(data, std::string()) {}

TestServer::TestServer(const MasterData& data, std::string database) : db_(std::move(database)) {
  MakeFolder();
  WriteLocalDatabase(localDb_, data);
  ImportMaster();
  Start();
}

void TestServer::ImportMaster() const {
  RunServer({"import-master", "--db", db_, localDb_.string()}, "import.log");
}

TestServer::~TestServer() { Stop(); }

void TestServer::RestartWith(std::vector<std::string> serveOptions) {
  serveOptions_ = std::move(serveOptions);
  Restart();
}

void TestServer::Start() {
  std::vector<std::string> options = {"--sync", sync_};
  options.insert(options.end(), serveOptions_.begin(), serveOptions_.end());
  try {
    process_ = std::make_unique<ServerProcess>(ServerBinary(), db_, options, std::chrono::seconds(20));
  } catch (const std::exception& e) {
    std::ofstream(log_, std::ios::binary | std::ios::app) << e.what();
    throw;
  }
  port_ = process_->Port();
}

void TestServer::Stop() {
  if (!process_) return;
  process_->Stop(std::chrono::seconds(5));
  // The server's log stays with the test's files (PDI_KEEP_TEST_SERVER keeps them).
  std::ofstream(log_, std::ios::binary | std::ios::app) << process_->Log();
  process_.reset();
}

void TestServer::Restart() {
  Stop();
  Start();
}

std::string TestServer::CallRaw(const std::string& method, const std::string& paramsJson) const {
  httplib::Client client("127.0.0.1", port_);
  client.set_read_timeout(60, 0);
  const std::string body =
      R"({"jsonrpc":"2.0","id":1,"method":)" + JsonString(method) + R"(,"params":)" + paramsJson + "}";
  auto res = client.Post(std::string(host::wire::kServicePath), body, "application/json");
  if (!res) throw std::runtime_error("call " + method + " failed: " + httplib::to_string(res.error()));
  return res->body;
}

namespace {
void ExpectOk(const std::string& response, const std::string& what) {
  if (response.find("\"ok\":true") == std::string::npos) {
    throw std::runtime_error(what + " refused: " + response);
  }
}
}  // namespace

void SeedSample(const TestServer& server) {
  const auto d = SampleMasterData();
  server.AddSupplier("100", d.suppliers[0]);
  server.AddSupplier("100", d.suppliers[2]);
  server.AddClient("100", d.clients[0]);
  server.AddBranch("100", d.branches[0]);
  server.AddSupplier("200", d.suppliers[1]);
  server.AddBranch("O'1", d.branches[1]);
}

void TestServer::AddSupplier(const std::string& productKey, const Party& s) const {
  const std::string packet =
      R"({"fields":[{"name":"CDPRODUTODES","size":10},{"name":"CDFORNECEDDES","size":20},)"
      R"({"name":"NMRAZSOCFORN","size":40},{"name":"IDTPIJURFORN","size":1},{"name":"CDFORNECED","size":21},)"
      R"({"name":"NRINSJURFORN","size":20}],"changes":[{"op":"insert","row":[)" +
      JsonString(productKey) + "," + JsonString(s.number) + "," + JsonString("") + "," + JsonString("") + "," +
      JsonString(s.key) + "," + JsonString(s.number) + "]}]}";
  ExpectOk(CallRaw("SetFornecedor", "[" + packet + "]"), "SetFornecedor");
}

void TestServer::AddClient(const std::string& productKey, const Party& c) const {
  const std::string packet =
      R"({"fields":[{"name":"CDPRODUTODES","size":10},{"name":"CDCLIENTEDES","size":20},)"
      R"({"name":"CDCLIENTE","size":21},{"name":"NRINSJURCLIE","size":20},{"name":"NMRAZSOCCLIE","size":50},)"
      R"({"name":"IDTPIJURCLIE","size":1}],"changes":[{"op":"insert","row":[)" +
      JsonString(productKey) + "," + JsonString(c.number) + "," + JsonString(c.key) + "," + JsonString(c.number) +
      "," + JsonString("") + "," + JsonString("") + "]}]}";
  ExpectOk(CallRaw("SetCliente", "[" + packet + "]"), "SetCliente");
}

void TestServer::AddBranch(const std::string& productKey, const Branch& b) const {
  const std::string packet =
      R"({"fields":[{"name":"CDPRODUTODES","size":10},{"name":"CDFILIALDES","size":4},)"
      R"({"name":"NMFILIAL","size":30}],"changes":[{"op":"insert","row":[)" +
      JsonString(productKey) + "," + JsonString(b.code) + "," + JsonString("") + "]}]}";
  ExpectOk(CallRaw("SetFilial", "[" + packet + "]"), "SetFilial");
}

}  // namespace testsupport
