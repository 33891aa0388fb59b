#include "ServerTestSupport.h"

#include <thread>
#include <gtest/gtest.h>
#include <simdjson.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "host/wire/ServiceName.h"
#include "server/store/PgConnection.h"
#include "server/store/SqliteDatabase.h"

namespace server::test {

void WritePrivateFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::replace);
}

std::string StoreName(StoreKind kind) { return kind == StoreKind::Sqlite ? "Sqlite" : "Postgres"; }

std::optional<std::string> PgTestUri() {
  const char* uri = std::getenv("PDI_TEST_PG_URI");
  if (!uri || !*uri) return std::nullopt;
  return std::string(uri);
}

std::string PgSkipReason() {
  return "PostgreSQL variant skipped: PDI_TEST_PG_URI is not set (scripts/test.sh starts a throwaway "
         "PostgreSQL and sets it; or set it to postgresql://USER@HOST:PORT/DATABASE of a database the tests "
         "may create schemas in)";
}

TestDatabase::TestDatabase(StoreKind kind, const TempDir& dir, const std::string& name) : kind_(kind) {
  if (kind == StoreKind::Sqlite) {
    location_ = dir.File(name + ".db");
    return;
  }
  static std::atomic<int> counter{0};
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  schema_ = "pdi_test_" + std::to_string(getpid()) + "_" + std::to_string(counter++) + "_" +
            std::to_string(static_cast<unsigned long long>(now) % 1000000);
  const std::string base = PgTestUri().value();
  PgConnection(base).Exec("CREATE SCHEMA " + schema_);
  // The schema's name also names the connections, so a test can find the server's own.
  location_ = base + (base.find('?') == std::string::npos ? "?" : "&") + "options=-csearch_path%3D" + schema_ +
              "&application_name=" + schema_;
}

TestDatabase::~TestDatabase() {
  if (schema_.empty()) return;
  try {
    PgConnection(PgTestUri().value()).Exec("DROP SCHEMA " + schema_ + " CASCADE");
  } catch (const std::exception& e) {
    ADD_FAILURE() << "cannot drop the test schema " << schema_ << ": " << e.what();
  }
}

std::vector<std::string> TestDatabase::Rows(const std::string& sql) const {
  std::vector<std::string> rows;
  if (kind_ == StoreKind::Sqlite) {
    SqliteDatabase db(location_, SqliteDatabase::Mode::ReadOnly);
    SqliteStatement s = db.Prepare(sql);
    while (s.Step()) {
      std::string line;
      for (int i = 0; i < s.ColumnCount(); ++i) line += (i ? "|" : "") + std::string(s.Text(i));
      rows.push_back(line);
    }
    return rows;
  }
  PgConnection db(location_);
  const PgResult r = db.Query(sql);
  for (int row = 0; row < r.Rows(); ++row) {
    std::string line;
    for (int i = 0; i < r.Columns(); ++i) line += (i ? "|" : "") + std::string(r.Text(row, i));
    rows.push_back(line);
  }
  return rows;
}

std::string TestDatabase::One(const std::string& sql) const {
  const auto rows = Rows(sql);
  return rows.empty() ? "" : rows[0];
}

CommandResult RunServerCommand(const std::vector<std::string>& args, const std::string& input) {
  std::vector<std::string> argv = {ServerBinary()};
  argv.insert(argv.end(), args.begin(), args.end());
  return testsupport::RunProgram(argv, std::chrono::seconds(60), input);
}

CommandResult RunProgram(const std::string& program, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {program};
  argv.insert(argv.end(), args.begin(), args.end());
  return testsupport::RunProgram(argv, std::chrono::seconds(60));
}

namespace {

Packet ToPacket(simdjson::dom::element element) {
  Packet packet;
  simdjson::dom::object object;
  if (element.get(object) != simdjson::SUCCESS) {
    ADD_FAILURE() << "not a data packet: " << simdjson::to_string(element);
    return packet;
  }
  for (simdjson::dom::element field : object["fields"].get_array()) {
    packet.names.emplace_back(std::string_view(field["name"].get_string()));
    packet.sizes.push_back(static_cast<int>(int64_t(field["size"].get_int64())));
  }
  for (simdjson::dom::element row : object["rows"].get_array()) {
    std::vector<std::string> values;
    for (simdjson::dom::element value : row.get_array()) values.emplace_back(std::string_view(value.get_string()));
    EXPECT_EQ(values.size(), packet.names.size());
    packet.rows.push_back(std::move(values));
  }
  return packet;
}

}  // namespace

Packet ReadPacket(const std::string& json) {
  simdjson::dom::parser parser;
  simdjson::dom::element element;
  if (parser.parse(json).get(element) != simdjson::SUCCESS) {
    ADD_FAILURE() << "not JSON: " << json.substr(0, 200);
    return {};
  }
  return ToPacket(element);
}

