#include "server/service/RemoteService.h"

#include <array>
#include <functional>
#include <cstdio>
#include <optional>
#include <random>
#include <stdexcept>

#include "host/wire/ChangePacketReader.h"
#include "host/wire/EscapedText.h"
#include "host/wire/JsonRpcRequest.h"
#include "host/wire/JsonRpcResponse.h"
#include "host/wire/RawResult.h"
#include "server/service/AuditTime.h"
#include "server/service/PacketStream.h"
#include "server/store/StoreTransaction.h"

namespace server {
namespace {

using host::wire::ChangeOp;
using host::wire::ChangePacket;
using host::wire::ChangePacketReader;
using host::wire::EJsonRpcError;
using host::wire::EWireError;
using host::wire::JsonRpcParam;
using host::wire::JsonRpcRequest;
using host::wire::JsonRpcResponse;
using host::wire::PacketWriter;
using host::wire::RawResult;
namespace rpc_code = host::wire::rpc_code;

// The service refuses the request; the message is for the user. The message is kept whole as a
// std::string (what() would end it at the first NUL).
class ERefusal : public std::runtime_error {
 public:
  explicit ERefusal(std::string message) : std::runtime_error(message), message_(std::move(message)) {}
  const std::string& Message() const { return message_; }

 private:
  std::string message_;
};

// The arguments do not fit the method (-32602).
class EBadParams : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Number of characters (code points) in UTF-8 text; the request reader has already checked that
// the text is valid UTF-8.
size_t CharCount(std::string_view text) {
  size_t n = 0;
  for (const char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  }
  return n;
}

std::string Cut(std::string_view text, size_t max) {
  return PacketWriter::SanitizeUtf8(text.substr(0, max));
}

// Client text as it appears inside a message: at most max characters, with control characters
// (a NUL among them) and invalid bytes written as visible escapes, so a message is never cut
// short or broken across lines by what it quotes.
std::string Shown(std::string_view text, size_t max) { return host::wire::EscapedText(text, max); }

// A reference for a failure whose detail stays in the server's log: eight hex digits, random so
// that references from several server processes do not collide.
std::string NewErrorReference() {
  thread_local std::mt19937 generator{std::random_device{}()};
  char text[9];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(generator()));
  return text;
}

// What a client is told about a failure inside the server; the detail goes to the log only.
std::string InternalFailureMessage(const std::string& reference) {
  return "Falha interna do servidor; referência " + reference +
         ". Tente novamente; se a falha persistir, informe esta referência ao suporte.";
}

// "O código do fornecedor" / "O código da filial".
std::string CodeOf(const ListInfo& info) {
  return std::string("O código d") + (info.feminine ? "a " : "o ") + std::string(info.nounLower);
}

// Refuses a code that holds a control character: such a code cannot have been typed, and stored
// it would reach every desktop that loads the list.
void ExpectPrintable(std::string_view code, const std::string& what) {
  if (host::wire::HasControlCharacter(code)) {
    throw ERefusal(what + " " + Shown(code, 40) + " contém caracteres de controle e não pode ser aceito.");
  }
}

// "cadastrado" / "cadastrada" and the like, by the noun's gender.
std::string Agreed(const ListInfo& info, std::string_view masculine) {
  std::string word(masculine);
  if (info.feminine) word.back() = 'a';
  return word;
}

void ExpectTexts(const JsonRpcRequest& request, size_t count) {
  const auto& params = request.Params();
  if (params.size() != count) {
    throw EBadParams("Invalid params: " + request.Method() + " takes " + std::to_string(count) +
                     " argument(s), got " + std::to_string(params.size()));
  }
  for (size_t i = 0; i < count; ++i) {
    if (params[i].kind != JsonRpcParam::Kind::Text) {
      throw EBadParams("Invalid params: argument " + std::to_string(i + 1) + " of " + request.Method() +
                       " must be a string");
    }
  }
}

const JsonRpcParam& ExpectPacket(const JsonRpcRequest& request) {
  const auto& params = request.Params();
  if (params.size() != 1 || params[0].kind != JsonRpcParam::Kind::Object) {
    throw EBadParams("Invalid params: " + request.Method() + " takes one argument, a change packet");
  }
  return params[0];
}

// A data packet holding one row when present, none otherwise.
std::string CheckAnswer(const ListInfo& info, std::span<const std::string_view> row, bool present) {
  std::string data;
  PacketWriter writer(data);
  writer.BeginData(info.checkFields);
  if (present) writer.Row(row);
  writer.End();
  return data;
}

// Applies one change packet of a list inside one write transaction, recording it in the audit
// trail in the same transaction.
void ApplyChanges(StoreSession& session, const ListInfo& info, const ChangePacket& packet,
                  const CallContext& context) {
  for (const auto& field : packet.fields) {
    if (info.FieldSize(field.name) < 0) {
      throw ERefusal("A " + std::string(info.listName) + " não tem o campo " + Shown(field.name, 40) + ".");
    }
  }
  const int productIdx = packet.FieldIndex(info.productField);
  if (productIdx < 0) {
    throw ERefusal("O pacote de alterações da " + std::string(info.listName) + " não traz o campo " +
                   std::string(info.productField) + ".");
  }
  const bool related = info.kind != ListKind::Product;
  const int itemIdx = related ? packet.FieldIndex(info.itemKeyField) : -1;
  if (related && itemIdx < 0) {
    throw ERefusal("O pacote de alterações da " + std::string(info.listName) + " não traz o campo " +
                   std::string(info.itemKeyField) + ".");
  }
  const int codeIdx = info.itemCodeField.empty() ? -1 : packet.FieldIndex(info.itemCodeField);
  const int displayIdx = packet.FieldIndex(info.displayCodeField);

  AuditPacket audit;
  audit.method = std::string(info.saveMethod);
  audit.client = context.client;
  audit.user = context.user;
  audit.changes.reserve(packet.changes.size());

  StoreTransaction transaction(session, StoreTransaction::Kind::Write);
  for (const auto& change : packet.changes) {
    const std::string_view productKey = change.values[static_cast<size_t>(productIdx)];
    const std::string_view itemKey = related ? std::string_view(change.values[static_cast<size_t>(itemIdx)]) : "";
    const std::string_view shown = displayIdx >= 0 ? std::string_view(change.values[static_cast<size_t>(displayIdx)]) : "";
    // How the row is named in a message: by the code the user sees when the packet carries it.
    const std::string rowName = Shown(!shown.empty() ? shown : related ? itemKey : productKey, 40);

    ExpectPrintable(productKey, "O código do produto");
    if (related) ExpectPrintable(itemKey, CodeOf(info));
    // A typed code stored before control characters were refused must stay deletable: a delete
    // only names its pair by the keys, the typed code goes to the audit trail alone.
    if (codeIdx >= 0 && change.op == ChangeOp::Insert) {
      ExpectPrintable(change.values[static_cast<size_t>(codeIdx)], CodeOf(info));
    }

    for (size_t j = 0; j < packet.fields.size(); ++j) {
      const auto& field = packet.fields[j];
      const size_t length = CharCount(change.values[j]);
      const int size = info.FieldSize(field.name);
      if (length > static_cast<size_t>(size)) {
        throw ERefusal("O campo " + Shown(field.name, 40) + " do " + std::string(info.nounLower) + " " + rowName +
                       (related ? " (produto " + Shown(productKey, 20) + ")" : std::string()) + " tem " +
                       std::to_string(length) + " caracteres; o máximo é " + std::to_string(size) + ".");
      }
    }

    AuditChange& done = audit.changes.emplace_back();
    done.operation = change.op == ChangeOp::Delete ? "delete" : "insert";
    done.productKey = std::string(productKey);
    done.itemKey = std::string(itemKey);
    if (!related) {
      // A product is listed because it has related rows: deleting it removes them (the master
      // product stays); inserting one stores nothing, since its first related row lists it.
      if (change.op == ChangeOp::Delete) done.rows = session.DeleteProductPairs(productKey);
      continue;
    }
    if (change.op == ChangeOp::Delete) {
      if (codeIdx >= 0) {
        // Such a code is kept escaped in the trail: PostgreSQL cannot store a NUL in text.
        const std::string& code = change.values[static_cast<size_t>(codeIdx)];
        done.itemCode = host::wire::HasControlCharacter(code) ? Shown(code, 100) : code;
      }
      done.rows = session.DeletePair(info.kind, productKey, itemKey) ? 1 : 0;
      continue;
    }

    const std::optional<std::string> productCode =
        productKey.empty() ? std::nullopt : session.MasterCode(ListKind::Product, productKey);
    const std::string productName = productCode && !productCode->empty() ? Shown(*productCode, 20) : Shown(productKey, 20);
    if (productKey.empty()) {
      throw ERefusal("Produto não informado para o " + std::string(info.nounLower) + " " + rowName + ".");
    }
    if (itemKey.empty()) {
      throw ERefusal(std::string(info.noun) + " não " + Agreed(info, "informado") + " para o produto " +
                     productName + ".");
    }
    if (!productCode) throw ERefusal("Produto " + productName + " não cadastrado.");
    const std::optional<std::string> itemCode = session.MasterCode(info.kind, itemKey);
    if (!itemCode) {
      throw ERefusal(std::string(info.noun) + " " + rowName + " não " + Agreed(info, "cadastrado") + ".");
    }
    const std::string itemName = itemCode->empty() ? rowName : Shown(*itemCode, 40);
    const std::string_view typed =
        codeIdx >= 0 && !change.values[static_cast<size_t>(codeIdx)].empty()
            ? std::string_view(change.values[static_cast<size_t>(codeIdx)])
            : std::string_view(*itemCode);
    if (!session.InsertPair(info.kind, productKey, itemKey, typed)) {
      throw ERefusal(std::string(info.noun) + " " + itemName + " já " + Agreed(info, "cadastrado") +
                     " para o produto " + productName + ".");
    }
    done.itemCode = info.kind == ListKind::Branch ? std::string() : std::string(typed);
    done.rows = 1;
  }
  audit.time = AuditTime::Now();
  session.RecordAudit(audit);
  transaction.Commit();
}

// How many times a save that lost a conflict with a concurrent one is applied again.
constexpr int kSaveAttempts = 4;

// The most calls one batch may hold; a larger batch is refused whole.
constexpr size_t kMaxBatchCalls = 256;

// The fields of getHistorico's data packet, in the order of HistorySql's columns except the
// method, which is answered as the list's name.
const std::vector<host::wire::FieldDef>& HistoryFields() {
  static const std::vector<host::wire::FieldDef> kFields = {
      {"DTHRALTERACAO", 24}, {"NMUSUARIO", 100}, {"DSENDERECO", 100}, {"NMLISTA", 20},
      {"IDOPERACAO", 10},    {"CDITEM", 20},     {"CDITEMDES", 20},   {"NMITEM", 100}};
  return kFields;
}

// The list a save method changes, as the history names it.
std::string_view ListOfMethod(std::string_view method) {
  if (method == "SetFornecedor") return "fornecedor";
  if (method == "SetCliente") return "cliente";
  if (method == "SetFilial") return "filial";
  if (method == "SetProduto") return "produto";
  return method;
}

// The product's history as a data packet (see HistorySql).
std::string HistoryAnswer(StoreSession& session, std::string_view productKey) {
  const auto& fields = HistoryFields();
  std::string data;
  PacketWriter writer(data);
  writer.BeginData(fields);
  std::unique_ptr<RowCursor> cursor = session.ReadHistory(productKey);
  std::vector<std::string> values(fields.size());
  std::vector<std::string_view> row(fields.size());
  while (cursor->Next()) {
    const auto in = cursor->Row();
    for (size_t i = 0; i < fields.size() && i < in.size(); ++i) {
      const std::string_view value = i == 3 ? ListOfMethod(in[i]) : in[i];
      values[i] = Cut(value, static_cast<size_t>(fields[i].size));
      row[i] = values[i];
    }
    writer.Row(row);
  }
  writer.End();
  return data;
}

// True when the request body is a JSON array (a batch): its first character that is not JSON
// white space is '['.
bool IsBatch(std::string_view body) {
  for (const char c : body) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
    return c == '[';
  }
  return false;
}

}  // namespace

