// Pasting a list of codes into a related grid: every code goes through the screen's own path
// (insert, typing with the key filter, column exit, post, save, reload); refusals of every kind
// are collected instead of shown and leave the list browsing; the run stops between rows when
// asked, and where the server went down, keeping what was stored; a list past the cap is refused
// whole.
#include <algorithm>

#include "host/services/CollectingHost.h"
#include "host/tools/ListPaste.h"
#include "tests/screen/ScreenFixture.h"

namespace pdi07310 {
namespace {

using host::ListPaste;
using host::TDataSetState;

// A valid CNPJ from its first twelve digits.
std::string Cnpj(const std::string& twelve) {
  std::string n = twelve;
  for (int round = 0; round < 2; ++round) {
    const int len = static_cast<int>(n.size());
    int sum = 0;
    for (int i = 0; i < len; ++i) sum += (n[len - 1 - i] - '0') * (2 + i % 8);
    const int digit = sum % 11 < 2 ? 0 : 11 - sum % 11;
    n += static_cast<char>('0' + digit);
  }
  return n;
}

constexpr int kNewSuppliers = 300;

std::string NewSupplierNumber(int i) {
  std::string twelve = std::to_string(10000000 + i) + "0001";
  return Cnpj(twelve);
}

class ListPasteTest : public ScreenTest {
 protected:
  // The sample data plus kNewSuppliers suppliers no product has yet, and one supplier that only
  // the local database knows (the server refuses it at save time).
  static testsupport::MasterData Data(bool localOnly) {
    auto data = testsupport::SampleMasterData();
    for (int i = 0; i < kNewSuppliers; ++i) {
      data.suppliers.push_back({NewSupplierNumber(i), "Fornecedor " + std::to_string(i), "J", "N" + std::to_string(i)});
    }
    if (localOnly) data.suppliers.push_back({"27865757000102", "Atacadão Nordeste Ltda", "J", "F009"});
    return data;
  }
  void Seed(testsupport::TestServer& server) override {
    // The server's masters come from its local database: rewrite both with the larger data.
    testsupport::WriteLocalDatabase(server.LocalDatabase(), Data(false));
    server.ImportMaster();
    testsupport::SeedSample(server);
  }
  TfrmProdDesoneraImpos& OpenOnSuppliers() {
    TfrmProdDesoneraImpos& s = Open();
    s.pgcGrade->SetActivePage(s.tshFornecedor);
    s.dbgFornecedor->SetFocus();
    host_.ClearLog();
    calls_.clear();
    return s;
  }
  std::vector<std::string> StoredSuppliers(const std::string& product) {
    const std::string body = server_->CallRaw("getFornecedor", "[]");
    std::vector<std::string> keys;
    // Rows are ["CDPRODUTODES", "CDFORNECEDDES", name, type, "CDFORNECED", number].
    size_t at = 0;
    const std::string prefix = "[\"" + product + "\",";
    while ((at = body.find(prefix, at)) != std::string::npos) {
      keys.push_back(body.substr(at, body.find(']', at) - at));
      at += prefix.size();
    }
    return keys;
  }
};

TEST_F(ListPasteTest, SplittingTakesOneCodePerLineAsSpreadsheetsPasteThem) {
  EXPECT_EQ(ListPaste::SplitCodes("  12.345.678/0001-95 \r\n\r\n\"RJ02\"\nSP01\tSão Paulo\r  \n\t\nlast"),
            (std::vector<std::string>{"12.345.678/0001-95", "RJ02", "SP01", "last"}));
  EXPECT_TRUE(ListPaste::SplitCodes("\n\r\n  \t ").empty());
  EXPECT_EQ(ListPaste::SplitCodes("one"), std::vector<std::string>{"one"});
}

TEST_F(ListPasteTest, HundredsOfCodesWithEveryKindOfRefusalMixedIn) {
  TfrmProdDesoneraImpos& s = OpenOnSuppliers();
  std::string text;
  std::vector<std::string> refusedCodes;
  for (int i = 0; i < kNewSuppliers; ++i) {
    const std::string n = NewSupplierNumber(i);
    // Every third one masked as a spreadsheet shows it, every fifth in a row of two cells.
    std::string shown = i % 3 == 0 ? n.substr(0, 2) + "." + n.substr(2, 3) + "." + n.substr(5, 3) + "/" +
                                         n.substr(8, 4) + "-" + n.substr(12)
                                   : n;
    if (i % 5 == 0) shown += "\tFornecedor " + std::to_string(i);
    text += shown + (i % 7 == 0 ? "\r\n\r\n" : "\n");
    if (i % 50 == 10) {
      text += "99999999000199\n";  // not registered
      text += "11222333000181\n";  // already related to the product
      text += n + "\n";            // pasted twice: already related by now
      text += "abc\n";             // nothing a supplier code can hold: empty after the key filter
      refusedCodes.insert(refusedCodes.end(), {"99999999000199", "11222333000181", n, "abc"});
    }
  }
  host_.ClearLog();
  int progressCalls = 0;
  const host::PasteSummary summary =
      ListPaste(*s.dbgFornecedor).Run(ListPaste::SplitCodes(text), [&](int done, int total) {
        EXPECT_EQ(done, progressCalls++);
        EXPECT_EQ(total, kNewSuppliers + static_cast<int>(refusedCodes.size()));
        return true;
      });

  EXPECT_FALSE(summary.stopped) << summary.stopReason;
  EXPECT_EQ(summary.stored, kNewSuppliers);
  EXPECT_EQ(summary.refused, static_cast<int>(refusedCodes.size()));
  EXPECT_EQ(summary.Line(), std::to_string(kNewSuppliers) + " stored, " + std::to_string(refusedCodes.size()) + " refused");
  std::vector<std::string> refused;
  for (const host::PasteLine& line : summary.lines) {
    if (line.stored) continue;
    refused.push_back(line.code);
    if (line.code == "99999999000199") {
      EXPECT_EQ(line.message, "Fornecedor não cadastrado.");
    } else if (line.code == "abc") {
      EXPECT_EQ(line.message, "Fornecedor deve ser informado.");
    } else {
      EXPECT_EQ(line.message, "Fornecedor já cadastrado para o produto.") << line.code;
    }
  }
  EXPECT_EQ(refused, refusedCodes);
  // Nothing was shown while it ran, the list ends browsing, and every stored row is at the
  // server and in the list.
  EXPECT_TRUE(LogLines("message:").empty());
  EXPECT_TRUE(LogLines("question:").empty());
  EXPECT_EQ(&host::Services(), &host_);
  EXPECT_EQ(s.cdsFornecedor->State(), TDataSetState::dsBrowse);
  EXPECT_EQ(s.cdsFornecedor->ChangeCount(), 0);
  EXPECT_EQ(s.cdsFornecedor->RecordCount(), kNewSuppliers + 2);
  EXPECT_EQ(StoredSuppliers("100").size(), static_cast<size_t>(kNewSuppliers + 2));
  EXPECT_FALSE(host_.BusyShown());
  // The same path as typing: a check at the column exit and at the post, a save, a reload.
  EXPECT_EQ(std::count(calls_.begin(), calls_.end(), "SetFornecedor"), kNewSuppliers);
}

TEST_F(ListPasteTest, StoppingBetweenRowsAndTheServerGoingDownKeepWhatWasStored) {
  TfrmProdDesoneraImpos& s = OpenOnSuppliers();
  std::vector<std::string> codes;
  for (int i = 0; i < 10; ++i) codes.push_back(NewSupplierNumber(i));

  const host::PasteSummary stopped = ListPaste(*s.dbgFornecedor).Run(codes, [](int done, int) { return done < 3; });
  EXPECT_TRUE(stopped.stopped);
  EXPECT_EQ(stopped.stored, 3);
  EXPECT_EQ(stopped.Line(), "3 stored, 0 refused, stopped before code 4 of 10: interrompido pelo usuário");

  const std::vector<std::string> rest(codes.begin() + 3, codes.end());
  const host::PasteSummary down = ListPaste(*s.dbgFornecedor).Run(rest, [&](int done, int) {
    if (done == 2) server_->Stop();
    return true;
  });
  EXPECT_TRUE(down.stopped);
  EXPECT_EQ(down.stored, 2);
  ASSERT_EQ(down.lines.size(), 3u);
  EXPECT_FALSE(down.lines.back().stored);
  EXPECT_EQ(down.Line().rfind("2 stored, 0 refused, stopped at code 3 of 7 (" + rest[2] + "): ", 0), 0u) << down.Line();
  EXPECT_EQ(s.cdsFornecedor->State(), TDataSetState::dsBrowse);
  EXPECT_EQ(&host::Services(), &host_);

  server_->Restart();
  EXPECT_EQ(StoredSuppliers("100").size(), 2u + 5u);  // the sample's two and the five stored

  // Past the longest list a clerk pastes, nothing is tried (the runner has the desktop's cap).
  std::vector<std::string> huge(ListPaste::kMaxCodes + 1, NewSupplierNumber(9));
  calls_.clear();
  const host::PasteSummary refused = ListPaste(*s.dbgFornecedor).Run(huge);
  EXPECT_TRUE(refused.stopped);
  EXPECT_EQ(refused.stored + refused.refused, 0);
  EXPECT_EQ(refused.Line(), "0 stored, 0 refused, stopped before code 1 of 20001: a lista tem 20001 códigos; cole no "
                            "máximo 20000 de cada vez. Nada foi incluído.");
  EXPECT_TRUE(calls_.empty());
}

TEST_F(ListPasteTest, ASaveRefusedAtTheServerStopsTheRunSinceItsRowStaysPending) {
  testsupport::WriteLocalDatabase(server_->LocalDatabase(), Data(true));
  TfrmProdDesoneraImpos& s = OpenOnSuppliers();
  const host::PasteSummary summary =
      ListPaste(*s.dbgFornecedor).Run({NewSupplierNumber(0), "27865757000102", NewSupplierNumber(1)});
  EXPECT_TRUE(summary.stopped);
  EXPECT_EQ(summary.stored, 1);
  ASSERT_EQ(summary.lines.size(), 2u);
  EXPECT_NE(summary.stopReason.find("pendente"), std::string::npos) << summary.stopReason;
  EXPECT_EQ(StoredSuppliers("100").size(), 3u);
}

TEST_F(ListPasteTest, CollectedDialogsAreAnsweredWithTheChoiceThatChangesNothing) {
  host::CollectingHost collector(host_);
  {
    host::ScopedHostServices installed(collector);
    host::MensErro("um", false);
    EXPECT_EQ(host::MessageDlg("apagar?", host::TMsgDlgType::mtConfirmation, {host::mbYes, host::mbNo}), host::mrNo);
    EXPECT_EQ(host::MessageDlg("ok?", host::TMsgDlgType::mtConfirmation, {host::mbOK, host::mbCancel}), host::mrCancel);
  }
  EXPECT_EQ(collector.Collected(), (std::vector<std::string>{"um", "question: apagar?", "question: ok?"}));
  EXPECT_TRUE(host_.Log().empty());
  EXPECT_EQ(&host::Services(), &host_);
}

}  // namespace
}  // namespace pdi07310
