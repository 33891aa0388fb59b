// Helpers shared by the data-layer tests: building record sets from rows, and a recorder that
// writes every event of a record set (and the state changes seen by a data source) into one
// string, so an event-order assertion is a single comparison.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "host/data/ClientDataSet.h"
#include "host/data/DataSource.h"

namespace host::test_util {

// A data packet with these fields (size 10 each unless given as "NAME:size") and rows.
inline Variant Packet(std::initializer_list<std::string> fields,
                      std::initializer_list<std::vector<std::string>> rows) {
  std::string json = "{\"fields\":[";
  bool first = true;
  for (const auto& f : fields) {
    const auto colon = f.find(':');
    const std::string name = f.substr(0, colon);
    const std::string size = colon == std::string::npos ? "10" : f.substr(colon + 1);
    json += std::string(first ? "" : ",") + "{\"name\":\"" + name + "\",\"size\":" + size + "}";
    first = false;
  }
  json += "],\"rows\":[";
  bool firstRow = true;
  for (const auto& row : rows) {
    json += firstRow ? "[" : ",[";
    firstRow = false;
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (i) json += ",";
      json += "\"";
      for (char c : row[i]) {
        if (c == '"' || c == '\\') json += '\\';
        json += c;
      }
      json += "\"";
    }
    json += "]";
  }
  json += "]}";
  return Variant::MakeDataPacket(json);
}

// The values of one field over the visible rows, joined by '|' (the cursor is left on the first
// row; call before setting up recorders).
inline std::string Column(TClientDataSet& ds, const std::string& field) {
  std::string out;
  if (ds.IsEmpty()) return out;
  ds.First();
  for (bool firstRow = true; !ds.Eof(); ds.Next()) {
    if (!firstRow) out += "|";
    firstRow = false;
    out += ds.FieldByName(field)->AsString();
  }
  ds.First();
  return out;
}

// Records events as "Name" words separated by blanks; a data source's state changes appear as
// "state:<dsState>".
class EventRecorder {
 public:
  explicit EventRecorder(TClientDataSet& ds) {
    auto rec = [this](const char* name) { return [this, name](TDataSet*) { Add(name); }; };
    ds.BeforeEdit = rec("BeforeEdit");
    ds.BeforePost = rec("BeforePost");
    ds.BeforeInsert = rec("BeforeInsert");
    ds.BeforeDelete = rec("BeforeDelete");
    ds.AfterPost = rec("AfterPost");
    ds.AfterCancel = rec("AfterCancel");
    ds.AfterDelete = rec("AfterDelete");
    ds.AfterInsert = rec("AfterInsert");
    ds.AfterScroll = rec("AfterScroll");
    ds.AfterOpen = rec("AfterOpen");
    source_.SetDataSet(&ds);
    source_.OnStateChange = [this](TObject*) {
      Add(std::string("state:") + DataSetStateName(source_.State()));
    };
  }

  // The events so far, then forgets them.
  std::string Take() {
    std::string out = std::move(log_);
    log_.clear();
    return out;
  }
  void Add(const std::string& word) {
    if (!log_.empty()) log_ += ' ';
    log_ += word;
  }
  TDataSource& Source() { return source_; }

 private:
  TDataSource source_;
  std::string log_;
};

}  // namespace host::test_util