RemoteService::RemoteService(Store& store) : store_(store) {}

const std::vector<std::string_view>& RemoteService::MethodNames() {
  static const std::vector<std::string_view> kNames = {
      "getDados",      "getFornecedor", "getCliente",    "getFilial",
      "SetProduto",    "SetFornecedor", "SetCliente",    "SetFilial",
      "getVd_Produto", "getVd_Fornecedor", "getVd_Cliente", "getVd_Filial",
      "getHistorico"};
  return kNames;
}

std::string RemoteService::Describe() {
  std::string out = R"({"service":)";
  PacketWriter::AppendJsonString(out, kServiceName);
  out += R"(,"methods":[)";
  const auto& names = MethodNames();
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += ',';
    PacketWriter::AppendJsonString(out, names[i]);
  }
  out += "]}";
  return out;
}

Reply RemoteService::Call(std::string_view body, const CallContext& context) {
  if (IsBatch(body)) return CallBatch(body, context);
  Reply reply;
  JsonRpcRequest request;
  try {
    request = JsonRpcRequest::Parse(body);
  } catch (const EJsonRpcError& e) {
    reply.outcome = "error " + std::to_string(e.Code()) + ": " + e.what();
    reply.body = JsonRpcResponse::Error(e.IdJson(), e.Code(), e.what());
    return reply;
  }
  return CallOne(request, context, true);
}

