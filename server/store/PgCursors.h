// The ways the PostgreSQL store reads rows (see PgStore):
//   PgCopyCursor       one statement's rows through COPY (…) TO STDOUT, as one stream (the lists)
//   PgCursor           a query's rows through a server-side cursor, a batch at a time (master
//                      rows, the audit trail, histories)
//   PgListReadAhead    a list read on another connection, by a thread of its own, in the snapshot
//                      of the session's read transaction, with PgReadAheadCursor reading its rows
// A cursor opened while its session has no transaction open reads in a read-only transaction of
// its own, which it ends when it goes away.
//
// A cursor is used on the thread of its session; PgListReadAhead's thread is its own. None is
// copyable or movable. REQUIRES: the connection (and, for a read-ahead, the store) outlives it.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "server/store/PgConnection.h"
#include "server/store/PgResult.h"
#include "server/store/Store.h"

namespace server {

class PgStore;

// Reads the rows of one statement with COPY (…) TO STDOUT: the server sends the whole answer as
// one stream, planned for all of its rows, while this side decodes it. A cursor dropped before
// its last row cuts its connection, which is then not reused. Raises EStoreError.
class PgCopyCursor : public RowCursor {
 public:
  PgCopyCursor(PgConnection& connection, const std::string& sql);
  ~PgCopyCursor() override;

  bool Next() override;
  std::span<const std::string_view> Row() const override { return row_; }

 private:
  void End() noexcept;

  PgConnection& connection_;
  bool copying_ = false;
  bool ownsTransaction_ = false;
  std::vector<std::string_view> row_;
  std::vector<std::string> storage_;
};

// Reads the rows of a query through a server-side cursor, a batch at a time. Raises EStoreError.
class PgCursor : public RowCursor {
 public:
  PgCursor(PgConnection& connection, const std::string& sql, std::span<const std::string_view> params);
  ~PgCursor() override;

  bool Next() override;
  std::span<const std::string_view> Row() const override { return row_; }

 private:
  static constexpr int kBatch = 8192;

  bool Fill();
  void End() noexcept;

  PgConnection& connection_;
  std::string name_;
  PgResult batch_;
  int position_ = -1;
  bool exhausted_ = false;
  bool declared_ = false;
  bool ownsTransaction_ = false;
  std::vector<std::string_view> row_;
};

// One list read ahead: a thread of its own runs the list's COPY on a connection of its own, in
// the snapshot of the session's read transaction (so the rows are those the session itself would
// read), and keeps the lines in blocks until the session reads them. At most kAhead bytes wait;
// then the thread, and with it the database, waits for the reader. Dropping the read-ahead
// interrupts the thread's wait on the database, ends the thread and gives the connection back to
// store (dropped, not reused).
class PgListReadAhead {
 public:
  // snapshot: the name pg_export_snapshot gave; sql: the list's statement.
  PgListReadAhead(PgStore& store, std::unique_ptr<PgConnection> connection, std::string snapshot, std::string sql);
  ~PgListReadAhead();
  PgListReadAhead(const PgListReadAhead&) = delete;
  PgListReadAhead& operator=(const PgListReadAhead&) = delete;

  // The next block of lines (each ending in a newline) into block; false after the last.
  // Raises the failure of the reading thread. When it failed before its first line, WaitStarted()
  // is false and the caller may read the list itself instead.
  bool NextBlock(std::string& block);
  // Waits until the COPY began or the thread ended; true when it began.
  bool WaitStarted();

 private:
  static constexpr size_t kBlock = 64 * 1024;
  static constexpr size_t kAhead = 16 * 1024 * 1024;

  bool Finished() const;
  void Run(const std::string& snapshot, const std::string& sql);

  PgStore& store_;
  std::unique_ptr<PgConnection> connection_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> blocks_;
  size_t waiting_ = 0;
  bool started_ = false;
  bool finished_ = false;
  bool stop_ = false;
  std::exception_ptr error_;
  std::thread thread_;
};

// Rows of a list read ahead (see PgListReadAhead). Raises EStoreError.
class PgReadAheadCursor : public RowCursor {
 public:
  explicit PgReadAheadCursor(std::unique_ptr<PgListReadAhead> source) : source_(std::move(source)) {}
  // See PgListReadAhead::WaitStarted.
  bool WaitStarted() { return source_->WaitStarted(); }

  bool Next() override;
  std::span<const std::string_view> Row() const override { return row_; }

 private:
  std::unique_ptr<PgListReadAhead> source_;
  std::string block_;
  size_t at_ = 0;
  std::vector<std::string_view> row_;
  std::vector<std::string> storage_;
};

}  // namespace server
