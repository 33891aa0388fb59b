#include "server/service/ReplySpool.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <utility>

namespace server {
namespace {

// An unnamed file for one answer's spool: gone from the file system at once, and from the disk
// when closed, however the server ends. -1 when none can be made.
int SpoolFile() {
  const char* tmp = std::getenv("TMPDIR");
  const std::string dir = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  std::string path = dir + "/pdi07310-spool.XXXXXX";
  fd = ::mkostemp(path.data(), O_CLOEXEC);
  if (fd >= 0) ::unlink(path.c_str());
  return fd;
}

// Bytes read back from the file a Fill hands over at most.
constexpr size_t kReadBack = 256 * 1024;

}  // namespace

bool SpoolBudget::Take(size_t bytes) {
  int64_t used = used_.load(std::memory_order_relaxed);
  do {
    if (static_cast<size_t>(used) + bytes > max_) {
      refusals_.fetch_add(1, std::memory_order_relaxed);
      return false;
    }
  } while (!used_.compare_exchange_weak(used, used + static_cast<int64_t>(bytes), std::memory_order_relaxed));
  return true;
}

ReplySpool::ReplySpool(std::unique_ptr<ReplyStream> source, SpoolBudget& budget)
    : source_(std::move(source)), budget_(budget) {}

ReplySpool::~ReplySpool() {
  source_.reset();
  if (fd_ >= 0) ::close(fd_);
  budget_.Adjust(fileTaken_);
}

bool ReplySpool::WriteToFile(const std::string& piece) {
  if (fd_ < 0) fd_ = SpoolFile();
  if (fd_ < 0) return false;
  size_t done = 0;
  while (done < piece.size()) {
    const ssize_t n = ::pwrite(fd_, piece.data() + done, piece.size() - done,
                               static_cast<off_t>(fileWritten_ + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  fileWritten_ += piece.size();
  return true;
}

bool ReplySpool::ReadAhead() {
  if (!source_ || failure_ || refused_) return false;
  // In order: to memory only while nothing waits in the file.
  const bool toMemory = FileEmpty() && memoryBytes_ < kMemoryBytes;
  if (!toMemory) {
    if (!budget_.Take(kPieceReserve)) {
      refused_ = true;
      return false;
    }
    fileTaken_ += kPieceReserve;
  }
  std::string piece;
  bool more = false;
  try {
    more = source_->Fill(piece);
  } catch (...) {
    failure_ = std::current_exception();
    source_.reset();
  }
  if (failure_ == nullptr && !more) source_.reset();  // the whole answer is read: its session goes back
  if (toMemory) {
    memoryBytes_ += piece.size();
    if (!piece.empty()) memory_.push_back(std::move(piece));
  } else {
    // The reservation becomes what the piece takes.
    const int64_t unused = static_cast<int64_t>(kPieceReserve) - static_cast<int64_t>(piece.size());
    budget_.Adjust(unused);
    fileTaken_ -= unused;
    if (!piece.empty() && !WriteToFile(piece)) {
      // No room on the disk after all: the piece cannot wait anywhere but in memory.
      memoryBytes_ += piece.size();
      memory_.push_back(std::move(piece));
      refused_ = true;
    }
  }
  return source_ != nullptr && failure_ == nullptr && !refused_;
}

bool ReplySpool::Fill(std::string& out) {
  out.clear();
  if (!memory_.empty()) {
    out.swap(memory_.front());
    memory_.pop_front();
    memoryBytes_ -= out.size();
    return More();
  }
  if (!FileEmpty()) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kReadBack, fileWritten_ - fileRead_));
    out.resize(n);
    size_t done = 0;
    while (done < n) {
      const ssize_t r = ::pread(fd_, out.data() + done, n - done, static_cast<off_t>(fileRead_ + done));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) throw std::runtime_error("the answer's spool file could not be read back");
      done += static_cast<size_t>(r);
    }
    fileRead_ += n;
    budget_.Adjust(static_cast<int64_t>(n));
    fileTaken_ -= static_cast<int64_t>(n);
    if (FileEmpty()) fileRead_ = fileWritten_ = 0;  // the file is used again from its start
    return More();
  }
  if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
  if (!source_) return false;
  const bool more = source_->Fill(out);
  if (!more) source_.reset();
  return more;
}

}  // namespace server
