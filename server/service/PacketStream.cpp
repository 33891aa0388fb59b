#include "server/service/PacketStream.h"

#include "host/wire/JsonRpcResponse.h"
#include "host/wire/RawResult.h"

namespace server {

using host::wire::JsonRpcResponse;
using host::wire::RawResult;

PacketStream::PacketStream(std::unique_ptr<StoreSession> session, std::string idJson, std::vector<ListKind> lists,
                           bool asArray, size_t chunkBytes)
    : session_(std::move(session)),
      idJson_(std::move(idJson)),
      lists_(std::move(lists)),
      asArray_(asArray),
      chunkBytes_(chunkBytes),
      writer_(buffer_) {
  session_->BeginRead();
  inTransaction_ = true;
  session_->ReadAhead(lists_);
  if (!lists_.empty()) cursor_ = session_->ReadList(lists_[0]);
}

PacketStream::PacketStream(std::unique_ptr<StoreSession> session, std::string idJson,
                           const std::function<Layout(StoreSession&)>& plan, size_t chunkBytes)
    : session_(std::move(session)), idJson_(std::move(idJson)), asArray_(true), chunkBytes_(chunkBytes), writer_(buffer_) {
  session_->BeginRead();
  inTransaction_ = true;
  try {
    Layout layout = plan(*session_);
    lists_ = std::move(layout.lists);
    asArray_ = layout.asArray;
    before_ = std::move(layout.before);
    products_ = std::move(layout.products);
    if (products_ && lists_.size() != 1) throw EStoreError("internal error: product rows of one list only");
    if (!products_) session_->ReadAhead(lists_);
  } catch (...) {
    session_->Rollback();
    inTransaction_ = false;
    throw;
  }
}

PacketStream::~PacketStream() {
  cursor_.reset();
  if (inTransaction_) session_->Rollback();
}

void PacketStream::OpenList() {
  if (index_ > 0 && asArray_) buffer_ += ',';
  if (!cursor_) cursor_ = products_ ? session_->ReadProductRows(lists_[index_], *products_) : session_->ReadList(lists_[index_]);
  writer_.BeginData(ListCatalog::Get(lists_[index_]).fields);
}

bool PacketStream::Fill(std::string& out) {
  buffer_.clear();
  if (done_) {
    out.swap(buffer_);
    return false;
  }
  if (!started_) {
    buffer_ += JsonRpcResponse::ResultPrefix(idJson_);
    buffer_ += RawResult::OkPrefix();
    if (asArray_) buffer_ += '[';
    buffer_ += before_;
    started_ = true;
    if (!lists_.empty()) OpenList();
  }
  while (buffer_.size() < chunkBytes_) {
    if (index_ == lists_.size()) {
      if (asArray_) buffer_ += ']';
      buffer_ += RawResult::OkSuffix();
      buffer_ += JsonRpcResponse::ResultSuffix();
      cursor_.reset();
      session_->Commit();
      inTransaction_ = false;
      done_ = true;
      break;
    }
    if (cursor_->Next()) {
      writer_.Row(cursor_->Row());
    } else {
      writer_.End();
      cursor_.reset();
      if (++index_ < lists_.size()) OpenList();
    }
  }
  out.swap(buffer_);
  return !done_;
}

}  // namespace server
