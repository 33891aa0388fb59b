#include "server/store/PgConnection.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <vector>

namespace server {
namespace {

constexpr Oid kTextOid = 25;

bool BusyState(const std::string& s) { return s == "55P03" || s == "57014" || s == "53300"; }
bool ConflictState(const std::string& s) { return s == "40P01" || s == "40001"; }
// disk_full, and the out-of-space failures of a write (insufficient_resources' class 53 "53100").
bool DiskFullState(const std::string& s) { return s == "53100"; }
// A connection exception (class 08), or the database shutting down, crashed or not yet accepting
// connections (starting, in recovery): nothing ran, and the database may answer again shortly.
bool UnreachableState(const std::string& s) {
  return s.rfind("08", 0) == 0 || s == "57P01" || s == "57P02" || s == "57P03";
}

EStoreError::Cause CauseOf(const std::string& s) {
  if (ConflictState(s)) return EStoreError::Cause::kConflict;
  if (BusyState(s)) return EStoreError::Cause::kBusy;
  if (UnreachableState(s)) return EStoreError::Cause::kUnreachable;
  return EStoreError::Cause::kOther;
}

// libpq's messages end with a newline and may hold several lines; keep them on one.
std::string OneLine(const char* text) {
  std::string out = text ? text : "";
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  for (char& c : out) {
    if (c == '\n') c = ' ';
  }
  return out;
}

// Parameters as libpq takes them: pointers, lengths and the binary format flag for each.
struct Params {
  explicit Params(std::span<const std::string_view> params) {
    for (const std::string_view p : params) {
      values.push_back(p.data() ? p.data() : "");
      lengths.push_back(static_cast<int>(p.size()));
      formats.push_back(1);
      types.push_back(kTextOid);
    }
  }
  int Count() const { return static_cast<int>(values.size()); }
  std::vector<const char*> values;
  std::vector<int> lengths;
  std::vector<int> formats;
  std::vector<Oid> types;
};

}  // namespace

EPgError::EPgError(const std::string& message, std::string sqlState)
    : EStoreError(message, CauseOf(sqlState), DiskFullState(sqlState)), sqlState_(std::move(sqlState)) {}

EPgError::EPgError(const std::string& message, std::string sqlState, Cause cause)
    : EStoreError(message, cause), sqlState_(std::move(sqlState)) {}

EPgError EPgError::Timeout(std::string_view what) {
  return EPgError("PostgreSQL " + std::string(what) + " failed: no answer in time", "", EStoreError::Cause::kBusy);
}

PgConnection::PgConnection(const std::string& uri) { Connect(uri, kNoDeadline); }

PgConnection::PgConnection(const std::string& uri, Clock::time_point deadline) { Connect(uri, deadline); }

void PgConnection::Connect(const std::string& uri, Clock::time_point deadline) {
  // The URI's own settings win over the connect timeout given first; the encoding given after
  // it wins over the URI, since every text the service handles is UTF-8.
  const char* keys[] = {"connect_timeout", "fallback_application_name", "dbname", "client_encoding", nullptr};
  const char* values[] = {"10", "pdi07310-server", uri.c_str(), "UTF8", nullptr};
  const auto fail = [&](const std::string& why) {
    return EPgError("cannot connect to PostgreSQL at " + Store::Redacted(uri) + ": " + why, "", EStoreError::Cause::kUnreachable);
  };
  if (deadline == kNoDeadline) {
    conn_.reset(PQconnectdbParams(keys, values, 1));
  } else {
    // Made step by step, so that no step waits past the deadline (libpq tries each host of a
    // multi-host URI in turn within these steps).
    conn_.reset(PQconnectStartParams(keys, values, 1));
    for (PostgresPollingStatusType step = PGRES_POLLING_WRITING; conn_ && PQstatus(conn_.get()) != CONNECTION_BAD;) {
      if (step == PGRES_POLLING_OK || step == PGRES_POLLING_FAILED) break;
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) throw fail("no answer in time");
      pollfd p{PQsocket(conn_.get()), static_cast<short>(step == PGRES_POLLING_READING ? POLLIN : POLLOUT), 0};
      const int ready = poll(&p, 1, static_cast<int>(std::min<long long>(left, INT_MAX)));
      if (ready < 0 && errno != EINTR) throw fail("cannot wait for the connection");
      if (ready > 0) step = PQconnectPoll(conn_.get());
    }
  }
  if (!conn_) throw fail("out of memory");
  if (PQstatus(conn_.get()) != CONNECTION_OK) throw fail(OneLine(PQerrorMessage(conn_.get())));
  PQsetNoticeProcessor(conn_.get(), [](void*, const char*) {}, nullptr);
  // The service's statements are short lookups and plain scans: compiling them (JIT) costs more
  // than it saves.
  Exec("SET lock_timeout = '30s'; SET jit = off", deadline);
}

