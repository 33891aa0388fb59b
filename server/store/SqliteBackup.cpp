#include "server/store/SqliteBackup.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "server/store/Store.h"

namespace server {

void SqliteBackup::Sync(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw EStoreError("cannot open " + path + " to flush it to disk");
  const int rc = fsync(fd);
  close(fd);
  if (rc != 0) throw EStoreError("cannot flush " + path + " to disk");
}

void SqliteBackup::Copy(sqlite3* source, const std::string& target) {
  const std::string part = target + ".part";
  std::error_code ignored;
  std::filesystem::remove(part, ignored);
  struct Close {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
  };
  std::unique_ptr<sqlite3, Close> copy;
  {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(part.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    copy.reset(raw);
    if (rc != SQLITE_OK) throw EStoreError("cannot create the copy " + part + ": " + sqlite3_errstr(rc));
  }
  sqlite3_backup* backup = sqlite3_backup_init(copy.get(), "main", source, "main");
  if (!backup) throw EStoreError("cannot copy into " + part + ": " + sqlite3_errmsg(copy.get()));
  // One step of every page: the copy is of one snapshot, never restarted by a writer.
  int rc = sqlite3_backup_step(backup, -1);
  for (int tries = 0; (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) && tries < 300; ++tries) {
    sqlite3_sleep(100);
    rc = sqlite3_backup_step(backup, -1);
  }
  const int finished = sqlite3_backup_finish(backup);
  if (rc != SQLITE_DONE || finished != SQLITE_OK) {
    const std::string why = sqlite3_errstr(rc != SQLITE_DONE ? rc : finished);
    copy.reset();
    std::filesystem::remove(part, ignored);
    throw EStoreError("the copy into " + target + " failed: " + why);
  }
  copy.reset();
  Sync(part);
  if (std::rename(part.c_str(), target.c_str()) != 0) {
    std::filesystem::remove(part, ignored);
    throw EStoreError("cannot rename " + part + " to " + target);
  }
  const auto dir = std::filesystem::absolute(target).parent_path();
  Sync(dir.string());
}

std::string SqliteBackup::FreeName(const std::string& base) {
  if (!std::filesystem::exists(base)) return base;
  for (int n = 1;; ++n) {
    const std::string name = base + "." + std::to_string(n);
    if (!std::filesystem::exists(name)) return name;
  }
}

}  // namespace server
