#include "server/service/RemoteService.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <set>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>
#include <vector>

#include "host/wire/ChangePacketReader.h"
#include "host/wire/EscapedText.h"
#include "host/wire/JsonRpcRequest.h"
#include "host/wire/JsonRpcResponse.h"
#include "host/wire/RawResult.h"
#include "host/wire/Utf8.h"
#include "server/service/AuditTime.h"
#include "server/service/PacketStream.h"
#include "server/store/StoreSchema.h"
#include "server/store/StoreTransaction.h"

namespace server {
namespace {

using host::wire::ChangeOp;
using host::wire::ChangePacket;
using host::wire::ChangePacketReader;
using host::wire::ChangeRow;
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

std::string Cut(std::string_view text, size_t max) {
  return PacketWriter::SanitizeUtf8(text.substr(0, max));
}

// Client text as it appears inside a message: at most max characters, with control characters
// (a NUL among them) and invalid bytes written as visible escapes, so a message is never cut
// short or broken across lines by what it quotes.
std::string Shown(std::string_view text, size_t max) { return host::wire::EscapedText(text, max); }

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

// Where the fields a save reads sit in a packet's rows (-1: the packet has no such field).
struct PacketColumns {
  int product = -1;  // the product key (always present)
  int item = -1;     // the item key (present in a related list's packet)
  int code = -1;     // the typed code stored with a supplier or client pair
  int display = -1;  // the code the user sees, naming the row in messages
};

// Checks that the packet's fields belong to the list and that its keys are there; returns where
// they are. Raises ERefusal.
PacketColumns ExpectListFields(const ListInfo& info, const ChangePacket& packet) {
  for (const auto& field : packet.fields) {
    if (info.FieldSize(field.name) < 0) {
      throw ERefusal("A " + std::string(info.listName) + " não tem o campo " + Shown(field.name, 40) + ".");
    }
  }
  const auto missing = [&](std::string_view field) {
    return ERefusal("O pacote de alterações da " + std::string(info.listName) + " não traz o campo " +
                    std::string(field) + ".");
  };
  PacketColumns columns;
  columns.product = packet.FieldIndex(info.productField);
  if (columns.product < 0) throw missing(info.productField);
  if (info.kind != ListKind::Product) {
    columns.item = packet.FieldIndex(info.itemKeyField);
    if (columns.item < 0) throw missing(info.itemKeyField);
  }
  columns.code = info.itemCodeField.empty() ? -1 : packet.FieldIndex(info.itemCodeField);
  columns.display = packet.FieldIndex(info.displayCodeField);
  return columns;
}

// One change of a packet with its fields found: what the insert, delete and checks below read.
struct PacketRow {
  const ListInfo& info;
  const ChangeRow& change;
  const PacketColumns& columns;

