// PgConnection is one open connection to a PostgreSQL database through libpq, closed when it goes
// away, plus the error type of the PostgreSQL layer. Statements with parameters are always bound
// (never spliced into the SQL text): every parameter travels as text in libpq's binary format, so
// a value reaches the server byte for byte, whatever it holds. Statements run often are prepared
// once per connection under a name and reused.
//
// The connection speaks UTF-8, waits at most 30 s for a row lock (then fails as busy), runs
// without JIT compilation, and drops the server's notices instead of printing them.
//
// A COPY in either direction is supported as a bulk path: rows travel as one stream instead of
// one round trip each. A connection put in pipeline mode (EnterPipeline) runs short prepared
// statements sent together, reading their answers back in order (RunPipeline): one round trip
// for many.
//
// The waits of the pipeline and of COPY TO (NextCopyLine) end by a deadline (kWaitLimit unless
// given): past it the operation fails as busy and the connection is cut (not reused; what runs
// on it afterwards fails at once).
//
// Used by one thread at a time; it may move between threads between uses. Not copyable or
// movable (prepared names belong to the connection).
#pragma once

#include <libpq-fe.h>

#include <chrono>
#include <exception>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <string_view>

#include "server/store/PgResult.h"
#include "server/store/Store.h"

namespace server {

// A failure reported by PostgreSQL or libpq. The message names the operation and the server's
// explanation; SqlState() is the five-character SQLSTATE ("" when the connection itself failed).
// Busy (lock wait, cancelled statement, too many connections) and Conflict (deadlock,
// serialization failure) follow from the SQLSTATE; so does Unreachable (a connection exception,
// the database shutting down, starting up or in recovery), which a connection that could not be
// made or was lost also is.
class EPgError : public EStoreError {
 public:
  EPgError(const std::string& message, std::string sqlState);
  EPgError(const std::string& message, std::string sqlState, Cause cause);
  const std::string& SqlState() const { return sqlState_; }
  bool IsUniqueViolation() const { return sqlState_ == "23505"; }
  // The database gave no answer in time (busy, no SQLSTATE).
  static EPgError Timeout(std::string_view what);

 private:
  std::string sqlState_;
};

class PgConnection {
 public:
  using Clock = std::chrono::steady_clock;
  // The longest any one wait on PostgreSQL may take: an answer, a COPY line, a free connection.
  static constexpr std::chrono::seconds kWaitLimit{60};
  // A deadline that never passes: the wait ends only with the answer (or the statement's own
  // timeout at the server).
  static constexpr Clock::time_point kNoDeadline = Clock::time_point::max();

  // One statement of a pipeline (see RunPipeline): the prepared statement's name and text
  // (REQUIRES: a name always goes with the same sql), its parameters, and, once run, its result
  // or its failure (an EPgError).
  struct PipelineCall {
    const char* name = nullptr;
    const char* sql = nullptr;
    std::span<const std::string_view> params;
    PgResult result;
    std::exception_ptr error;
  };

  // Connects to the database that uri (postgresql://…, several hosts allowed) names. Raises
  // EPgError (unreachable) naming the address (without its password) and libpq's reason.
  explicit PgConnection(const std::string& uri);
  // The same, giving up (unreachable) when the connection is not made by deadline.
  PgConnection(const std::string& uri, Clock::time_point deadline);
  ~PgConnection();
  PgConnection(const PgConnection&) = delete;
  PgConnection& operator=(const PgConnection&) = delete;

  // Runs one or more statements without parameters (schema, BEGIN/COMMIT), waiting at most until
  // deadline (past it the connection is not reused). Raises EPgError.
  void Exec(const std::string& sql, Clock::time_point deadline);
  void Exec(const std::string& sql);  // no deadline

  // Runs sql with text parameters ($1, $2, …), preparing it under name the first time this
  // connection runs that name. REQUIRES: a name always goes with the same sql. Raises EPgError.
  PgResult Prepared(const char* name, const char* sql, std::span<const std::string_view> params);

  // Runs sql with text parameters once, without preparing it. Raises EPgError.
  PgResult Query(const std::string& sql, std::span<const std::string_view> params = {});

  // True while a transaction is open (failed or not).
  bool InTransaction() const;
  // True when the open transaction has failed and can only be rolled back.
  bool TransactionFailed() const;
  // True when the connection is up and idle, fit to go back to a pool.
  bool Reusable() const;
  // False once the connection is lost (the server closed it or went away).
  bool Alive() const;

