#include "host/wire/ChangePacketReader.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace host::wire {
namespace {

// Prints a packet as "FIELD/size,… | insert(a,b) delete(c,d)" so one comparison shows it all.
std::string Describe(const ChangePacket& packet) {
  std::string out;
  for (const FieldDef& f : packet.fields) out += f.name + "/" + std::to_string(f.size) + ",";
  out += " |";
  for (const ChangeRow& c : packet.changes) {
    out += c.op == ChangeOp::Insert ? " insert(" : " delete(";
    for (size_t i = 0; i < c.values.size(); ++i) out += (i ? "," : "") + c.values[i];
    out += ")";
  }
  return out;
}

TEST(ChangePacketReader, ReadsWhatPacketWriterWrote) {
  const std::array<FieldDef, 3> fields{{{"CDPRODUTODES", 10}, {"CDFILIALDES", 4}, {"NMFILIAL", 30}}};
  std::string json;
  PacketWriter w(json);
  w.BeginChanges(fields);
  std::array<std::string_view, 3> a{"P'01", "SP01", "São Paulo \"Centro\""};
  std::array<std::string_view, 3> b{"P'01", "RJ02", "Niterói\n"};
  w.Change(ChangeOp::Insert, a);
  w.Change(ChangeOp::Delete, b);
  w.End();
  const ChangePacket packet = ChangePacketReader::Read(json);
  EXPECT_EQ(Describe(packet),
            "CDPRODUTODES/10,CDFILIALDES/4,NMFILIAL/30, | insert(P'01,SP01,São Paulo \"Centro\") "
            "delete(P'01,RJ02,Niterói\n)");
  EXPECT_EQ(packet.FieldIndex("CDFILIALDES"), 1);
  EXPECT_EQ(packet.FieldIndex("cdfilialdes"), -1);
}

TEST(ChangePacketReader, AcceptsChangesBeforeFieldsNullsAndUnknownMembers) {
  const ChangePacket packet = ChangePacketReader::Read(
      R"( {"changes":[{"row":[null,"x"],"op":"delete","extra":[1,{"a":2}]}],"version":3,)"
      R"("fields":[{"name":"A"},{"size":2,"name":"B","type":"string"}]} )");
  EXPECT_EQ(Describe(packet), "A/0,B/2, | delete(,x)");
}

TEST(ChangePacketReader, EmptyPacketIsValid) {
  EXPECT_EQ(Describe(ChangePacketReader::Read(R"({"fields":[],"changes":[]})")), " |");
}

TEST(ChangePacketReader, RefusesWhatIsNotAChangePacket) {
  const char* bad[] = {
      "",
      "   ",
      "[]",
      "\"text\"",
      R"({"fields":[]})",
      R"({"changes":[]})",
      R"({"fields":[],"rows":[]})",
      R"({"fields":{},"changes":[]})",
      R"({"fields":[{"size":1}],"changes":[]})",
      R"({"fields":[{"name":""}],"changes":[]})",
      R"({"fields":[{"name":"A"},{"name":"A"}],"changes":[]})",
      R"({"fields":[{"name":"A","size":-1}],"changes":[]})",
      R"({"fields":[{"name":"A","size":1.5}],"changes":[]})",
      R"({"fields":[{"name":"A","size":99999999999}],"changes":[]})",
      R"({"fields":[{"name":"A"}],"changes":[{"op":"update","row":["x"]}]})",
      R"({"fields":[{"name":"A"}],"changes":[{"row":["x"]}]})",
      R"({"fields":[{"name":"A"}],"changes":[{"op":"insert"}]})",
      R"({"fields":[{"name":"A"}],"changes":[{"op":"insert","row":["x","y"]}]})",
      R"({"fields":[{"name":"A"}],"changes":[{"op":"insert","row":[]}]})",
      R"({"fields":[{"name":"A"}],"changes":[{"op":"insert","row":[1]}]})",
      R"({"fields":[{"name":"A"}],"changes":[{"op":"insert","row":[["x"]]}]})",
      R"({"fields":[{"name":"A"}],"changes":["insert"]})",
      R"({"fields":[{"name":"A"}],"changes":[{"op":"insert","row":["x"]}]} trailing)",
      R"({"fields":[{"name":"A"}],"changes":[{"op":"insert","row":["x"]}])",
      R"({"fields":[{"name":"A"}],"changes":[{"op":"insert","row":["\x"]}]})",
      "{\"fields\":[{\"name\":\"A\"}],\"changes\":[{\"op\":\"insert\",\"row\":[\"\xFF\"]}]}",
      R"({"fields":[],"fields":[],"changes":[]})",
  };
  for (const char* json : bad) {
    EXPECT_THROW(ChangePacketReader::Read(json), EWireError) << json;
  }
}

// A repeated member would otherwise let its last copy win silently (an insert turned into a
// delete, a second row stored in place of the first): every repeat refuses the whole packet.
TEST(ChangePacketReader, RefusesRepeatedMembersWhole) {
  const struct {
    const char* json;
    const char* message;
  } cases[] = {
      {R"({"fields":[{"name":"A"}],"changes":[{"op":"insert","op":"delete","row":["x"]}]})",
       "Invalid change packet: change 1: \"op\" appears twice"},
      {R"({"fields":[{"name":"A"}],"changes":[{"op":"insert","row":["x"]},)"
       R"({"op":"delete","row":["x"],"row":["y"]}]})",
       "Invalid change packet: change 2: \"row\" appears twice"},
      {R"({"fields":[{"name":"A","name":"B"}],"changes":[]})",
       "Invalid change packet: field 1: \"name\" appears twice"},
      {R"({"fields":[{"name":"A","size":1,"size":2}],"changes":[]})",
       "Invalid change packet: field 1: \"size\" appears twice"},
      {R"({"fields":[{"name":"A"}],"changes":[],"changes":[]})",
       "Invalid change packet: \"changes\" appears twice"},
      {R"({"fields":[{"name":"A"}],"fields":[{"name":"A"}],"changes":[]})",
       "Invalid change packet: \"fields\" appears twice"},
  };
  for (const auto& c : cases) {
    try {
      ChangePacketReader::Read(c.json);
      ADD_FAILURE() << "accepted: " << c.json;
    } catch (const EWireError& e) {
      EXPECT_STREQ(e.what(), c.message) << c.json;
    }
  }
  // Unknown members are still skipped, repeated or not.
  EXPECT_EQ(Describe(ChangePacketReader::Read(
                R"({"x":1,"x":2,"fields":[{"name":"A","t":1,"t":2}],"changes":[{"op":"insert","k":0,"k":1,"row":["v"]}]})")),
            "A/0, | insert(v)");
}

TEST(ChangePacketReader, MessageSaysWhereThePacketIsWrong) {
  try {
    ChangePacketReader::Read(R"({"fields":[{"name":"A"}],"changes":[{"op":"insert","row":["x"]},)"
                             R"({"op":"insert","row":["x","y"]}]})");
    FAIL() << "no exception";
  } catch (const EWireError& e) {
    EXPECT_STREQ(e.what(), "Invalid change packet: change 2 has 2 values, the packet has 1 fields");
  }
}

}  // namespace
}  // namespace host::wire
