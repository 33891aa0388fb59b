#include "server/store/SqliteBackup.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#include "server/store/Store.h"

namespace server {
namespace {

struct Close {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Connection = std::unique_ptr<sqlite3, Close>;

Connection OpenForWriting(const std::string& path) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
  Connection db(raw);
  if (rc != SQLITE_OK) throw EStoreError("cannot open the copy " + path + ": " + sqlite3_errstr(rc));
  return db;
}

void Exec(sqlite3* db, const char* sql, const std::string& path) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string why = error ? error : sqlite3_errmsg(db);
    sqlite3_free(error);
    throw EStoreError("cannot finish the copy " + path + ": " + why);
  }
}

}  // namespace

void SqliteBackup::Sync(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw EStoreError("cannot open " + path + " to flush it to disk");
  const int rc = fsync(fd);
  close(fd);
  if (rc != 0) throw EStoreError("cannot flush " + path + " to disk");
}

std::string SqliteBackup::Reserve(const std::string& target) {
  std::string name = target + ".part-XXXXXX";
  const int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) throw EStoreError("cannot create a file beside " + target + ": " + std::strerror(errno));
  close(fd);
  return name;
}

void SqliteBackup::MakeSelfContained(const std::string& path) {
  Connection db = OpenForWriting(path);
  Exec(db.get(), "PRAGMA journal_mode=DELETE", path);
}

void SqliteBackup::CopyInto(sqlite3* source, const std::string& file) {
  {
    Connection copy = OpenForWriting(file);
    sqlite3_backup* backup = sqlite3_backup_init(copy.get(), "main", source, "main");
    if (!backup) throw EStoreError("cannot copy into " + file + ": " + sqlite3_errmsg(copy.get()));
    // One step of every page: the copy is of one snapshot, never restarted by a writer.
    int rc = sqlite3_backup_step(backup, -1);
    for (int tries = 0; (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) && tries < 300; ++tries) {
      sqlite3_sleep(100);
      rc = sqlite3_backup_step(backup, -1);
    }
    const int finished = sqlite3_backup_finish(backup);
    if (rc != SQLITE_DONE || finished != SQLITE_OK) {
      throw EStoreError("the copy into " + file + " failed: " + sqlite3_errstr(rc != SQLITE_DONE ? rc : finished));
    }
  }
  // The copy's header says WAL, as its source's did: one file on its own is what a copy must be.
  MakeSelfContained(file);
  Sync(file);
}

void SqliteBackup::Publish(const std::string& file, const std::string& target, bool replace) {
  if (replace) {
    if (std::rename(file.c_str(), target.c_str()) != 0) {
      throw EStoreError("cannot rename " + file + " to " + target + ": " + std::strerror(errno));
    }
  } else if (renameat2(AT_FDCWD, file.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) {
    if (errno == EEXIST) throw EStoreError("a file appeared at " + target + " meanwhile; it was left as it is");
    if (errno != EINVAL && errno != ENOSYS) {
      throw EStoreError("cannot rename " + file + " to " + target + ": " + std::strerror(errno));
    }
    // A file system without a rename that never replaces: a link fails just as well when the
    // target exists.
    if (link(file.c_str(), target.c_str()) != 0) {
      if (errno == EEXIST) throw EStoreError("a file appeared at " + target + " meanwhile; it was left as it is");
      throw EStoreError("cannot rename " + file + " to " + target + ": " + std::strerror(errno));
    }
    unlink(file.c_str());
  }
  const auto dir = std::filesystem::absolute(target).parent_path();
  Sync(dir.string());
}

void SqliteBackup::Copy(sqlite3* source, const std::string& target) {
  const std::string part = Reserve(target);
  try {
    CopyInto(source, part);
    Publish(part, target, false);
  } catch (...) {
    std::error_code ignored;
    std::filesystem::remove(part, ignored);
    throw;
  }
}

std::string SqliteBackup::FreeName(const std::string& base) {
  if (!std::filesystem::exists(base)) return base;
  for (int n = 1;; ++n) {
    const std::string name = base + "." + std::to_string(n);
    if (!std::filesystem::exists(name)) return name;
  }
}

}  // namespace server