PgConnection::~PgConnection() {
  if (wake_ >= 0) close(wake_);
}

PgResult PgConnection::Check(PGresult* raw, std::string_view what) const {
  PgResult result(raw);
  const ExecStatusType status = raw ? PQresultStatus(raw) : PGRES_FATAL_ERROR;
  if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return result;
  const char* state = raw ? PQresultErrorField(raw, PG_DIAG_SQLSTATE) : nullptr;
  const std::string message = raw ? OneLine(PQresultErrorMessage(raw)) : OneLine(PQerrorMessage(conn_.get()));
  const std::string sqlState = state ? state : "";
  throw EPgError("PostgreSQL " + std::string(what) + " failed: " +
                     (message.empty() ? OneLine(PQerrorMessage(conn_.get())) : message),
                 sqlState, sqlState.empty() && !Alive() ? EStoreError::Cause::kUnreachable : CauseOf(sqlState));
}

void PgConnection::Exec(const std::string& sql) { Exec(sql, kNoDeadline); }

void PgConnection::Exec(const std::string& sql, Clock::time_point deadline) {
  if (PQsendQuery(conn_.get(), sql.c_str()) != 1) ThrowConnectionError("statement");
  PgResult failure;  // the first failure; every result is read so the connection is ready after
  PgResult last;
  while (PGresult* raw = NextResult(deadline)) {
    const ExecStatusType status = PQresultStatus(raw);
    if (status == PGRES_COPY_IN || status == PGRES_COPY_OUT || status == PGRES_COPY_BOTH) {
      PQclear(raw);
      spoiled_ = true;
      throw EPgError("PostgreSQL statement failed: it started a copy", "");
    }
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && !failure) {
      failure = PgResult(raw);
    } else {
      last = PgResult(raw);
    }
  }
  if (failure) Check(failure.Release(), "statement");
  if (!last) ThrowConnectionError("statement");
}

PgResult PgConnection::Prepared(const char* name, const char* sql, std::span<const std::string_view> params) {
  const Params p(params);
  if (prepared_.find(std::string_view(name)) == prepared_.end()) {
    Check(PQprepare(conn_.get(), name, sql, p.Count(), p.types.data()), "prepare");
    prepared_.emplace(name);
  }
  return Check(PQexecPrepared(conn_.get(), name, p.Count(), p.values.data(), p.lengths.data(), p.formats.data(), 0),
               "query");
}

PgResult PgConnection::Query(const std::string& sql, std::span<const std::string_view> params) {
  const Params p(params);
  return Check(PQexecParams(conn_.get(), sql.c_str(), p.Count(), p.types.data(), p.values.data(), p.lengths.data(),
                            p.formats.data(), 0),
               "query");
}

bool PgConnection::InTransaction() const {
  const PGTransactionStatusType s = PQtransactionStatus(conn_.get());
  return s == PQTRANS_INTRANS || s == PQTRANS_INERROR || s == PQTRANS_ACTIVE;
}

bool PgConnection::TransactionFailed() const { return PQtransactionStatus(conn_.get()) == PQTRANS_INERROR; }

bool PgConnection::Reusable() const {
  return !spoiled_ && copy_ == Copy::None && PQstatus(conn_.get()) == CONNECTION_OK &&
         PQtransactionStatus(conn_.get()) == PQTRANS_IDLE;
}