  bool Related() const { return info.kind != ListKind::Product; }
  std::string_view At(int column) const {
    return column >= 0 ? std::string_view(change.values[static_cast<size_t>(column)]) : std::string_view();
  }
  std::string_view ProductKey() const { return At(columns.product); }
  std::string_view ItemKey() const { return At(columns.item); }
  std::string_view Code() const { return At(columns.code); }
  // How the row is named in a message: by the code the user sees when the packet carries it.
  std::string Name() const {
    const std::string_view shown = At(columns.display);
    return Shown(!shown.empty() ? shown : Related() ? ItemKey() : ProductKey(), 40);
  }
};

// Checks one change before it is applied: keys without control characters, values no longer than
// the list's sizes. Raises ERefusal.
void ExpectValidChange(const PacketRow& row, const ChangePacket& packet) {
  const ListInfo& info = row.info;
  ExpectPrintable(row.ProductKey(), "O código do produto");
  if (row.Related()) ExpectPrintable(row.ItemKey(), CodeOf(info));
  // A typed code stored before control characters were refused must stay deletable: a delete
  // only names its pair by the keys, the typed code goes to the audit trail alone.
  if (row.columns.code >= 0 && row.change.op == ChangeOp::Insert) ExpectPrintable(row.Code(), CodeOf(info));

  for (size_t j = 0; j < packet.fields.size(); ++j) {
    const auto& field = packet.fields[j];
    const size_t length = host::wire::Utf8CharCount(row.change.values[j]);
    const int size = info.FieldSize(field.name);
    if (length > static_cast<size_t>(size)) {
      throw ERefusal("O campo " + Shown(field.name, 40) + " do " + std::string(info.nounLower) + " " + row.Name() +
                     (row.Related() ? " (produto " + Shown(row.ProductKey(), 20) + ")" : std::string()) + " tem " +
                     std::to_string(length) + " caracteres; o máximo é " + std::to_string(size) + ".");
    }
  }
}

// Removes the pair a delete names; deleting a pair no longer stored is not an error.
void DeleteChange(StoreSession& session, const PacketRow& row, AuditChange& done) {
  if (row.columns.code >= 0) {
    // Such a code is kept escaped in the trail: PostgreSQL cannot store a NUL in text.
    const std::string_view code = row.Code();
    done.itemCode = host::wire::HasControlCharacter(code) ? Shown(code, 100) : std::string(code);
  }
  done.rows = session.DeletePair(row.info.kind, row.ProductKey(), row.ItemKey()) ? 1 : 0;
}

// Stores the pair an insert names, when its product and item are in the master data and the pair
// is not stored yet. Raises ERefusal.
void InsertChange(StoreSession& session, const PacketRow& row, AuditChange& done) {
  const ListInfo& info = row.info;
  const std::string_view productKey = row.ProductKey();
  const std::string_view itemKey = row.ItemKey();
  const std::optional<std::string> productCode =
      productKey.empty() ? std::nullopt : session.MasterCode(ListKind::Product, productKey);
  const std::string productName = productCode && !productCode->empty() ? Shown(*productCode, 20) : Shown(productKey, 20);
  if (productKey.empty()) {
    throw ERefusal("Produto não informado para o " + std::string(info.nounLower) + " " + row.Name() + ".");
  }
  if (itemKey.empty()) {
    throw ERefusal(std::string(info.noun) + " não " + Agreed(info, "informado") + " para o produto " + productName + ".");
  }
  if (!productCode) throw ERefusal("Produto " + productName + " não cadastrado.");
  const std::optional<std::string> itemCode = session.MasterCode(info.kind, itemKey);
  if (!itemCode) {
    throw ERefusal(std::string(info.noun) + " " + row.Name() + " não " + Agreed(info, "cadastrado") + ".");
  }
  const std::string itemName = itemCode->empty() ? row.Name() : Shown(*itemCode, 40);
  const std::string_view typed = !row.Code().empty() ? row.Code() : std::string_view(*itemCode);
  if (!session.InsertPair(info.kind, productKey, itemKey, typed)) {
    throw ERefusal(std::string(info.noun) + " " + itemName + " já " + Agreed(info, "cadastrado") +
                   " para o produto " + productName + ".");
  }
  done.itemCode = info.kind == ListKind::Branch ? std::string() : std::string(typed);
  done.rows = 1;
}

// Applies one change packet of a list inside one write transaction, recording it in the audit
// trail in the same transaction. Each change is checked just before it is applied, so a refusal
// names the first row at fault in the packet's order. Raises ERefusal or EStoreError; nothing is
// stored then.
void ApplyChanges(StoreSession& session, const ListInfo& info, const ChangePacket& packet,
                  const CallContext& context) {
  const PacketColumns columns = ExpectListFields(info, packet);

  AuditPacket audit;
  audit.method = std::string(info.saveMethod);
  audit.client = context.client;
  audit.user = context.user;
  audit.access = std::string(AccessName(context.access));
  audit.changes.reserve(packet.changes.size());

  StoreTransaction transaction(session, StoreTransaction::Kind::Write);
  for (const auto& change : packet.changes) {
    const PacketRow row{info, change, columns};
    ExpectValidChange(row, packet);

    AuditChange& done = audit.changes.emplace_back();
    done.operation = change.op == ChangeOp::Delete ? "delete" : "insert";
    done.productKey = std::string(row.ProductKey());
    done.itemKey = std::string(row.ItemKey());
    if (!row.Related()) {
      // A product is listed because it has related rows: deleting it removes them (the master
      // product stays); inserting one stores nothing, since its first related row lists it.
      if (change.op == ChangeOp::Delete) done.rows = session.DeleteProductPairs(row.ProductKey());
    } else if (change.op == ChangeOp::Delete) {
      DeleteChange(session, row, done);
    } else {
      InsertChange(session, row, done);
    }
  }
  // The products whose rows changed take the next list version, so that clients holding the
  // lists read their rows again (a product's deletion changes its rows of every list).
  std::set<ListProduct> changed;
  for (const AuditChange& done : audit.changes) {
    if (done.rows == 0) continue;
    if (info.kind != ListKind::Product) {
      changed.insert({info.kind, done.productKey});
    } else {
      for (const ListKind kind : kRelatedLists) changed.insert({kind, done.productKey});
    }
  }
  if (!changed.empty()) session.RecordListChanges(std::vector<ListProduct>(changed.begin(), changed.end()));
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

// The product's history as a data packet (see HistorySql); rows counts its rows.
std::string HistoryAnswer(StoreSession& session, std::string_view productKey, size_t& rows) {
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
    ++rows;
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

// One call as a method's handler sees it.
struct MethodCall {
  Store& store;
  const JsonRpcRequest& request;
  const CallContext& context;
  ListKind list;  // the list the method serves (getDados and getHistorico: Product, unused)
  SaveRate& saves;
};

// What a method answers: the data of {"ok":true,"data":…} with the rows it carries, or a stream
// (the load methods).
struct Answer {
  std::string data{};
  std::unique_ptr<ReplyStream> stream{};
  size_t rows = 0;
};

// Who a save is counted against: the access token's user, else the client's address (without
// its port, which changes with every connection).
std::string Saver(const CallContext& context) {
  if (!context.user.empty()) return "user " + context.user;
  // "HOST:PORT", an IPv6 address in brackets.
  std::string_view address = context.client;
  const size_t colon = address.rfind(':');
  if (colon != std::string_view::npos && (address.front() != '[' || address.rfind(']') < colon)) {
    address = address.substr(0, colon);
  }
  if (address.size() >= 2 && address.front() == '[' && address.back() == ']') address = address.substr(1, address.size() - 2);
  return "address " + std::string(address);
}

Answer LoadAll(const MethodCall& call) {
  ExpectTexts(call.request, 0);
  return {.stream = std::make_unique<PacketStream>(
              call.store.OpenSession(), call.request.IdJson(),
              std::vector<ListKind>{ListKind::Product, ListKind::Supplier, ListKind::Client, ListKind::Branch}, true)};
}

Answer LoadList(const MethodCall& call) {
  ExpectTexts(call.request, 0);
  return {.stream = std::make_unique<PacketStream>(call.store.OpenSession(), call.request.IdJson(),
                                                   std::vector<ListKind>{call.list}, false)};
}

// A list version as a JSON string (a client may hold it in a double-less number type).
std::string VersionJson(int64_t version) { return '"' + std::to_string(version) + '"'; }

// A version a client sent, or nothing when it is none (empty, not a number).
std::optional<int64_t> ClientVersion(std::string_view text) {
  int64_t version = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), version);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || version < 0) return std::nullopt;
  return version;
}

// How many changed products a client is sent the rows of; past it, the whole list.
constexpr size_t kMostChangedProducts = 2000;

// The methods that answer a related list's changes, by RelatedIndex.
constexpr std::array<std::string_view, 3> kSinceMethods = {"getFornecedorDesde", "getClienteDesde",
                                                           "getFilialDesde"};

// getVersaoListas: the list version now, as a string.
Answer ListVersionNow(const MethodCall& call) {
  ExpectTexts(call.request, 0);
  auto session = call.store.OpenSession();
  StoreTransaction transaction(*session, StoreTransaction::Kind::Read);
  Answer answer{.data = VersionJson(session->ListVersion())};
  transaction.Commit();
  return answer;
}

// getFornecedorDesde(version) and its kin: [version now, whole, [product keys], packet]. whole
// false: the packet holds, in the list's order, the rows of the products whose rows changed
// after the client's version, by key (a product listed without rows has none left). whole true:
// the packet is the whole list and no product is listed (a version that is not one, too old for
// the store to tell, or too many products changed since).
Answer LoadListSince(const MethodCall& call) {
  ExpectTexts(call.request, 1);
  const std::optional<int64_t> since = ClientVersion(call.request.Params()[0].value);
  const ListKind kind = call.list;
  return {.stream = std::make_unique<PacketStream>(
              call.store.OpenSession(), call.request.IdJson(), [&](StoreSession& session) {
                PacketStream::Layout layout;
                layout.lists = {kind};
                const int64_t version = session.ListVersion();
                std::optional<std::vector<std::string>> changed;
                if (since) changed = session.ChangedProducts(kind, *since, kMostChangedProducts);
                layout.before = VersionJson(version) + (changed ? ",false,[" : ",true,[");
                if (changed) {
                  for (size_t i = 0; i < changed->size(); ++i) {
                    if (i > 0) layout.before += ',';
                    host::wire::PacketWriter::AppendJsonString(layout.before, (*changed)[i]);
                  }
                }
                layout.before += "],";
                layout.products = std::move(changed);
                return layout;
              })};
}

Answer Save(const MethodCall& call) {
  if (call.context.role == Role::kConsulta) {
    throw ERefusal("O usuário " + Shown(call.context.user, 64) + " tem acesso somente para consulta.");
  }
  const JsonRpcParam& param = ExpectPacket(call.request);
  ChangePacket packet;
  try {
    packet = ChangePacketReader::Read(param.value);
  } catch (const EWireError& e) {
    throw EBadParams(std::string("Invalid params: ") + e.what());
  }
  const ListInfo& info = ListCatalog::Get(call.list);
  if (!call.saves.Take(Saver(call.context))) {
    throw ERefusal("Muitas gravações em pouco tempo: o limite é de " + std::to_string(call.saves.PerMinute()) +
                   " por minuto. Nada foi gravado por esta chamada; aguarde um pouco e tente novamente.");
  }
  auto session = call.store.OpenSession();
  for (int attempt = 1;; ++attempt) {
    try {
      ApplyChanges(*session, info, packet, call.context);
      return {.data = "null"};
    } catch (const EStoreError& e) {
      // Nothing of the packet was stored (its transaction rolled back): apply it again.
      if (!e.Conflict() || attempt == kSaveAttempts) throw;
    }
  }
}

Answer Check(const MethodCall& call) {
  const ListInfo& info = ListCatalog::Get(call.list);
  const bool product = call.list == ListKind::Product;
  ExpectTexts(call.request, product ? 1 : 2);
  const auto& params = call.request.Params();
  ExpectPrintable(params[0].value, "O código do produto");
  if (!product) ExpectPrintable(params[1].value, CodeOf(info));
  auto session = call.store.OpenSession();
  if (product) {
    const std::array<std::string_view, 1> row{params[0].value};
    const bool listed = session->ProductListed(params[0].value);
    return {.data = CheckAnswer(info, row, listed), .rows = listed ? 1u : 0u};
  }
  const std::array<std::string_view, 2> row{params[0].value, params[1].value};
  const bool stored = session->PairStored(call.list, params[0].value, params[1].value);
  return {.data = CheckAnswer(info, row, stored), .rows = stored ? 1u : 0u};
}

Answer History(const MethodCall& call) {
  ExpectTexts(call.request, 1);
  auto session = call.store.OpenSession();
  Answer answer;
  answer.data = HistoryAnswer(*session, call.request.Params()[0].value, answer.rows);
  return answer;
}

// A method of the service: its name, whether it answers a stream (which a batch cannot hold), the
// list it serves, its handler, and whether it is quick (one indexed read: run where it arrived).
struct Method {
  std::string_view name;
  bool streams;
  ListKind list;
  Answer (*handler)(const MethodCall&);
  bool quick = false;
};

// The service's methods in the order the description lists them: getDados and the three related
// lists' loads, the four saves, the four checks, then getHistorico. The names of the lists'
// methods come from the list catalog.
const std::vector<Method>& Methods() {
  static const std::vector<Method> kMethods = [] {
    constexpr ListKind kLists[] = {ListKind::Product, ListKind::Supplier, ListKind::Client, ListKind::Branch};
    std::vector<Method> methods = {{"getDados", true, ListKind::Product, &LoadAll}};
    for (const ListKind kind : kRelatedLists) methods.push_back({ListCatalog::Get(kind).loadMethod, true, kind, &LoadList});
    for (const ListKind kind : kLists) methods.push_back({ListCatalog::Get(kind).saveMethod, false, kind, &Save});
    for (const ListKind kind : kLists) methods.push_back({ListCatalog::Get(kind).checkMethod, false, kind, &Check, true});
    methods.push_back({"getHistorico", false, ListKind::Product, &History});
    methods.push_back({"getVersaoListas", false, ListKind::Product, &ListVersionNow, true});
    for (const ListKind kind : kRelatedLists) methods.push_back({kSinceMethods[RelatedIndex(kind)], true, kind, &LoadListSince});
    return methods;
  }();
  return kMethods;
}

const Method* FindMethod(std::string_view name) {
  for (const Method& method : Methods()) {
    if (method.name == name) return &method;
  }
  return nullptr;
}

std::string ErrorOutcome(int code, std::string_view message) {
  return "error " + std::to_string(code) + ": " + std::string(message);
}

}  // namespace