Reply RemoteService::CallBatch(std::string_view body, const CallContext& context) {
  Reply reply;
  reply.method = "batch";
  std::vector<std::string> calls;
  try {
    calls = JsonRpcRequest::SplitBatch(body, kMaxBatchCalls);
  } catch (const EJsonRpcError& e) {
    reply.outcome = "error " + std::to_string(e.Code()) + ": " + e.what();
    reply.body = JsonRpcResponse::Error("null", e.Code(), e.what());
    return reply;
  }
  // Each call runs as if sent alone (its own session and transaction); the answers keep the
  // calls' order, and notifications get none.
  std::string answers;
  size_t answered = 0, ok = 0, failed = 0;
  for (const std::string& text : calls) {
    JsonRpcRequest request;
    Reply one;
    bool notification = false;
    try {
      request = JsonRpcRequest::ParseCall(text, true);
      notification = request.IsNotification();
      one = CallOne(request, context, false);
    } catch (const EJsonRpcError& e) {
      one.outcome = "error";
      one.body = JsonRpcResponse::Error(e.IdJson(), e.Code(), e.what());
    }
    (one.outcome == "ok" ? ok : failed)++;
    if (notification) continue;
    answers += answered++ == 0 ? '[' : ',';
    answers += one.body;
  }
  reply.outcome = "ok: " + std::to_string(calls.size()) + " calls, " + std::to_string(ok) + " ok, " +
                  std::to_string(failed) + " not";
  // Only notifications: nothing to answer (the HTTP front sends 204 No Content).
  if (answered > 0) reply.body = answers + ']';
  return reply;
}

