#include "server/store/PgCursors.h"

#include "server/store/PgCopyText.h"
#include "server/store/PgStore.h"

namespace server {
namespace {

// A cursor opened while the session has no transaction reads in a read-only transaction of its
// own: BeginOwnRead opens it (true) or finds one open (false); EndOwnRead ends the cursor's own,
// when owns says so, and clears owns. Nothing is written in it, so failing to end it loses
// nothing (a broken connection is dropped when given back).
bool BeginOwnRead(PgConnection& connection) {
  if (connection.InTransaction()) return false;
  connection.Exec("BEGIN ISOLATION LEVEL REPEATABLE READ, READ ONLY");
  return true;
}

void EndOwnRead(PgConnection& connection, bool& owns) noexcept {
  if (!owns) return;
  owns = false;
  try {
    connection.Exec(connection.TransactionFailed() ? "ROLLBACK" : "COMMIT");
  } catch (...) {
    // See above.
  }
}

}  // namespace

PgCopyCursor::PgCopyCursor(PgConnection& connection, const std::string& sql) : connection_(connection) {
  ownsTransaction_ = BeginOwnRead(connection_);
  try {
    // The lists come out in the order of their primary keys but for the item's code within a
    // product: reading by the key's index and sorting each product's few rows (an incremental
    // sort) streams the first rows at once and costs less than sorting the whole list, which
    // the planner would pick otherwise. The list is read by this backend alone (parallel workers
    // would compete with the decoding here for the same few cores). The settings end with the
    // transaction.
    connection_.Exec("SET LOCAL enable_sort = off; SET LOCAL max_parallel_workers_per_gather = 0");
    connection_.BeginCopyOut("COPY (" + sql + ") TO STDOUT");
  } catch (...) {
    End();
    throw;
  }
  copying_ = true;
}

PgCopyCursor::~PgCopyCursor() { End(); }

bool PgCopyCursor::Next() {
  if (!copying_) return false;
  std::string_view line;
  if (!connection_.NextCopyLine(line)) {
    copying_ = false;
    return false;
  }
  if (!PgCopyText::SplitRow(line, row_, storage_)) throw EStoreError("PostgreSQL sent a malformed row");
  return true;
}

void PgCopyCursor::End() noexcept {
  if (copying_) {
    copying_ = false;
    connection_.AbandonCopyOut();
  }
  EndOwnRead(connection_, ownsTransaction_);
}

PgCursor::PgCursor(PgConnection& connection, const std::string& sql, std::span<const std::string_view> params)
    : connection_(connection), name_(connection.NextName("pdi_rows_")) {
  ownsTransaction_ = BeginOwnRead(connection_);
  try {
    connection_.Query("DECLARE " + name_ + " NO SCROLL CURSOR FOR " + sql, params);
  } catch (...) {
    End();
    throw;
  }
  declared_ = true;
}

PgCursor::~PgCursor() { End(); }

bool PgCursor::Next() {
  if (++position_ < batch_.Rows()) return Fill();
  if (exhausted_) return false;
  batch_ = connection_.Query("FETCH FORWARD " + std::to_string(kBatch) + " FROM " + name_);
  position_ = 0;
  if (batch_.Rows() < kBatch) exhausted_ = true;
  if (batch_.Rows() == 0) return false;
  return Fill();
}

bool PgCursor::Fill() {
  row_.resize(static_cast<size_t>(batch_.Columns()));
  for (size_t i = 0; i < row_.size(); ++i) row_[i] = batch_.Text(position_, static_cast<int>(i));
  return true;
}

// Closes the cursor and ends a transaction of its own; failures here change nothing stored.
void PgCursor::End() noexcept {
  try {
    if (declared_ && !connection_.TransactionFailed()) connection_.Exec("CLOSE " + name_);
  } catch (...) {
    // The transaction ends below or with the session, which closes the cursor anyway.
  }
  declared_ = false;
  EndOwnRead(connection_, ownsTransaction_);
}

PgListReadAhead::PgListReadAhead(PgStore& store, std::unique_ptr<PgConnection> connection, std::string snapshot,
                                 std::string sql)
    : store_(store), connection_(std::move(connection)) {
  connection_->AllowInterrupt();
  thread_ = std::thread([this, snapshot = std::move(snapshot), sql = std::move(sql)] { Run(snapshot, sql); });
}

PgListReadAhead::~PgListReadAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  // A thread waiting on the database is woken at once, even when the database does not answer;
  // its connection is cut and not reused.
  const bool interrupted = !Finished();
  if (interrupted) connection_->Interrupt();
  thread_.join();
  if (interrupted) connection_->Retire();
  store_.Release(std::move(connection_));
}