bool PgConnection::Alive() const { return PQstatus(conn_.get()) == CONNECTION_OK; }

void PgConnection::ThrowConnectionError(std::string_view what) const {
  throw EPgError("PostgreSQL " + std::string(what) + " failed: " + OneLine(PQerrorMessage(conn_.get())), "",
                 Alive() ? EStoreError::Cause::kOther : EStoreError::Cause::kUnreachable);
}

PgResult PgConnection::FinishCopy(std::string_view what) {
  copy_ = Copy::None;
  PGresult* kept = nullptr;  // the first failure, else the last result
  // Every result is read, so the connection is ready for the next statement even on failure.
  while (PGresult* raw = PQgetResult(conn_.get())) {
    const ExecStatusType status = PQresultStatus(raw);
    if (status == PGRES_COPY_IN || status == PGRES_COPY_OUT || status == PGRES_COPY_BOTH) {
      // Not expected once the data has ended; leave the connection out of any pool.
      PQclear(raw);
      spoiled_ = true;
      break;
    }
    const bool keptFailed = kept && PQresultStatus(kept) != PGRES_COMMAND_OK;
    if (keptFailed) {
      PQclear(raw);
    } else {
      PQclear(kept);
      kept = raw;
    }
  }
  if (!kept) ThrowConnectionError(what);
  return Check(kept, what);
}

void PgConnection::ThrowUnlessCopy(PgResult result) const {
  Check(result.Release(), "copy");
  // The statement ran but was not a COPY in the expected direction.
  throw EPgError("PostgreSQL copy failed: the statement started no copy of the expected kind", "");
}

void PgConnection::BeginCopyIn(const std::string& sql) {
  PgResult r(PQexec(conn_.get(), sql.c_str()));
  if (!r || PQresultStatus(r.Handle()) != PGRES_COPY_IN) ThrowUnlessCopy(std::move(r));
  copy_ = Copy::In;
}

void PgConnection::PutCopyData(std::string_view data) {
  // libpq takes at most INT_MAX bytes a call.
  constexpr size_t kPiece = 1u << 30;
  for (size_t at = 0; at < data.size(); at += kPiece) {
    const size_t n = std::min(kPiece, data.size() - at);
    if (PQputCopyData(conn_.get(), data.data() + at, static_cast<int>(n)) != 1) ThrowConnectionError("copy");
  }
}

int64_t PgConnection::EndCopyIn() {
  if (PQputCopyEnd(conn_.get(), nullptr) != 1) {
    copy_ = Copy::None;
    spoiled_ = true;
    ThrowConnectionError("copy");
  }
  return FinishCopy("copy").Affected();
}

void PgConnection::AbortCopyIn() noexcept {
  if (copy_ != Copy::In) return;
  if (PQputCopyEnd(conn_.get(), "the rows were abandoned") != 1) spoiled_ = true;
  try {
    FinishCopy("copy");
  } catch (...) {
    // The failure was asked for: the COPY ends without storing anything.
  }
}

void PgConnection::BeginCopyOut(const std::string& sql) { BeginCopyOut(sql, kNoDeadline); }

void PgConnection::BeginCopyOut(const std::string& sql, Clock::time_point deadline) {
  if (PQsendQuery(conn_.get(), sql.c_str()) != 1) ThrowConnectionError("copy");
  PgResult r(NextResult(deadline));
  if (r && PQresultStatus(r.Handle()) == PGRES_COPY_OUT) {
    copy_ = Copy::Out;
    return;
  }
  // Not a COPY: the rest of the answer is read, so the connection is ready for the next statement.
  while (PGresult* rest = NextResult(deadline)) PQclear(rest);
  ThrowUnlessCopy(std::move(r));
}

