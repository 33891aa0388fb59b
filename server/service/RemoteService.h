// RemoteService is the remote service "PDI07310.rdmProdDesoneraImpos" (host::wire::kServiceName):
// it answers one JSON-RPC request body with the body of the response, running one of its methods
// against the store: the screen's twelve, and the read-only getHistorico(CDPRODUTO). Load methods
// (getDados, getFornecedor, getCliente, getFilial) answer with a stream; the others with a
// complete body. One table of the methods (name, whether it streams, handler) drives both the
// dispatch of calls and the description answered to a GET.
//
// Refresh by changes (methods added for clients that refresh a related list after a save without
// reading it whole; the methods above answer as they always did):
//   getVersaoListas() answers the list version now, a number as a string. Every save that adds or
//     removes related rows takes the next version (StoreSession::RecordListChanges); a change of
//     the master data moves it past every version handed out before.
//   getFornecedorDesde(version), getClienteDesde(version), getFilialDesde(version) answer
//     [version now, whole, [product keys], packet]. whole false: the packet holds, in the list's
//     order, the rows of the products (by key) whose rows changed after the client's version, and
//     the client replaces those products' rows with them (a product listed without rows has none
//     left). whole true: the packet is the whole list and no product is listed (the version is
//     not one, too old for the store to tell, or more than kMostChangedProducts products changed).
//
// getHistorico answers a data packet of the product's change history, newest change first, at
// most kHistoryLimit rows: DTHRALTERACAO (UTC), NMUSUARIO, DSENDERECO (client address), NMLISTA
// (fornecedor, cliente, filial, produto), IDOPERACAO (insert, delete), CDITEM (item key),
// CDITEMDES (taxpayer number or branch code), NMITEM (the item's name).
//
// A batch (a JSON array of calls) is answered with an array of the answers, in the calls' order,
// each call run as if sent alone (its own session and transaction, so one refused save leaves the
// others applied). Calls without an id are notifications there: they run and get no answer; a
// batch of notifications only answers an empty body. An empty array, an array of more than 256
// calls or one that is not JSON is answered with one error object. Load methods answer streams,
// which a batch cannot hold: inside a batch they get an error object (-32600) and are called
// alone. A batch's answer has a budget (ServiceOptions): once the answers given reach its bytes or
// its rows of data, every call left gets an error object (-32000) instead of running, so a small
// batch cannot make the server build and hold a huge answer; each answer is whole or an error,
// never cut.
//
// Every method answers a raw result: {"ok":true,"data":…}, or {"ok":false,"error":"…"} with a
// message in Portuguese for the user when the service refuses (a pair already stored, an item
// not in the master data, a value too long, a code holding a control character) or the store
// fails. A failure inside the server is answered with a reference only ("Falha interna do
// servidor; referência 0A1B2C3D…"); its detail goes to the reply's outcome, which the server logs,
// under the same reference. A database that cannot be reached, and one whose every connection
// stayed in use past the wait for one, are said as such ("O servidor não consegue falar com o
// banco de dados…", "Servidor ocupado…"), with the reference too. Client text quoted in a message is escaped (EscapedText), so a NUL or
// a line break in a key never cuts or splits a message. Requests that cannot be served as
// sent get a JSON-RPC error: -32700 not JSON, -32600 not a request, -32601 unknown method, -32602
// wrong number or kind of arguments or a malformed change packet.
//
// Saves (Set…) apply their whole change packet, in order, in one transaction, or nothing of it:
//   - every field of the packet must be a field of the list, and the product key and item key
//     fields must be present; a value longer than the list's size for its field (in characters,
//     whatever size the packet declares) refuses the packet;
//   - the product key, item key and typed code of a row must hold no control character (below
//     U+0020, or U+007F), nor may the codes given to a check method; a delete may carry such a
//     typed code, so a pair stored before this rule can still be removed;
//   - rows name their item by its internal key (CDFORNECED, CDCLIENTE, CDFILIALDES); names and
//     person types are never taken from the packet. The typed code stored with a supplier or
//     client pair (CDFORNECEDDES, CDCLIENTEDES) is the packet's, or the master taxpayer number
//     when the packet leaves it empty;
//   - an insert of a pair already stored, or whose product or item is not in the master data,
//     refuses the packet with a message naming the row; deleting a pair no longer stored is not
//     an error;
//   - SetProduto: a deletion removes the product's supplier, client and branch rows (the master
//     product stays, and leaves the list since the list holds products with related rows); an
//     insertion is accepted and stores nothing, since a product joins the list with its first
//     related row.
// Data of a save is null. Every applied packet is recorded in the audit trail (time, method, the
// client's address, the person and how they were identified, from the CallContext, and each
// change with the rows it added or removed) in the transaction that applies it; a refused packet
// leaves no record.
//
// Roles: a caller of role consulta may call every method but the saves; each save of theirs is
// refused, before anything of its packet is read, with "O usuário NOME tem acesso somente para
// consulta." (the reply's outcome, which the server logs, says so too). A save that
// loses a conflict with a concurrent one (a deadlock between two PostgreSQL transactions) is
// applied again, up to four times, before its failure is answered. Saves are kept to a rate per
// user with a burst (SaveRate, ServiceOptions): the access token's user, or the client's address
// when the request carries none; a save past it is refused with a message, storing nothing. A
// store whose disk is full is said so to the user, with the reference of the log line.
//
// Thread-safe: Call may run on many threads at once (each call opens its own store session).
// Not copyable. REQUIRES: the store outlives the service.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/wire/JsonRpcRequest.h"
#include "host/wire/ServiceName.h"
#include "server/access/Identity.h"
#include "server/service/ReplyStream.h"
#include "server/service/SaveRate.h"
#include "server/store/Store.h"