RemoteService::RemoteService(Store& store, ServiceOptions options)
    : store_(store), options_(options), saves_(options.savesPerMinute, options.saveBurst) {}

bool RemoteService::Quick(std::string_view body) {
  // A check's body is a few dozen bytes; anything large or a batch is not one.
  if (body.size() > 4096 || IsBatch(body)) return false;
  try {
    const Method* method = FindMethod(JsonRpcRequest::Parse(body).Method());
    return method != nullptr && method->quick;
  } catch (const EJsonRpcError&) {
    return true;  // answered with an error at once
  }
}

bool RemoteService::Streams(std::string_view body) {
  if (body.size() > 4096 || IsBatch(body)) return false;
  try {
    const Method* method = FindMethod(JsonRpcRequest::Parse(body).Method());
    return method != nullptr && method->streams;
  } catch (const EJsonRpcError&) {
    return false;
  }
}

std::string RemoteService::NewReference() {
  thread_local std::mt19937 generator{std::random_device{}()};
  char text[9];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(generator()));
  return text;
}

HealthReport RemoteService::CheckHealth(std::chrono::milliseconds limit) {
  HealthReport report;
  try {
    store_.Probe(limit);
    report.ok = true;
    report.reason = "ok";
    return report;
  } catch (const EStoreLost& e) {
    report.reason = "database file deleted or replaced";
    report.detail = e.what();
  } catch (const EStoreError& e) {
    report.reason = e.Unreachable() ? "database unreachable"
                    : e.Busy()      ? "database did not answer in time"
                                    : "database failed";
    report.detail = e.what();
  } catch (const std::exception& e) {
    report.reason = "database failed";
    report.detail = e.what();
  }
  return report;
}

