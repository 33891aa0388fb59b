#include "host/net/LocalDatabaseDownload.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include "host/net/HttpTransport.h"
#include "host/net/NetExchange.h"
#include "host/services/HostLib.h"

namespace host {
namespace {

struct Table {
  const char* name;
  const char* columns;
};
constexpr Table kTables[] = {
    {"PRODUTO", "CDPRODUTO, CDARVPROD, NMPRODUTO"},
    {"FORNECEDOR", "NRINSJURFORN, NMRAZSOCFORN, IDTPIJURFORN, CDFORNECED"},
    {"CLIENTE", "NRINSJURCLIE, NMRAZSOCCLIE, IDTPIJURCLIE, CDCLIENTE"},
    {"FILIAL", "CDFILIAL, NMFILIAL"},
};

std::string ReadSmallFile(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

bool FlushToDisk(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = fsync(fd) == 0;
  close(fd);
  return ok;
}

}  // namespace

LocalDatabaseDownload::LocalDatabaseDownload(std::string host, int port, std::string serverName,
                                             std::string accessToken)
    : host_(std::move(host)), port_(port), serverName_(std::move(serverName)), accessToken_(std::move(accessToken)) {}

std::string LocalDatabaseDownload::CheckLocalDatabase(const std::string& path) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, sqlite3_close_v2);
  if (rc != SQLITE_OK) return "o arquivo não abre como banco de dados";
  for (const Table& table : kTables) {
    const std::string sql = std::string("SELECT ") + table.columns + " FROM " + table.name + " LIMIT 1";
    sqlite3_stmt* stmt = nullptr;
    const int prepared = sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &stmt, nullptr);
    const int stepped = prepared == SQLITE_OK ? sqlite3_step(stmt) : prepared;
    sqlite3_finalize(stmt);
    if (stepped != SQLITE_ROW && stepped != SQLITE_DONE) {
      return std::string("falta a tabela ") + table.name + " (" + table.columns + ")";
    }
  }
  return {};
}

LocalDatabaseRefresh LocalDatabaseDownload::Refresh(const std::string& localPath, DownloadCanceller* cancel) const {
  const ServerHost server = ServerHost::Parse(host_);
  const std::string address = host_ + ":" + std::to_string(port_);
  const std::string etagPath = localPath + ".etag";
  const std::string fresh = localPath + ".new";
  const bool haveCopy = std::filesystem::exists(localPath) && CheckLocalDatabase(localPath).empty();
  const auto failed = [&](const std::string& why) {
    return LocalDatabaseRefresh{LocalDatabaseRefresh::Outcome::Failed,
                                "Não foi possível atualizar os cadastros a partir do servidor " + address + ": " + why +
                                    (haveCopy ? ". A cópia local anterior continua em uso."
                                              : ". Ainda não há cópia local dos cadastros.")};
  };
  if (server.name.empty()) return failed("endereço do servidor não informado");
  if (port_ < 1 || port_ > 65535) return failed("porta inválida");
  const std::string token = accessToken_.empty() ? ::host::AccessToken() : accessToken_;
  for (const char c : token) {
    if (c < 0x21 || c > 0x7E) return failed("token de acesso inválido");
  }
  if (!token.empty() && !server.tls && !server.IsLoopback() && !insecure_ && !::host::Insecure()) {
    return failed("o token de acesso não é enviado sem criptografia a um servidor fora desta máquina; use https:// "
                  "no endereço do servidor ou permita explicitamente a conexão insegura (--insecure)");
  }
  const std::string caFile = !server.tls ? std::string() : !caFile_.empty() ? caFile_ : ::host::CaFile();
  if (!caFile.empty() && ::access(caFile.c_str(), R_OK) != 0) return failed("não foi possível ler o arquivo de CA " + caFile);

  NetRequest request{NetRequest::Method::Get, "/" + serverName_ + "/local.db", token.empty() ? "" : "Bearer " + token, {}, {}};
  if (haveCopy) {
    const std::string etag = ReadSmallFile(etagPath);
    if (!etag.empty()) request.headers.emplace_back("If-None-Match", etag);
  }

  std::error_code ignored;
  std::filesystem::remove(fresh, ignored);
  std::ofstream out;
  size_t received = 0;
  AnswerReceiver receiver(maxBytes_, [&](std::string_view bytes) -> std::string {
    if (!out.is_open()) out.open(fresh, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) return "não foi possível gravar " + fresh;
    received += bytes.size();
    return {};
  });
  receiver.WantHeader("ETag");

  HttpTransport transport(HttpTransport::Endpoint{server.name, port_, server.tls, caFile,
                                                  std::min(timeout_, std::chrono::milliseconds(10000)), timeout_});
  ExchangeEnd ended = ExchangeEnd::Canceled();
  if (cancel == nullptr || cancel->Attach(&transport)) {
    try {
      ended = transport.Send(std::move(request), receiver);
    } catch (const std::exception& e) {
      receiver.Abandon(e);
      ended = ExchangeEnd::Failed({});
    }
    if (cancel != nullptr) cancel->Attach(nullptr);
  }
  out.close();
  const auto refused = [&](const std::string& why) {
    std::filesystem::remove(fresh, ignored);
    return failed(why);
  };
  if (ended.how == ExchangeEnd::How::Canceled) return refused("atualização cancelada");
  if (!receiver.Failure().empty()) return refused(receiver.Failure());
  if (ended.how == ExchangeEnd::How::Failed) return refused(ended.reason);
  if (ended.status == 304) return {LocalDatabaseRefresh::Outcome::Unchanged, "cadastros já atualizados"};
  if (ended.status == 401) return refused("acesso recusado (token de acesso ausente ou inválido)");
  if (ended.status != 200) return refused("o servidor respondeu HTTP " + std::to_string(ended.status));
  const std::string wrong = CheckLocalDatabase(fresh);
  if (!wrong.empty()) return refused("a cópia recebida não é válida: " + wrong);
  if (!FlushToDisk(fresh) || std::rename(fresh.c_str(), localPath.c_str()) != 0) {
    return refused("não foi possível substituir " + localPath);
  }
  std::ofstream(etagPath, std::ios::trunc) << receiver.HeaderValue("ETag") << "\n";
  return {LocalDatabaseRefresh::Outcome::Updated, "cadastros atualizados (" + std::to_string(received) + " bytes)"};
}

void DownloadCanceller::Cancel() {
  const std::lock_guard<std::mutex> lock(mutex_);
  canceled_ = true;
  if (transport_ != nullptr) transport_->Cancel();
}

bool DownloadCanceller::Canceled() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return canceled_;
}

bool DownloadCanceller::Attach(HttpTransport* transport) {
  const std::lock_guard<std::mutex> lock(mutex_);
  transport_ = canceled_ ? nullptr : transport;
  return !canceled_;
}

}  // namespace host