Reply RemoteService::CallOne(const JsonRpcRequest& request, const CallContext& context, bool mayStream) {
  Reply reply;
  reply.method = Cut(request.Method(), 60);
  const std::string& method = request.Method();
  const std::string& id = request.IdJson();

  const auto ok = [&](std::string_view data) {
    reply.outcome = "ok";
    reply.body = JsonRpcResponse::Result(id, RawResult::Ok(data));
  };

  // Streamed answers cannot sit inside a batch's array: a list of a million rows would have to be
  // held whole in memory, once per call of the batch. They are called alone.
  const auto refuseStream = [&]() {
    reply.outcome = "error -32600: streamed method in a batch";
    reply.body = JsonRpcResponse::Error(id, rpc_code::kInvalidRequest,
                                        "Invalid request: " + Cut(method, 60) +
                                            " answers a stream and cannot be called inside a batch; call it alone");
    return std::move(reply);
  };

  try {
    if (method == "getHistorico") {
      ExpectTexts(request, 1);
      auto session = store_.OpenSession();
      ok(HistoryAnswer(*session, request.Params()[0].value));
      return reply;
    }
    if (method == "getDados") {
      if (!mayStream) return refuseStream();
      ExpectTexts(request, 0);
      reply.stream = std::make_unique<PacketStream>(
          store_.OpenSession(), id,
          std::vector<ListKind>{ListKind::Product, ListKind::Supplier, ListKind::Client, ListKind::Branch}, true);
      reply.outcome = "ok";
      return reply;
    }
    for (const ListKind kind : kRelatedLists) {
      const ListInfo& info = ListCatalog::Get(kind);
      if (method == info.loadMethod) {
        if (!mayStream) return refuseStream();
        ExpectTexts(request, 0);
        reply.stream = std::make_unique<PacketStream>(store_.OpenSession(), id, std::vector<ListKind>{kind}, false);
        reply.outcome = "ok";
        return reply;
      }
    }
    for (const ListKind kind : {ListKind::Product, ListKind::Supplier, ListKind::Client, ListKind::Branch}) {
      const ListInfo& info = ListCatalog::Get(kind);
      if (method == info.saveMethod) {
        const JsonRpcParam& param = ExpectPacket(request);
        ChangePacket packet;
        try {
          packet = ChangePacketReader::Read(param.value);
        } catch (const EWireError& e) {
          throw EBadParams(std::string("Invalid params: ") + e.what());
        }
        auto session = store_.OpenSession();
        for (int attempt = 1;; ++attempt) {
          try {
            ApplyChanges(*session, info, packet, context);
            break;
          } catch (const EStoreError& e) {
            // Nothing of the packet was stored (its transaction rolled back): apply it again.
            if (!e.Conflict() || attempt == kSaveAttempts) throw;
          }
        }
        ok("null");
        return reply;
      }
      if (method == info.checkMethod) {
        const bool product = kind == ListKind::Product;
        ExpectTexts(request, product ? 1 : 2);
        const auto& params = request.Params();
        ExpectPrintable(params[0].value, "O código do produto");
        if (!product) ExpectPrintable(params[1].value, CodeOf(info));
        auto session = store_.OpenSession();
        if (product) {
          const std::array<std::string_view, 1> row{params[0].value};
          ok(CheckAnswer(info, row, session->ProductListed(params[0].value)));
        } else {
          const std::array<std::string_view, 2> row{params[0].value, params[1].value};
          ok(CheckAnswer(info, row, session->PairStored(kind, params[0].value, params[1].value)));
        }
        return reply;
      }
    }
    reply.outcome = "error -32601: unknown method";
    reply.body = JsonRpcResponse::Error(id, rpc_code::kMethodNotFound, "Method not found: " + Shown(method, 80));
  } catch (const ERefusal& e) {
    reply.outcome = "refused: " + e.Message();
    reply.body = JsonRpcResponse::Result(id, RawResult::Error(e.Message()));
  } catch (const EBadParams& e) {
    reply.outcome = std::string("error -32602: ") + e.what();
    reply.body = JsonRpcResponse::Error(id, rpc_code::kInvalidParams, e.what());
  } catch (const EStoreLost& e) {
    // Said plainly, for the user to pass on; the file's name stays in the log.
    const std::string reference = NewErrorReference();
    reply.outcome = "failed: reference " + reference + ": " + e.what();
    reply.body = JsonRpcResponse::Result(
        id, RawResult::Error("O banco de dados do servidor foi removido ou substituído enquanto o servidor "
                             "funcionava; nada mais é gravado até o servidor ser reiniciado. Referência " +
                             reference + "."));
  } catch (const EStoreError& e) {
    // The store's own text (SQL, file names) stays in the log, under the reference the client
    // is given.
    if (e.Busy()) {
      reply.outcome = std::string("failed: ") + e.what();
      reply.body = JsonRpcResponse::Result(
          id, RawResult::Error("O banco de dados do servidor está ocupado. Tente novamente em instantes."));
    } else {
      const std::string reference = NewErrorReference();
      reply.outcome = "failed: reference " + reference + ": " + e.what();
      reply.body = JsonRpcResponse::Result(id, RawResult::Error(InternalFailureMessage(reference)));
    }
  } catch (const std::exception& e) {
    const std::string reference = NewErrorReference();
    reply.outcome = "failed: reference " + reference + ": " + e.what();
    reply.body = JsonRpcResponse::Error(id, rpc_code::kInternalError, InternalFailureMessage(reference));
  }
  reply.stream.reset();
  return reply;
}

}  // namespace server