const std::vector<std::string_view>& RemoteService::MethodNames() {
  static const std::vector<std::string_view> kNames = [] {
    std::vector<std::string_view> names;
    for (const Method& method : Methods()) names.push_back(method.name);
    return names;
  }();
  return kNames;
}

std::string RemoteService::Describe(std::string_view user) {
  std::string out = R"({"service":)";
  PacketWriter::AppendJsonString(out, kServiceName);
  out += R"(,"methods":[)";
  const auto& names = MethodNames();
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += ',';
    PacketWriter::AppendJsonString(out, names[i]);
  }
  out += "]";
  if (!user.empty()) {
    out += R"(,"user":)";
    PacketWriter::AppendJsonString(out, user);
  }
  out += "}";
  return out;
}

Reply RemoteService::Call(std::string_view body, const CallContext& context) {
  if (IsBatch(body)) return CallBatch(body, context);
  JsonRpcRequest request;
  try {
    request = JsonRpcRequest::Parse(body);
  } catch (const EJsonRpcError& e) {
    Reply reply;
    reply.status = Outcome::kInvalid;
    reply.outcome = ErrorOutcome(e.Code(), e.what());
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
    reply.status = Outcome::kInvalid;
    reply.outcome = ErrorOutcome(e.Code(), e.what());
    reply.body = JsonRpcResponse::Error("null", e.Code(), e.what());
    return reply;
  }
  // Each call runs as if sent alone (its own session and transaction); the answers keep the
  // calls' order, and notifications get none. Once the answers reach the batch's budget, the calls
  // left are not run: each gets an error saying so.
  std::string answers;
  size_t answered = 0, ok = 0, failed = 0, rows = 0, spent = 0;
  for (const std::string& text : calls) {
    JsonRpcRequest request;
    Reply one;
    bool notification = false;
    try {
      request = JsonRpcRequest::ParseCall(text, true);
      notification = request.IsNotification();
      if (answers.size() >= options_.maxBatchAnswerBytes || rows >= options_.maxBatchAnswerRows) {
        ++spent;
        one.status = Outcome::kInvalid;
        one.body = JsonRpcResponse::Error(
            request.IdJson(), rpc_code::kServerError,
            "Server error: this batch's answers reached their budget (" + std::to_string(options_.maxBatchAnswerBytes) +
                " bytes or " + std::to_string(options_.maxBatchAnswerRows) +
                " rows); this call was not run: send it in another batch");
      } else {
        one = CallOne(request, context, false);
        rows += one.rows;
      }
    } catch (const EJsonRpcError& e) {
      one.status = Outcome::kInvalid;
      one.outcome = ErrorOutcome(e.Code(), e.what());
      one.body = JsonRpcResponse::Error(e.IdJson(), e.Code(), e.what());
    }
    (one.status == Outcome::kOk ? ok : failed)++;
    if (notification) continue;
    answers += answered++ == 0 ? '[' : ',';
    answers += one.body;
  }
  reply.status = Outcome::kOk;
  reply.outcome = "ok: " + std::to_string(calls.size()) + " calls, " + std::to_string(ok) + " ok, " +
                  std::to_string(failed) + " not";
  if (spent > 0) reply.outcome += " (" + std::to_string(spent) + " not run: the answer's budget was spent)";
  // Only notifications: nothing to answer (the HTTP front sends 204 No Content).
  if (answered > 0) reply.body = answers + ']';
  return reply;
}