bool PgListReadAhead::NextBlock(std::string& block) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return !blocks_.empty() || finished_; });
  if (!blocks_.empty()) {
    block = std::move(blocks_.front());
    blocks_.pop_front();
    waiting_ -= block.size();
    lock.unlock();
    changed_.notify_all();
    return true;
  }
  if (error_) std::rethrow_exception(error_);
  return false;
}

bool PgListReadAhead::WaitStarted() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return started_ || finished_; });
  return started_;
}

bool PgListReadAhead::Finished() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return finished_;
}

void PgListReadAhead::Run(const std::string& snapshot, const std::string& sql) {
  // Every wait on the database here has a deadline (NextCopyLine's too): a database that stops
  // answering fails the read (as busy) instead of holding this thread.
  const auto deadline = [] { return PgConnection::Clock::now() + PgConnection::kWaitLimit; };
  std::exception_ptr error;
  try {
    // The snapshot's name comes from the database (hexadecimal digits and dashes); the command
    // takes no parameter, so anything else is refused rather than spliced in.
    if (snapshot.empty() || snapshot.find_first_not_of("0123456789ABCDEFabcdef-") != std::string::npos) {
      throw EStoreError("unexpected snapshot name from PostgreSQL");
    }
    connection_->Exec("BEGIN ISOLATION LEVEL REPEATABLE READ, READ ONLY; SET TRANSACTION SNAPSHOT '" + snapshot +
                          "'; SET LOCAL enable_sort = off; SET LOCAL max_parallel_workers_per_gather = 0",
                      deadline());
    connection_->BeginCopyOut("COPY (" + sql + ") TO STDOUT", deadline());
    {
      std::lock_guard<std::mutex> lock(mutex_);
      started_ = true;
    }
    changed_.notify_all();
    std::string block;
    std::string_view line;
    bool more = true;
    while (more) {
      more = connection_->NextCopyLine(line);
      if (more) {
        block.append(line);
        block += '\n';
      }
      if (block.size() < kBlock && more) continue;
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return stop_ || waiting_ < kAhead; });
      if (stop_) break;
      waiting_ += block.size();
      if (!block.empty()) blocks_.push_back(std::move(block));
      block.clear();
      lock.unlock();
      changed_.notify_all();
    }
    connection_->AbandonCopyOut();  // nothing when the COPY ended
    connection_->Exec("COMMIT", deadline());
  } catch (...) {
    error = std::current_exception();
    connection_->AbandonCopyOut();
    try {
      // After a deadline passed the statement still runs, and this fails at once.
      if (connection_->InTransaction()) connection_->Exec("ROLLBACK", deadline());
    } catch (...) {
      // A broken connection is dropped when it is given back.
    }
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    error_ = error;
    finished_ = true;
  }
  changed_.notify_all();
}

bool PgReadAheadCursor::Next() {
  while (at_ >= block_.size()) {
    if (!source_->NextBlock(block_)) return false;
    at_ = 0;
  }
  const size_t end = block_.find('\n', at_);
  const std::string_view line(block_.data() + at_, end - at_);
  at_ = end + 1;
  if (!PgCopyText::SplitRow(line, row_, storage_)) throw EStoreError("PostgreSQL sent a malformed row");
  return true;
}

}  // namespace server
