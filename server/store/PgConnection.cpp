#include "server/store/PgConnection.h"

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
  return PQstatus(conn_.get()) == CONNECTION_OK && PQtransactionStatus(conn_.get()) == PQTRANS_IDLE;
}

bool PgConnection::Alive() const { return PQstatus(conn_.get()) == CONNECTION_OK; }

std::string PgConnection::NextName(std::string_view prefix) { return std::string(prefix) + std::to_string(++names_); }

}  // namespace server