bool PgConnection::NextCopyLine(std::string_view& line, Clock::time_point deadline) {
  if (copy_ != Copy::Out) return false;
  char* buffer = nullptr;
  int n = 0;
  // Asynchronously, so that the wait for the next line has a deadline.
  while ((n = PQgetCopyData(conn_.get(), &buffer, 1)) == 0) {
    try {
      WaitSocket(false, deadline, "copy");
    } catch (...) {
      copy_ = Copy::None;
      throw;
    }
    if (PQconsumeInput(conn_.get()) != 1) {
      copy_ = Copy::None;
      spoiled_ = true;
      ThrowConnectionError("copy");
    }
  }
  line_.reset(buffer);
  if (n > 0) {
    size_t size = static_cast<size_t>(n);
    if (buffer[size - 1] == '\n') --size;
    line = std::string_view(buffer, size);
    return true;
  }
  if (n == -2) {
    copy_ = Copy::None;
    spoiled_ = true;
    ThrowConnectionError("copy");
  }
  FinishCopy("copy");
  return false;
}

void PgConnection::WaitSocket(bool write, Clock::time_point deadline, std::string_view what) {
  const int fd = PQsocket(conn_.get());
  if (fd < 0) {
    spoiled_ = true;
    ThrowConnectionError(what);
  }
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      // The connection is cut: whatever runs on it later (a ROLLBACK, the rest of a COPY) fails
      // at once instead of waiting again, and the database ends the session's transaction.
      spoiled_ = true;
      ::shutdown(fd, SHUT_RDWR);
      throw EPgError::Timeout(what);
    }
    pollfd p[2] = {{fd, static_cast<short>(POLLIN | (write ? POLLOUT : 0)), 0}, {wake_, POLLIN, 0}};
    const int ready = poll(p, wake_ >= 0 ? 2 : 1, static_cast<int>(std::min<long long>(left, INT_MAX)));
    if (ready > 0 && wake_ >= 0 && p[1].revents != 0) {
      // Interrupted: cut like a wait past its deadline. The wake-up stays readable, so every
      // later wait ends the same way.
      spoiled_ = true;
      ::shutdown(fd, SHUT_RDWR);
      throw EPgError("PostgreSQL " + std::string(what) + " interrupted: the connection was closed", "");
    }
    if (ready > 0) return;
    if (ready < 0 && errno != EINTR) {
      spoiled_ = true;
      ThrowConnectionError(what);
    }
  }
}

void PgConnection::EnterPipeline() {
  if (PQenterPipelineMode(conn_.get()) != 1 || PQsetnonblocking(conn_.get(), 1) != 0) {
    spoiled_ = true;
    ThrowConnectionError("pipeline");
  }
  pipeline_ = true;
}

PGresult* PgConnection::NextResult(Clock::time_point deadline) {
  while (PQisBusy(conn_.get())) {
    WaitSocket(false, deadline, "query");
    if (PQconsumeInput(conn_.get()) != 1) {
      spoiled_ = true;
      ThrowConnectionError("query");
    }
  }
  return PQgetResult(conn_.get());
}

