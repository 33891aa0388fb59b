// PacketStream is the streamed response of a load method: a JSON-RPC success envelope whose raw
// result data is one data packet (getFornecedor, getCliente, getFilial) or an array of data
// packets (getDados), written while the rows are read from the store, never all in memory.
// All lists are read inside one read transaction, so they are one consistent snapshot.
//
// Used by one thread at a time. Not copyable or movable.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/wire/PacketWriter.h"
#include "server/service/ReplyStream.h"
#include "server/store/Store.h"

namespace server {

class PacketStream : public ReplyStream {
 public:
  // Starts the read transaction and prepares the first list's query, so a storage failure that
  // happens at once is raised here (EStoreError), before anything was sent.
  // asArray: the data is a JSON array of the packets (even of one). chunkBytes: the size a piece
  // grows to before Fill returns it.
  PacketStream(std::unique_ptr<StoreSession> session, std::string idJson, std::vector<ListKind> lists,
               bool asArray, size_t chunkBytes = 256 * 1024);

  // What an answer holds, decided inside the read transaction (so that what it says and the rows
  // it sends are one state): the lists, whether the data is an array, JSON values written in the
  // array before the packets (each followed by a comma), and, when set, the products whose rows
  // alone the one related list sends (StoreSession::ReadProductRows).
  struct Layout {
    std::vector<ListKind> lists;
    bool asArray = true;
    std::string before;
    std::optional<std::vector<std::string>> products;
  };
  // The same, the layout given by plan, called once the read transaction has begun.
  PacketStream(std::unique_ptr<StoreSession> session, std::string idJson,
               const std::function<Layout(StoreSession&)>& plan, size_t chunkBytes = 256 * 1024);
  ~PacketStream() override;

  bool Fill(std::string& out) override;

 private:
  void OpenList();

  std::unique_ptr<StoreSession> session_;
  std::string idJson_;
  std::vector<ListKind> lists_;
  bool asArray_;
  std::string before_;
  std::optional<std::vector<std::string>> products_;
  size_t chunkBytes_;
  std::string buffer_;
  host::wire::PacketWriter writer_;
  std::unique_ptr<RowCursor> cursor_;
  size_t index_ = 0;
  bool started_ = false;
  bool done_ = false;
  bool inTransaction_ = false;
};

}  // namespace server