Reply RemoteService::CallOne(const JsonRpcRequest& request, const CallContext& context, bool mayStream) {
  Reply reply;
  reply.method = Cut(request.Method(), 60);
  const std::string& id = request.IdJson();
  const auto answerError = [&](Outcome status, std::string outcome, int code, const std::string& message) {
    reply.status = status;
    reply.outcome = std::move(outcome);
    reply.body = JsonRpcResponse::Error(id, code, message);
  };
  const auto answerResult = [&](Outcome status, std::string outcome, const std::string& result) {
    reply.status = status;
    reply.outcome = std::move(outcome);
    reply.body = JsonRpcResponse::Result(id, result);
  };

  // The request's id is the reference of every failure it meets; a call without one draws one.
  const auto newReference = [&context] { return context.requestId.empty() ? NewReference() : context.requestId; };
  const Method* method = FindMethod(request.Method());
  if (method == nullptr) {
    answerError(Outcome::kInvalid, "error -32601: unknown method", rpc_code::kMethodNotFound,
                "Method not found: " + Shown(request.Method(), 80));
    return reply;
  }
  // Streamed answers cannot sit inside a batch's array: a list of a million rows would have to be
  // held whole in memory, once per call of the batch. They are called alone.
  if (method->streams && !mayStream) {
    answerError(Outcome::kInvalid, "error -32600: streamed method in a batch", rpc_code::kInvalidRequest,
                "Invalid request: " + Cut(request.Method(), 60) +
                    " answers a stream and cannot be called inside a batch; call it alone");
    return reply;
  }

  try {
    Answer answer = method->handler(MethodCall{store_, request, context, method->list, saves_});
    reply.status = Outcome::kOk;
    reply.outcome = "ok";
    reply.rows = answer.rows;
    if (answer.stream) {
      reply.stream = std::move(answer.stream);
    } else {
      reply.body = JsonRpcResponse::Result(id, RawResult::Ok(answer.data));
    }
    return reply;
  } catch (const ERefusal& e) {
    answerResult(Outcome::kRefused, "refused: " + e.Message(), RawResult::Error(e.Message()));
  } catch (const EBadParams& e) {
    answerError(Outcome::kInvalid, ErrorOutcome(rpc_code::kInvalidParams, e.what()), rpc_code::kInvalidParams,
                e.what());
  } catch (const EStoreLost& e) {
    // Said plainly, for the user to pass on; the file's name stays in the log.
    const std::string reference = newReference();
    answerResult(Outcome::kFailed, "failed: reference " + reference + ": " + e.what(),
                 RawResult::Error("O banco de dados do servidor foi removido ou substituído enquanto o servidor "
                                  "funcionava; nada mais é gravado até o servidor ser reiniciado. Referência " +
                                  reference + "."));
  } catch (const EStoreError& e) {
    // The store's own text (SQL, file names) stays in the log, under the reference the client
    // is given.
    const std::string reference = newReference();
    const std::string logged = "failed: reference " + reference + ": " + e.what();
    if (e.Unreachable()) {
      answerResult(Outcome::kFailed, logged,
                   RawResult::Error("O servidor não consegue falar com o banco de dados; tente de novo em instantes. "
                                    "Referência " + reference + "."));
    } else if (e.NoConnection()) {
      answerResult(Outcome::kFailed, logged,
                   RawResult::Error("Servidor ocupado: todas as conexões com o banco de dados estão em uso; tente de "
                                    "novo em instantes. Referência " + reference + "."));
    } else if (e.Busy()) {
      answerResult(Outcome::kFailed, logged,
                   RawResult::Error("O banco de dados do servidor está ocupado. Tente novamente em instantes. "
                                    "Referência " + reference + "."));
    } else if (e.DiskFull()) {
      answerResult(Outcome::kFailed, "failed: reference " + reference + ": disk full: " + e.what(),
                   RawResult::Error("O servidor está sem espaço em disco; avise o suporte. Nada foi gravado por esta "
                                    "chamada. Referência " + reference + "."));
    } else {
      answerResult(Outcome::kFailed, logged, RawResult::Error(InternalFailureMessage(reference)));
    }
  } catch (const std::exception& e) {
    const std::string reference = newReference();
    answerError(Outcome::kFailed, "failed: reference " + reference + ": " + e.what(), rpc_code::kInternalError,
                InternalFailureMessage(reference));
  }
  return reply;
}

}  // namespace server