namespace server {

// Who made a request: the client's address ("HOST:PORT", or the address a trusted proxy gave),
// the person's name (empty when the server accepts anyone), their role, how they were identified
// (see server/access), and the request's id, which a failure's message gives the user as its
// reference (a new one is drawn when empty).
struct CallContext {
  std::string client;
  std::string user;
  Role role = Role::kEdicao;
  AccessKind access = AccessKind::kAnyone;
  std::string requestId;
};

// Whether the store answers, for the health route: ok, or a short reason fit for anyone to read
// ("database unreachable") and the detail for the log.
struct HealthReport {
  bool ok = false;
  std::string reason;
  std::string detail;
};

// The service's own limits. Each default is written here and nowhere else (the command line's
// help reads them from a default-constructed ServiceOptions).
struct ServiceOptions {
  // The budget of a batch's answer: its bytes, and the rows of data its answers carry.
  size_t maxBatchAnswerBytes = 4u * 1024 * 1024;
  size_t maxBatchAnswerRows = 10000;
  // Saves a user may make: the burst covers a paste of the longest list the desktop takes (20,000
  // codes) at any speed; past it, this many a minute (0: no limit).
  size_t savesPerMinute = 3000;
  size_t saveBurst = 20000;
};

// How a request ended.
enum class Outcome {
  kOk,       // answered {"ok":true,…} or a stream; for a batch, its calls were run
  kRefused,  // answered {"ok":false,…}: the service refused, with a message for the user
  kInvalid,  // answered a JSON-RPC error: the request cannot be served as sent
  kFailed,   // the store or the server failed; the client was told a reference only
};

// The answer to one request.
struct Reply {
  std::string method = "-";  // the method called, for the log ("-" when unreadable)
  Outcome status = Outcome::kFailed;
  // The status as the log writes it, with its detail: "ok", "refused: …", "error -32602: …",
  // "failed: reference R: detail"; a batch "ok: N calls, A ok, B not".
  std::string outcome;
  std::string body;          // the complete body, when stream is null
  std::unique_ptr<ReplyStream> stream;
  size_t rows = 0;           // the rows of data the answer carries (a stream's are not counted)
};

class RemoteService {
 public:
  explicit RemoteService(Store& store, ServiceOptions options = {});
  RemoteService(const RemoteService&) = delete;
  RemoteService& operator=(const RemoteService&) = delete;

  // Answers one request body from the client context names. Never raises: every failure becomes
  // a reply.
  Reply Call(std::string_view body, const CallContext& context = {});

  // True when body is one call of a check method: a call that reads one indexed row, cheap enough
  // to run where the request was read rather than be handed to a worker.
  static bool Quick(std::string_view body);
  // True when body is one call of a method that answers a stream (the load methods).
  static bool Streams(std::string_view body);

  // The JSON answered to a GET of the service's path: its name and its methods.
  static std::string Describe();
  // The JSON answered to a GET of the service's path: its name, its methods, and "user", the user
  // the request's access token names (left out when none does).
  static std::string Describe(std::string_view user = {});

  // Asks the store a trivial query, giving up after limit. Never raises.
  HealthReport CheckHealth(std::chrono::milliseconds limit);

  // The state of the store's connections. Thread-safe.
  StoreStats StoreState() const { return store_.Stats(); }

  // A fresh reference for a request: eight hexadecimal digits, random, so that references from
  // several server processes do not collide.
  static std::string NewReference();

  // The service's name, also its HTTP path without the leading slash.
  static constexpr std::string_view kServiceName = host::wire::kServiceName;

  // The names of the methods, in the order Describe lists them: the four loads, the four saves,
  // the four checks, then getHistorico.
  static const std::vector<std::string_view>& MethodNames();

 private:
  Reply CallBatch(std::string_view body, const CallContext& context);
  // Runs one parsed call; a load method answers a stream when mayStream, an error otherwise.
  Reply CallOne(const host::wire::JsonRpcRequest& request, const CallContext& context, bool mayStream);

  Store& store_;
  const ServiceOptions options_;
  SaveRate saves_;
};

}  // namespace server
