// ReplySpool reads a streamed answer ahead of its client, so that the store session behind the
// answer (a database connection and its read snapshot) is given back as soon as the store has
// produced the whole answer, however slowly the client takes it. What the client has not taken
// yet waits in the spool: the first kMemoryBytes in memory, the rest in an unnamed temporary
// file (in $TMPDIR, else /tmp) counted against a SpoolBudget shared by every answer. When the
// budget is spent (or no file can be made) the answer stops being read ahead and goes on at the
// client's pace, holding its session as answers did before: the budget caps the disk the server
// may take, never an answer.
//
// ReadAhead reads one more piece from the source into the spool; Fill hands the client the next
// piece, from the spool when it holds one, else straight from the source. The pieces reach the
// client in the source's order whichever way they went. A failure of the source while reading
// ahead is raised by the Fill that reaches its place, as it would have been without the spool.
//
// Used by one thread at a time (the connection's). Not copyable or movable.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <string>

#include "server/service/ReplyStream.h"

namespace server {

// The disk all spools may take together. Thread-safe. Not copyable or movable.
class SpoolBudget {
 public:
  explicit SpoolBudget(size_t maxBytes) : max_(maxBytes) {}
  SpoolBudget(const SpoolBudget&) = delete;
  SpoolBudget& operator=(const SpoolBudget&) = delete;

  // Takes bytes when they fit; false (and a refusal counted) when not.
  bool Take(size_t bytes);
  // Gives back bytes taken before; also takes more than the budget holds when bytes is negative
  // (a piece a little larger than its reservation).
  void Adjust(int64_t bytes) { used_.fetch_add(-bytes, std::memory_order_relaxed); }
  int64_t Used() const { return used_.load(std::memory_order_relaxed); }
  int64_t Refusals() const { return refusals_.load(std::memory_order_relaxed); }

 private:
  const size_t max_;
  std::atomic<int64_t> used_{0};
  std::atomic<int64_t> refusals_{0};
};

class ReplySpool : public ReplyStream {
 public:
  // What one answer keeps in memory before it writes to its file.
  static constexpr size_t kMemoryBytes = 1 << 20;
  // What a piece taken from the source is reserved in the budget before it is read.
  static constexpr size_t kPieceReserve = 512 * 1024;

  ReplySpool(std::unique_ptr<ReplyStream> source, SpoolBudget& budget);
  ~ReplySpool() override;

  // Reads one more piece ahead. Returns true while more may be read ahead: false once the source
  // has ended (it is then given back) or failed, or the budget refused.
  bool ReadAhead();

  bool Fill(std::string& out) override;

  // True once the source has been given back (the whole answer is spooled or sent).
  bool SourceDone() const { return !source_; }

 private:
  bool FileEmpty() const { return fileRead_ == fileWritten_; }
  bool More() const { return !memory_.empty() || !FileEmpty() || failure_ || source_; }
  bool WriteToFile(const std::string& piece);

  std::unique_ptr<ReplyStream> source_;  // null once it ended or failed
  SpoolBudget& budget_;
  std::deque<std::string> memory_;
  size_t memoryBytes_ = 0;
  int fd_ = -1;
  uint64_t fileRead_ = 0;
  uint64_t fileWritten_ = 0;
  int64_t fileTaken_ = 0;  // bytes of the budget the file holds now
  std::exception_ptr failure_;
  bool refused_ = false;  // reading ahead stopped for want of room
};

}  // namespace server