void PgConnection::RunPipeline(std::span<PipelineCall* const> calls, Clock::time_point deadline) {
  if (!pipeline_) throw EPgError("internal error: the connection is not in pipeline mode", "");
  try {
    std::vector<PipelineCall*> pending(calls.begin(), calls.end());
    // The calls go out as [Parse,] Bind/Execute each and one Sync for all: the database answers
    // them in one piece, in one implicit transaction. A call that fails aborts those after it,
    // which are sent again (each round answers at least the call that failed).
    while (!pending.empty()) {
      std::vector<bool> preparing(pending.size(), false);
      std::set<std::string_view> sentPrepare;
      for (size_t i = 0; i < pending.size(); ++i) {
        PipelineCall& call = *pending[i];
        const Params p(call.params);
        const std::string_view name(call.name);
        if (prepared_.find(name) == prepared_.end() && sentPrepare.insert(name).second) {
          if (PQsendPrepare(conn_.get(), call.name, call.sql, p.Count(), p.types.data()) != 1) {
            ThrowConnectionError("prepare");
          }
          preparing[i] = true;
        }
        if (PQsendQueryPrepared(conn_.get(), call.name, p.Count(), p.values.data(), p.lengths.data(),
                                p.formats.data(), 0) != 1) {
          ThrowConnectionError("query");
        }
      }
      if (PQpipelineSync(conn_.get()) != 1) ThrowConnectionError("query");
      // Everything goes out; answers are taken in meanwhile, so neither side waits on a full
      // buffer.
      for (;;) {
        const int left = PQflush(conn_.get());
        if (left == 0) break;
        if (left < 0) ThrowConnectionError("query");
        WaitSocket(true, deadline, "query");
        if (PQconsumeInput(conn_.get()) != 1) ThrowConnectionError("query");
      }
      std::vector<PipelineCall*> aborted;
      for (size_t i = 0; i < pending.size(); ++i) {
        PipelineCall& call = *pending[i];
        PgResult failure;  // the first failure of the call's statements
        bool wasAborted = false;
        for (int statement = preparing[i] ? 2 : 1; statement > 0; --statement) {
          while (PGresult* raw = NextResult(deadline)) {
            PgResult r(raw);
            const ExecStatusType status = PQresultStatus(raw);
            if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
              // Statement 2 is the prepare: once it succeeded the name stays prepared on this
              // connection, whether the run after it succeeds or not.
              if (statement == 2) prepared_.emplace(call.name);
              if (statement == 1) call.result = std::move(r);
            } else if (status == PGRES_PIPELINE_SYNC) {
              throw EPgError("PostgreSQL query failed: the pipeline's answers are out of order", "");
            } else if (status == PGRES_PIPELINE_ABORTED) {
              wasAborted = !failure;
            } else if (!failure) {
              failure = std::move(r);
            }
          }
        }
        if (failure) {
          call.result = PgResult();
          try {
            Check(failure.Release(), "query");
          } catch (...) {
            call.error = std::current_exception();
          }
        } else if (wasAborted) {
          call.result = PgResult();
          aborted.push_back(&call);
        } else if (!call.result) {
          call.error = std::make_exception_ptr(EPgError("PostgreSQL query failed: no answer", ""));
        }
      }
      PgResult sync(NextResult(deadline));
      if (!sync || PQresultStatus(sync.Handle()) != PGRES_PIPELINE_SYNC) {
        throw EPgError("PostgreSQL query failed: the pipeline's answers are out of order", "");
      }
      if (aborted.size() == pending.size()) {
        // Nothing answered, nothing failed: the database is not doing what was asked.
        throw EPgError("PostgreSQL query failed: the pipeline was aborted", "");
      }
      pending = std::move(aborted);
    }
  } catch (...) {
    spoiled_ = true;
    throw;
  }
}

void PgConnection::AllowInterrupt() {
  if (wake_ >= 0) return;
  wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_ < 0) throw EPgError("PostgreSQL: cannot make a wake-up descriptor", "");
}

void PgConnection::Interrupt() noexcept {
  if (wake_ < 0) return;
  const uint64_t one = 1;
  // A failed write leaves nothing to do: the counter cannot overflow from ones.
  (void)!write(wake_, &one, sizeof one);
}

void PgConnection::AbandonCopyOut() noexcept {
  if (copy_ != Copy::Out) return;
  // The connection is cut rather than the COPY cancelled and drained: a cancel opens a second
  // connection and waits for the database's answer, and a drain waits for the rest in flight,
  // both without a deadline, so a database that stopped answering held the caller for good. The
  // connection is not reused either way; the database ends the COPY when its next send fails.
  copy_ = Copy::None;
  spoiled_ = true;
  if (const int fd = PQsocket(conn_.get()); fd >= 0) ::shutdown(fd, SHUT_RDWR);
  // libpq reads what was already received, then the end of the stream, and marks the
  // connection broken; until then it would take the next statement for a second command. No
  // read waits: libpq's socket does not block, and nothing more arrives once it is cut.
  char* buffer = nullptr;
  for (int reads = 0; PQstatus(conn_.get()) == CONNECTION_OK && reads < 1'000'000; ++reads) {
    while (PQgetCopyData(conn_.get(), &buffer, 1) > 0) PQfreemem(buffer);
    if (PQconsumeInput(conn_.get()) != 1) break;
  }
}

std::string PgConnection::NextName(std::string_view prefix) { return std::string(prefix) + std::to_string(++names_); }

}  // namespace server
