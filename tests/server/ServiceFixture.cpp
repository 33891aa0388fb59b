#include "ServiceFixture.h"

#include "server/store/SqliteDatabase.h"

namespace server::test {

void WriteMasterFile(const std::string& path) {
  SqliteDatabase db(path, SqliteDatabase::Mode::CreatePlain);
  db.Exec(R"SQL(
    CREATE TABLE PRODUTO (CDPRODUTO TEXT, CDARVPROD TEXT, NMPRODUTO TEXT);
    INSERT INTO PRODUTO VALUES ('P1', '100', 'Arroz agulhinha'), ('P''2', '200', 'Feijão carioca'),
                               ('P3', '200', 'Açúcar cristal'), ('P4', '050', 'Café torrado');
    CREATE TABLE FORNECEDOR (NRINSJURFORN TEXT, NMRAZSOCFORN TEXT, IDTPIJURFORN TEXT, CDFORNECED TEXT);
    INSERT INTO FORNECEDOR VALUES ('12345678000195', 'Açougue Boi Gordo Ltda.', 'J', 'F1'),
                                  ('52998224725', 'José da Silva', 'F', 'F2'),
                                  ('11222333000181', 'Zeta Comércio S.A.', 'J', 'F3');
    CREATE TABLE CLIENTE (NRINSJURCLIE TEXT, NMRAZSOCCLIE TEXT, IDTPIJURCLIE TEXT, CDCLIENTE TEXT);
    INSERT INTO CLIENTE VALUES ('52998224725', 'José da Silva', 'F', 'C1'),
                               ('11222333000181', 'Zeta Comércio S.A.', 'J', 'C2');
    CREATE TABLE FILIAL (CDFILIAL TEXT, NMFILIAL TEXT);
    INSERT INTO FILIAL VALUES ('0001', 'Matriz'), ('SP01', 'Filial São Paulo'), ('MATRIZ01', 'Sede');
  )SQL");
}


std::string ProductKey(int i) { return "Q" + std::to_string(1000 + i); }
std::string SupplierKey(int i) { return "S" + std::to_string(1000 + i); }

void WriteGridMasterFile(const std::string& path) {
  SqliteDatabase db(path, SqliteDatabase::Mode::CreatePlain);
  db.Exec(
      "CREATE TABLE PRODUTO (CDPRODUTO TEXT, CDARVPROD TEXT, NMPRODUTO TEXT);"
      "CREATE TABLE FORNECEDOR (NRINSJURFORN TEXT, NMRAZSOCFORN TEXT, IDTPIJURFORN TEXT, CDFORNECED TEXT);"
      "CREATE TABLE CLIENTE (NRINSJURCLIE TEXT, NMRAZSOCCLIE TEXT, IDTPIJURCLIE TEXT, CDCLIENTE TEXT);"
      "CREATE TABLE FILIAL (CDFILIAL TEXT, NMFILIAL TEXT);");
  db.Exec("BEGIN");
  SqliteStatement product = db.Prepare("INSERT INTO PRODUTO VALUES (?1, ?2, ?3)");
  for (int i = 0; i < kProducts; ++i) {
    product.Bind(1, ProductKey(i)).Bind(2, std::to_string(5000 + i)).Bind(3, "Produto " + std::to_string(i));
    product.Run();
  }
  SqliteStatement supplier = db.Prepare("INSERT INTO FORNECEDOR VALUES (?1, ?2, 'J', ?3)");
  for (int i = 0; i < kSuppliers; ++i) {
    supplier.Bind(1, std::to_string(10000000000000LL + i)).Bind(2, "Fornecedor " + std::to_string(i)).Bind(3, SupplierKey(i));
    supplier.Run();
  }
  db.Exec("COMMIT");
}

std::vector<std::string> GridRow(int n) {
  return {ProductKey(n / kSuppliers), "", "", "", SupplierKey(n % kSuppliers), ""};
}

void ServiceFixture::SetUp() {
  PDI_SKIP_UNLESS_STORE(GetParam());
  database_ = std::make_unique<TestDatabase>(GetParam(), dir_);
  db_ = database_->Location();
  WriteMasterFile(dir_.File("master.db"));
  const CommandResult imported = RunServerCommand({"import-master", "--db", db_, dir_.File("master.db")});
  ASSERT_EQ(imported.status, 0) << imported.output;
  process_ = std::make_unique<ServerProcess>(ServerBinary(), db_, ExtraArgs());
  rpc_ = std::make_unique<RpcClient>(process_->Port());
}

void ServiceFixture::TearDown() {
  rpc_.reset();
  if (process_) {
    EXPECT_EQ(process_->Stop(), 0) << process_->Log();
  }
}

void ServiceFixture::Save(const std::string& method, const std::vector<host::wire::FieldDef>& fields,
                          const std::vector<Change>& changes) {
  const Answer a = rpc_->Call(method, {Changes(fields, changes)});
  ASSERT_FALSE(a.isError) << a.errorMessage;
  ASSERT_TRUE(a.ok) << a.refusal;
}

std::string ServiceFixture::Refused(const std::string& method, const std::vector<host::wire::FieldDef>& fields,
                                    const std::vector<Change>& changes) {
  const Answer a = rpc_->Call(method, {Changes(fields, changes)});
  EXPECT_FALSE(a.isError) << a.errorMessage;
  EXPECT_FALSE(a.ok) << "accepted: " << a.body;
  return a.refusal;
}

Packet ServiceFixture::Load(const std::string& method) {
  const Answer a = rpc_->Call(method);
  EXPECT_TRUE(a.ok) << a.body.substr(0, 300);
  return ReadPacket(a.dataJson);
}

bool ServiceFixture::Stored(const std::string& method, const std::string& product, const std::string& item) {
  const Answer a =
      rpc_->Call(method, {host::wire::JsonRpcParam::Text(product), host::wire::JsonRpcParam::Text(item)});
  EXPECT_TRUE(a.ok) << a.body;
  const Packet p = ReadPacket(a.dataJson);
  return !p.rows.empty();
}

CommandResult ServiceFixture::Audit(const std::vector<std::string>& args) {
  std::vector<std::string> all = {"audit", "--db", db_};
  all.insert(all.end(), args.begin(), args.end());
  return RunServerCommand(all);
}

std::string ServiceFixture::Lines(const Packet& p) {
  std::string out;
  for (const auto& row : p.rows) {
    for (size_t i = 0; i < row.size(); ++i) out += (i ? "|" : "") + row[i];
    out += "\n";
  }
  return out;
}

}  // namespace server::test