std::vector<Packet> ReadPackets(const std::string& json) {
  simdjson::dom::parser parser;
  simdjson::dom::array array;
  std::vector<Packet> packets;
  if (parser.parse(json).get(array) != simdjson::SUCCESS) {
    ADD_FAILURE() << "not a JSON array: " << json.substr(0, 200);
    return packets;
  }
  for (simdjson::dom::element e : array) packets.push_back(ToPacket(e));
  return packets;
}

RpcClient::RpcClient(int port) : http_("127.0.0.1", port) {
  http_.set_read_timeout(120, 0);
  http_.set_tcp_nodelay(true);
}

Answer RpcClient::Call(const std::string& method, const std::vector<host::wire::JsonRpcParam>& params) {
  return Post(host::wire::JsonRpcRequest::Write(nextId_++, method, params));
}

Answer RpcClient::Post(const std::string& body) {
  return Read(http_.Post(std::string(host::wire::kServicePath), body, "application/json"));
}

Answer RpcClient::CallRetryingBusy(const std::string& method, const std::vector<host::wire::JsonRpcParam>& params) {
  const std::string body = host::wire::JsonRpcRequest::Write(nextId_++, method, params);
  for (int attempt = 1;; ++attempt) {
    auto res = http_.Post(std::string(host::wire::kServicePath), body, "application/json");
    if (!res || res->status != 503 || attempt == 50) return Read(res);
    std::this_thread::sleep_for(std::chrono::milliseconds(20 * std::min(attempt, 10)));
  }
}

Answer RpcClient::CallThroughProxy(const std::string& method, const std::vector<host::wire::JsonRpcParam>& params) {
  const auto res =
      http_.Post(std::string(host::wire::kServicePath), host::wire::JsonRpcRequest::Write(nextId_++, method, params),
                 "application/json");
  if (res && res->status != 200) {
    Answer answer;
    answer.httpStatus = res->status;
    answer.body = res->body;
    return answer;
  }
  return Read(res);
}

Answer RpcClient::Read(const httplib::Result& res) {
  Answer answer;
  if (!res) return answer;
  answer.httpStatus = res->status;
  answer.body = res->body;
  answer.chunked = res->get_header_value("Transfer-Encoding") == "chunked";
  simdjson::dom::parser parser;
  simdjson::dom::object object;
  if (parser.parse(answer.body).get(object) != simdjson::SUCCESS) {
    ADD_FAILURE() << "response is not a JSON object: " << answer.body.substr(0, 200);
    return answer;
  }
  simdjson::dom::object error;
  if (object["error"].get(error) == simdjson::SUCCESS) {
    answer.isError = true;
    answer.errorCode = static_cast<int>(int64_t(error["code"].get_int64()));
    answer.errorMessage = std::string(std::string_view(error["message"].get_string()));
    return answer;
  }
  simdjson::dom::object result;
  if (object["result"].get(result) != simdjson::SUCCESS) {
    ADD_FAILURE() << "response has neither result nor error: " << answer.body.substr(0, 200);
    return answer;
  }
  answer.ok = bool(result["ok"].get_bool());
  if (answer.ok) {
    answer.dataJson = simdjson::to_string(result["data"]);
  } else {
    answer.refusal = std::string(std::string_view(result["error"].get_string()));
  }
  return answer;
}

host::wire::JsonRpcParam Changes(const std::vector<host::wire::FieldDef>& fields,
                                 const std::vector<std::pair<host::wire::ChangeOp, std::vector<std::string>>>& changes) {
  std::string json;
  host::wire::PacketWriter writer(json);
  writer.BeginChanges(fields);
  for (const auto& [op, row] : changes) {
    std::vector<std::string_view> values(row.begin(), row.end());
    writer.Change(op, values);
  }
  writer.End();
  return host::wire::JsonRpcParam::Object(json);
}

const std::vector<host::wire::FieldDef>& ProductFields() {
  static const std::vector<host::wire::FieldDef> f = {{"CDARVPROD", 20}, {"CDPRODUTO", 10}, {"NMPRODUTO", 50}};
  return f;
}
const std::vector<host::wire::FieldDef>& SupplierFields() {
  static const std::vector<host::wire::FieldDef> f = {{"CDPRODUTODES", 10}, {"CDFORNECEDDES", 20},
                                                      {"NMRAZSOCFORN", 40}, {"IDTPIJURFORN", 1},
                                                      {"CDFORNECED", 21},   {"NRINSJURFORN", 20}};
  return f;
}
const std::vector<host::wire::FieldDef>& ClientFields() {
  static const std::vector<host::wire::FieldDef> f = {{"CDPRODUTODES", 10}, {"CDCLIENTEDES", 20},
                                                      {"CDCLIENTE", 21},    {"NRINSJURCLIE", 20},
                                                      {"NMRAZSOCCLIE", 50}, {"IDTPIJURCLIE", 1}};
  return f;
}
const std::vector<host::wire::FieldDef>& BranchFields() {
  static const std::vector<host::wire::FieldDef> f = {{"CDPRODUTODES", 10}, {"CDFILIALDES", 4}, {"NMFILIAL", 30}};
  return f;
}

}  // namespace server::test