  // Puts the connection in pipeline mode for good (see RunPipeline); the other ways of running
  // statements are not used on it afterwards. Raises EPgError.
  void EnterPipeline();
  // Sends calls together and reads their answers back in order, waiting at most until deadline.
  // They run in one implicit transaction; one that fails (its error set) fails none of the
  // others (those it aborted are sent again). A statement is prepared with its first run on this connection. Raises
  // EPgError when the connection is lost or the deadline passes (no call is then known to have
  // run; the connection is not reused). REQUIRES: EnterPipeline.
  void RunPipeline(std::span<PipelineCall* const> calls, Clock::time_point deadline);

  // Marks the connection never to be reused (Reusable is false from now on).
  void Retire() { spoiled_ = true; }

  // A name unique on this connection, for cursors.
  std::string NextName(std::string_view prefix);

  // COPY … FROM STDIN. BeginCopyIn runs the COPY statement sql; PutCopyData sends rows in the
  // COPY text format (see PgCopyText; pieces may split rows anywhere); EndCopyIn ends the data
  // and returns the number of rows copied. Nothing else runs on the connection in between. A
  // failure of any row fails the whole COPY: nothing of it is stored and the transaction around
  // it is spoiled. AbortCopyIn ends a COPY still open that way, on purpose. Raise EPgError.
  void BeginCopyIn(const std::string& sql);
  void PutCopyData(std::string_view data);
  int64_t EndCopyIn();
  void AbortCopyIn() noexcept;

  // COPY (…) TO STDOUT. BeginCopyOut runs the COPY statement sql; NextCopyLine gives its lines
  // one by one (without the newline; the view stays valid until the next call) and returns
  // false after the last. AbandonCopyOut stops a COPY not read to its end at once, whether or
  // not the database answers: it cuts the connection, which is not usable afterwards (the
  // database ends the COPY when its next send fails). Raise EPgError.
  void BeginCopyOut(const std::string& sql);
  // The same, waiting at most until deadline for the COPY to begin.
  void BeginCopyOut(const std::string& sql, Clock::time_point deadline);
  // Makes the waits on this connection interruptible by Interrupt from another thread.
  // REQUIRES: called before another thread may call Interrupt. Raises EPgError.
  void AllowInterrupt();
  // Ends the wait on the database under way on this connection, and every later one, with a
  // failure, whether or not the database answers; the connection is cut. Thread-safe, once
  // AllowInterrupt was called (does nothing before).
  void Interrupt() noexcept;
  // Waits for the next line at most until deadline.
  bool NextCopyLine(std::string_view& line, Clock::time_point deadline);
  bool NextCopyLine(std::string_view& line) { return NextCopyLine(line, Clock::now() + kWaitLimit); }
  void AbandonCopyOut() noexcept;

 private:
  enum class Copy { None, In, Out };

  // Connects without waiting past deadline (kNoDeadline: libpq's own connect_timeout only).
  void Connect(const std::string& uri, Clock::time_point deadline);
  PgResult Check(PGresult* result, std::string_view what) const;
  // Reads the results left after a COPY; raises EPgError on the first failure (after draining).
  PgResult FinishCopy(std::string_view what);
  // Raises the failure result holds, or a failure saying it started no COPY of the right kind.
  [[noreturn]] void ThrowUnlessCopy(PgResult result) const;
  [[noreturn]] void ThrowConnectionError(std::string_view what) const;
  // Waits until the socket can be read (or, when write, written too), at most until deadline;
  // raises EPgError (the connection spoiled) when the deadline passes.
  void WaitSocket(bool write, Clock::time_point deadline, std::string_view what);
  // The next result of a pipeline (null between statements), waiting at most until deadline.
  PGresult* NextResult(Clock::time_point deadline);

  struct Finish {
    void operator()(PGconn* c) const { PQfinish(c); }
  };
  std::unique_ptr<PGconn, Finish> conn_;
  std::set<std::string, std::less<>> prepared_;
  unsigned long names_ = 0;
  Copy copy_ = Copy::None;
  bool spoiled_ = false;  // never handed back to a pool
  bool pipeline_ = false;
  int wake_ = -1;  // Interrupt's wake-up descriptor, once AllowInterrupt made it
  struct FreeMem {
    void operator()(char* p) const { PQfreemem(p); }
  };
  std::unique_ptr<char, FreeMem> line_;  // the last line of a COPY TO
};

}  // namespace server
