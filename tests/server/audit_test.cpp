// The audit trail, on each store: every applied change packet is recorded with its time, method,
// client address and changes (with the stored rows each added or removed); refused packets leave
// no record; the audit command filters by product and by time.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "ServiceFixture.h"
#include "server/service/AuditTime.h"

namespace server::test {
namespace {

using host::wire::ChangeOp;

class AuditTest : public ServiceFixture {
 protected:
  // The audit listing's lines, with each packet line's time and client port blanked out, so a
  // test compares the rest exactly.
  std::string Listing(const std::vector<std::string>& args = {}) {
    const CommandResult r = Audit(args);
    EXPECT_EQ(r.status, 0) << r.output;
    std::string out;
    size_t start = 0;
    while (start < r.output.size()) {
      size_t end = r.output.find('\n', start);
      if (end == std::string::npos) end = r.output.size();
      std::string line = r.output.substr(start, end - start);
      start = end + 1;
      // The count the command ends with (on stderr) is not part of the listing.
      if (line.find(" packet") != std::string::npos && line.find_first_not_of("0123456789") == line.find(' ')) {
        EXPECT_TRUE(line.ends_with(" packet") || line.ends_with(" packets")) << line;
        continue;
      }
      if (line.size() > 24 && line[4] == '-' && line[23] == 'Z') {
        EXPECT_EQ(AuditTime::Parse(line.substr(0, 24)), line.substr(0, 24));
        line.replace(0, 24, "TIME");
        const size_t client = line.find("client 127.0.0.1:");
        EXPECT_NE(client, std::string::npos) << line;
        if (client != std::string::npos) {
          const size_t port = client + 17;
          line.replace(port, line.find_first_not_of("0123456789", port) - port, "PORT");
        }
      }
      out += line + "\n";
    }
    return out;
  }
};

INSTANTIATE_TEST_SUITE_P(Stores, AuditTest, ::testing::Values(StoreKind::Sqlite, StoreKind::Postgres),
                         StoreParamName());

TEST_P(AuditTest, AppliedPacketsAreRecordedWithTheirChangesAndRefusedOnesAreNot) {
  Save("SetFornecedor", SupplierFields(),
       {{ChangeOp::Insert, SupplierRow("P1", "F1", "12345678000195")}, {ChangeOp::Insert, SupplierRow("P1", "F2")}});
  Refused("SetFornecedor", SupplierFields(), {{ChangeOp::Insert, SupplierRow("P3", "F3")}, {ChangeOp::Insert, SupplierRow("P1", "F1")}});
  Save("SetFilial", BranchFields(), {{ChangeOp::Insert, BranchRow("P1", "0001")}, {ChangeOp::Delete, BranchRow("P4", "SP01")}});
  Save("SetCliente", ClientFields(), {{ChangeOp::Insert, ClientRow("P'2", "C1")}});
  Save("SetProduto", ProductFields(), {{ChangeOp::Delete, {"100", "P1", "Arroz agulhinha"}}});
  Save("SetCliente", ClientFields(), {});

  EXPECT_EQ(Listing(),
            "TIME  packet 1  SetFornecedor  client 127.0.0.1:PORT\n"
            "  insert  product P1  item F1  code 12345678000195  (1 row)\n"
            "  insert  product P1  item F2  code 52998224725  (1 row)\n"
            "TIME  packet 2  SetFilial  client 127.0.0.1:PORT\n"
            "  insert  product P1  item 0001  (1 row)\n"
            "TIME  packet 3  SetCliente  client 127.0.0.1:PORT\n"
            "  insert  product P'2  item C1  code 52998224725  (1 row)\n"
            "TIME  packet 4  SetProduto  client 127.0.0.1:PORT\n"
            "  delete  product P1  (3 rows)\n");
}

// Deleting a pair no longer stored is not an error, but it changed nothing: such changes, and a
// packet made only of them, leave no record (a flood of them cannot grow the trail).
TEST_P(AuditTest, ChangesThatStoredNothingAreNotRecorded) {
  Save("SetFornecedor", SupplierFields(),
       {{ChangeOp::Delete, SupplierRow("P1", "F1")}, {ChangeOp::Delete, SupplierRow("P3", "F2")}});
  Save("SetProduto", ProductFields(), {{ChangeOp::Insert, {"100", "P1", "Arroz agulhinha"}}});
  Save("SetProduto", ProductFields(), {{ChangeOp::Delete, {"100", "P1", "Arroz agulhinha"}}});
  EXPECT_EQ(Listing(), "");

  Save("SetFornecedor", SupplierFields(),
       {{ChangeOp::Delete, SupplierRow("P1", "F1")}, {ChangeOp::Insert, SupplierRow("P1", "F1")},
        {ChangeOp::Delete, SupplierRow("P1", "F2")}, {ChangeOp::Delete, SupplierRow("P1", "F1")}});
  EXPECT_EQ(Listing(),
            "TIME  packet 1  SetFornecedor  client 127.0.0.1:PORT\n"
            "  insert  product P1  item F1  code 12345678000195  (1 row)\n"
            "  delete  product P1  item F1  (1 row)\n");
}

TEST_P(AuditTest, ListingFiltersByProductAndByTime) {
  Save("SetFilial", BranchFields(), {{ChangeOp::Insert, BranchRow("P1", "0001")}, {ChangeOp::Insert, BranchRow("P3", "0001")}});
  // Times are kept to the millisecond: make sure the two packets do not share one.
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  Save("SetFilial", BranchFields(), {{ChangeOp::Insert, BranchRow("P4", "0001")}});

  EXPECT_EQ(Listing({"--product", "P3"}),
            "TIME  packet 1  SetFilial  client 127.0.0.1:PORT\n"
            "  insert  product P3  item 0001  (1 row)\n");
  EXPECT_EQ(Listing({"--product", "P'2"}), "");
  EXPECT_EQ(Listing({"--since", "2000-01-01"}), Listing());
  EXPECT_EQ(Listing({"--since", "2999-12-31T23:59:59-03:00"}), "");

  // --since takes the time of a packet itself, so exactly the later packets show.
  const CommandResult all = Audit();
  const size_t second = all.output.find("  packet 2");
  ASSERT_NE(second, std::string::npos) << all.output;
  const std::string time = all.output.substr(all.output.rfind('\n', second) + 1, 24);
  EXPECT_EQ(Listing({"--since", time}),
            "TIME  packet 2  SetFilial  client 127.0.0.1:PORT\n"
            "  insert  product P4  item 0001  (1 row)\n");
}

}  // namespace
}  // namespace server::test
