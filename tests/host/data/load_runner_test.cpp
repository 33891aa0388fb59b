// The record set's load runner: large loads hand their reading and index building to the runner,
// small ones stay inline, and either way the set ends the same, its events fire on the calling
// thread in the same order, and a refused load leaves the set as it was.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <thread>

#include "host/data/ClientDataSet.h"
#include "host/data/DataErrors.h"
#include "host/data/FilterExpression.h"
#include "tests/host/data/DataTestUtil.h"

namespace host {
namespace {

using test_util::Column;
using test_util::EventRecorder;
using test_util::Packet;

// Runs each work on a thread of its own and waits for it, passing on what it raises.
class LoadRunnerTest : public ::testing::Test {
 protected:
  void Install(std::size_t minRows) {
    TClientDataSet::SetLoadRunner(
        [this](const std::function<void()>& work) {
          ++runs;
          std::exception_ptr failure;
          std::thread worker([&] {
            try {
              work();
            } catch (...) {
              failure = std::current_exception();
            }
          });
          worker.join();
          if (failure) std::rethrow_exception(failure);
        },
        minRows);
  }
  void TearDown() override { TClientDataSet::SetLoadRunner({}); }

  static Variant Rows() { return Packet({"P", "V"}, {{"1", "a"}, {"2", "b"}, {"1", "c"}, {"2", "d"}}); }
  // A set filtered on P = '2', its index in use, loaded with `packet`; what the loads saw.
  static std::string LoadFiltered(const Variant& packet, std::thread::id* openedOn = nullptr) {
    TClientDataSet ds("cds");
    ds.AddField("P", 10);
    ds.AddField("V", 10);
    ds.SetData(Packet({"P", "V"}, {{"2", "x"}}));
    ds.SetFilter("P = '2'");
    ds.SetFiltered(true);
    EventRecorder recorder(ds);
    if (openedOn) {
      auto recorded = ds.AfterOpen;
      ds.AfterOpen = [openedOn, recorded](TDataSet* d) {
        *openedOn = std::this_thread::get_id();
        recorded(d);
      };
    }
    ds.SetData(packet);
    const std::string events = recorder.Take();
    const std::string shown = Column(ds, "V");
    ds.SetFilter("P = '1'");  // the other key, through the index rebuilt by the load
    return events + " / " + shown + " / " + Column(ds, "V");
  }

  int runs = 0;
};

TEST_F(LoadRunnerTest, ALargeLoadGoesThroughTheRunnerAndEndsAsAnInlineLoad) {
  const std::string inlineLoad = LoadFiltered(Rows());
  EXPECT_EQ(runs, 0);
  // A small load stays inline (a JSON packet's rows are judged by its size).
  Install(1000);
  EXPECT_EQ(LoadFiltered(Rows()), inlineLoad);
  EXPECT_EQ(runs, 0);
  Install(0);
  std::thread::id openedOn;
  EXPECT_EQ(LoadFiltered(Rows(), &openedOn), inlineLoad);
  EXPECT_EQ(runs, 2);
  EXPECT_EQ(openedOn, std::this_thread::get_id());
  EXPECT_NE(inlineLoad.find("b|d"), std::string::npos) << inlineLoad;
  EXPECT_NE(inlineLoad.find("a|c"), std::string::npos) << inlineLoad;
}

TEST_F(LoadRunnerTest, ARefusedLoadRaisesOnTheCallingThreadAndLeavesTheSetAsItWas) {
  Install(0);
  TClientDataSet ds("cds");
  ds.AddField("P", 10);
  ds.AddField("V", 10);
  ds.SetData(Rows());
  ds.SetFilter("P = '1'");
  ds.SetFiltered(true);
  ds.Next();
  const int runsBefore = runs;
  EventRecorder recorder(ds);
  // A malformed packet, and one that lacks the field filtered on: both are read on the runner.
  EXPECT_THROW(ds.SetData(Variant::MakeDataPacket(R"({"fields":[{"name":"P","size":10}],"rows":[["1"],)")),
               EPacketError);
  TClientDataSet fresh("fresh");
  fresh.SetFilter("Q = '1'");
  fresh.SetFiltered(true);
  EXPECT_THROW(fresh.SetData(Packet({"P"}, {{"1"}})), EFilterError);
  EXPECT_EQ(runs, runsBefore + 2);
  EXPECT_EQ(recorder.Take(), "");
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(ds.RecNo(), 2);
  EXPECT_EQ(Column(ds, "V"), "a|c");
  EXPECT_FALSE(fresh.Active());
}

}  // namespace
}  // namespace host
