#include "server/service/LocalDbPublisher.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "server/store/LocalDatabase.h"

namespace server {

LocalDbPublisher::LocalDbPublisher(Store& store) : store_(store) {}

LocalDbCopy LocalDbPublisher::Build(int64_t version) {
  // Written to a private scratch file, read back whole, and removed.
  std::string path = (std::filesystem::temp_directory_path() / "pdi07310-local.XXXXXX").string();
  const int fd = mkstemp(path.data());
  if (fd < 0) throw std::runtime_error("cannot create a scratch file for the local database");
  close(fd);
  struct Remove {
    std::string path;
    ~Remove() {
      std::error_code ignored;
      std::filesystem::remove(path, ignored);
      std::filesystem::remove(path + "-journal", ignored);
    }
  } remove{path};
  {
    const auto session = store_.OpenSession();
    LocalDatabase::Export(*session, path);
  }
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (!in.good() && !in.eof()) throw std::runtime_error("cannot read the local database back");
  auto body = std::make_shared<const std::string>(bytes.str());
  char etag[64];
  std::snprintf(etag, sizeof etag, "\"v%lld-%016zx\"", static_cast<long long>(version),
                std::hash<std::string_view>()(*body));
  return LocalDbCopy{etag, std::move(body)};
}

LocalDbCopy LocalDbPublisher::Current() {
  std::lock_guard<std::mutex> lock(mutex_);
  // Read before the copy is built: a change landing in between makes the copy newer than its
  // version, which only costs one more rebuild, never a stale copy kept.
  const int64_t version = store_.OpenSession()->MasterDataVersion();
  if (!built_ || version != version_) {
    try {
      copy_ = Build(version);
    } catch (...) {
      buildFailures_.fetch_add(1, std::memory_order_relaxed);
      throw;
    }
    builds_.fetch_add(1, std::memory_order_relaxed);
    for (auto& coded : coded_) coded.reset();
    version_ = version;
    built_ = true;
  }
  return copy_;
}

bool LocalDbPublisher::Matches(const std::string& ifNoneMatch, const std::string& etag) {
  std::stringstream list(ifNoneMatch);
  std::string tag;
  while (std::getline(list, tag, ',')) {
    const size_t first = tag.find_first_not_of(" \t");
    if (first == std::string::npos) continue;
    tag = tag.substr(first, tag.find_last_not_of(" \t") - first + 1);
    if (tag == "*") return true;
    if (tag.rfind("W/", 0) == 0) tag = tag.substr(2);
    if (tag == etag) return true;
    for (const ContentCoding coding : {ContentCoding::Zstd, ContentCoding::Gzip}) {
      if (tag == CodedTag(etag, coding)) return true;
    }
  }
  return false;
}

std::string LocalDbPublisher::CodedTag(const std::string& etag, ContentCoding coding) {
  if (coding == ContentCoding::Identity || etag.size() < 2 || etag.back() != '"') return etag;
  return etag.substr(0, etag.size() - 1) + "-" + CodingName(coding) + "\"";
}

LocalDbAnswer LocalDbPublisher::Answer(const std::string& ifNoneMatch, ContentCoding coding) {
  try {
    const LocalDbCopy copy = Current();
    const std::string etag = CodedTag(copy.etag, coding);
    if (Matches(ifNoneMatch, copy.etag)) return LocalDbAnswer{304, etag, nullptr, coding};
    if (coding == ContentCoding::Identity) return LocalDbAnswer{200, copy.etag, copy.bytes};
    std::shared_ptr<const std::string> coded;
    {
      // One compression of a copy at a time; the others wait for it and share it.
      std::lock_guard<std::mutex> lock(mutex_);
      auto& kept = coded_[static_cast<int>(coding)];
      // The copy may have been rebuilt meanwhile: what is kept then belongs to the newer one.
      if (copy_.bytes != copy.bytes) return LocalDbAnswer{200, copy.etag, copy.bytes};
      if (!kept) kept = std::make_shared<const std::string>(Compress(*copy.bytes, coding));
      coded = kept;
    }
    return LocalDbAnswer{200, etag, std::move(coded), coding};
  } catch (const std::exception& e) {
    return LocalDbAnswer{503, "", std::make_shared<const std::string>(std::string("the local database cannot be built: ") + e.what())};
  }
}

}  // namespace server
