#include "server/store/PgConnection.h"

#include <algorithm>
#include <vector>

namespace server {
namespace {

constexpr Oid kTextOid = 25;

bool BusyState(const std::string& s) { return s == "55P03" || s == "57014" || s == "53300"; }
bool ConflictState(const std::string& s) { return s == "40P01" || s == "40001"; }

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
    : EStoreError(message, BusyState(sqlState), ConflictState(sqlState)), sqlState_(std::move(sqlState)) {}

PgConnection::PgConnection(const std::string& uri) {
  // The URI's own settings win over the connect timeout given first; the encoding given after
  // it wins over the URI, since every text the service handles is UTF-8.
  const char* keys[] = {"connect_timeout", "fallback_application_name", "dbname", "client_encoding", nullptr};
  const char* values[] = {"10", "pdi07310-server", uri.c_str(), "UTF8", nullptr};
  conn_.reset(PQconnectdbParams(keys, values, 1));
  if (!conn_) throw EPgError("cannot connect to PostgreSQL at " + Store::Redacted(uri) + ": out of memory", "");
  if (PQstatus(conn_.get()) != CONNECTION_OK) {
    throw EPgError("cannot connect to PostgreSQL at " + Store::Redacted(uri) + ": " +
                       OneLine(PQerrorMessage(conn_.get())),
                   "");
  }
  PQsetNoticeProcessor(conn_.get(), [](void*, const char*) {}, nullptr);
  // The service's statements are short lookups and plain scans: compiling them (JIT) costs more
  // than it saves.
  Exec("SET lock_timeout = '30s'; SET jit = off");
}

PgConnection::~PgConnection() = default;

PgResult PgConnection::Check(PGresult* raw, std::string_view what) const {
  PgResult result(raw);
  const ExecStatusType status = raw ? PQresultStatus(raw) : PGRES_FATAL_ERROR;
  if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return result;
  const char* state = raw ? PQresultErrorField(raw, PG_DIAG_SQLSTATE) : nullptr;
  const std::string message = raw ? OneLine(PQresultErrorMessage(raw)) : OneLine(PQerrorMessage(conn_.get()));
  throw EPgError("PostgreSQL " + std::string(what) + " failed: " +
                     (message.empty() ? OneLine(PQerrorMessage(conn_.get())) : message),
                 state ? state : "");
}

void PgConnection::Exec(const std::string& sql) { Check(PQexec(conn_.get(), sql.c_str()), "statement"); }

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
  throw EPgError("PostgreSQL " + std::string(what) + " failed: " + OneLine(PQerrorMessage(conn_.get())), "");
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

void PgConnection::BeginCopyOut(const std::string& sql) {
  PgResult r(PQexec(conn_.get(), sql.c_str()));
  if (!r || PQresultStatus(r.Handle()) != PGRES_COPY_OUT) ThrowUnlessCopy(std::move(r));
  copy_ = Copy::Out;
}

bool PgConnection::NextCopyLine(std::string_view& line) {
  if (copy_ != Copy::Out) return false;
  char* buffer = nullptr;
  const int n = PQgetCopyData(conn_.get(), &buffer, 0);
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

std::shared_ptr<PGcancel> PgConnection::CancelHandle() const {
  return std::shared_ptr<PGcancel>(PQgetCancel(conn_.get()), [](PGcancel* c) {
    if (c) PQfreeCancel(c);
  });
}

void PgConnection::Cancel(PGcancel* handle) noexcept {
  if (!handle) return;
  char error[256];
  PQcancel(handle, error, sizeof error);
}

void PgConnection::AbandonCopyOut() noexcept {
  if (copy_ != Copy::Out) return;
  spoiled_ = true;
  if (PGcancel* cancel = PQgetCancel(conn_.get())) {
    char error[256];
    PQcancel(cancel, error, sizeof error);
    PQfreeCancel(cancel);
  }
  char* buffer = nullptr;
  while (PQgetCopyData(conn_.get(), &buffer, 0) > 0) PQfreemem(buffer);
  try {
    FinishCopy("copy");
  } catch (...) {
    // Cancelled on purpose.
  }
}

std::string PgConnection::NextName(std::string_view prefix) { return std::string(prefix) + std::to_string(++names_); }

}  // namespace server
