#include "host/net/LocalDatabaseDownload.h"

#include <fcntl.h>
#include <httplib.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

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

LocalDatabaseRefresh LocalDatabaseDownload::Refresh(const std::string& localPath) const {
  const std::string address = host_ + ":" + std::to_string(port_);
  const auto failed = [&](const std::string& why) {
    return LocalDatabaseRefresh{LocalDatabaseRefresh::Outcome::Failed,
                                "Não foi possível atualizar os cadastros a partir do servidor " + address + ": " + why +
                                    ". A cópia local anterior continua em uso."};
  };
  const std::string token = accessToken_.empty() ? ::host::AccessToken() : accessToken_;
  for (const char c : token) {
    if (c < 0x21 || c > 0x7E) return failed("token de acesso inválido");
  }
  const std::string etagPath = localPath + ".etag";
  const std::string fresh = localPath + ".new";
  const bool haveCopy = std::filesystem::exists(localPath) && CheckLocalDatabase(localPath).empty();

  httplib::Client client(host_, port_);
  client.set_connection_timeout(std::chrono::duration_cast<std::chrono::seconds>(timeout_).count() > 10
                                    ? std::chrono::milliseconds(10000)
                                    : timeout_);
  client.set_read_timeout(timeout_);
  client.set_write_timeout(timeout_);
  httplib::Headers headers;
  if (!token.empty()) headers.emplace("Authorization", "Bearer " + token);
  if (haveCopy) {
    const std::string etag = ReadSmallFile(etagPath);
    if (!etag.empty()) headers.emplace("If-None-Match", etag);
  }

  std::error_code ignored;
  std::filesystem::remove(fresh, ignored);
  std::ofstream out;
  size_t received = 0;
  bool tooLarge = false;
  bool writeFailed = false;
  int status = 0;
  const auto result = client.Get(
      "/" + serverName_ + "/local.db", headers,
      [&](const httplib::Response& response) {
        status = response.status;
        if (status == 200) out.open(fresh, std::ios::binary | std::ios::trunc);
        return true;
      },
      [&](const char* data, size_t length) {
        if (status != 200) return true;  // an error body is small and read for its status only
        received += length;
        if (received > maxBytes_) {
          tooLarge = true;
          return false;
        }
        out.write(data, static_cast<std::streamsize>(length));
        if (!out) writeFailed = true;
        return !writeFailed;
      });
  out.close();
  if (!result) {
    std::filesystem::remove(fresh, ignored);
    if (tooLarge) return failed("a cópia enviada passa do limite de " + std::to_string(maxBytes_) + " bytes");
    if (writeFailed) return failed("não foi possível gravar " + fresh);
    return failed("servidor inacessível (" + httplib::to_string(result.error()) + ")");
  }
  if (status == 304) return {LocalDatabaseRefresh::Outcome::Unchanged, "cadastros já atualizados"};
  if (status == 401) {
    std::filesystem::remove(fresh, ignored);
    return failed("acesso recusado (token de acesso)");
  }
  if (status != 200) {
    std::filesystem::remove(fresh, ignored);
    return failed("o servidor respondeu HTTP " + std::to_string(status));
  }
  const std::string wrong = CheckLocalDatabase(fresh);
  if (!wrong.empty()) {
    std::filesystem::remove(fresh, ignored);
    return failed("a cópia recebida não é válida: " + wrong);
  }
  if (!FlushToDisk(fresh) || std::rename(fresh.c_str(), localPath.c_str()) != 0) {
    std::filesystem::remove(fresh, ignored);
    return failed("não foi possível substituir " + localPath);
  }
  const std::string etag = result->get_header_value("ETag");
  std::ofstream(etagPath, std::ios::trunc) << etag << "\n";
  return {LocalDatabaseRefresh::Outcome::Updated, "cadastros atualizados (" + std::to_string(received) + " bytes)"};
}

}  // namespace host
