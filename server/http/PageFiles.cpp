#include "server/http/PageFiles.h"

#include <cctype>
#include <cstdint>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>

namespace server {

namespace {

std::string TypeOf(std::string_view name) {
  const auto ends = [&](std::string_view ext) { return name.size() >= ext.size() && name.substr(name.size() - ext.size()) == ext; };
  if (ends(".html")) return "text/html; charset=utf-8";
  if (ends(".js") || ends(".mjs")) return "text/javascript; charset=utf-8";
  if (ends(".css")) return "text/css; charset=utf-8";
  if (ends(".wasm")) return "application/wasm";
  if (ends(".svg")) return "image/svg+xml";
  if (ends(".png")) return "image/png";
  if (ends(".ico")) return "image/x-icon";
  return "application/octet-stream";
}

// A strong validator of the bytes: their 64-bit FNV-1a hash and length.
std::string EtagOf(const std::string& bytes) {
  std::uint64_t h = 1469598103934665603ull;
  for (const unsigned char c : bytes) {
    h ^= c;
    h *= 1099511628211ull;
  }
  std::ostringstream out;
  out << '"' << std::hex << h << '-' << bytes.size() << '"';
  return out.str();
}

// True when an If-None-Match value names etag (or is "*"); weak validators count.
bool Matches(std::string_view header, std::string_view etag) {
  std::size_t at = 0;
  while (at < header.size()) {
    std::size_t end = header.find(',', at);
    if (end == std::string_view::npos) end = header.size();
    std::string_view tag = header.substr(at, end - at);
    while (!tag.empty() && (tag.front() == ' ' || tag.front() == '\t')) tag.remove_prefix(1);
    while (!tag.empty() && (tag.back() == ' ' || tag.back() == '\t')) tag.remove_suffix(1);
    if (tag.starts_with("W/")) tag.remove_prefix(2);
    if (tag == "*" || tag == etag) return true;
    at = end + 1;
  }
  return false;
}

}  // namespace

const PageFiles::Headers& PageFiles::SecurityHeaders() {
  static const Headers headers = {
      {"Content-Security-Policy",
       "default-src 'none'; script-src 'self' 'wasm-unsafe-eval'; style-src 'self'; img-src 'self' data: blob:; "
       "connect-src 'self'; base-uri 'none'; form-action 'self'; frame-ancestors 'none'"},
      {"X-Content-Type-Options", "nosniff"},
      {"Referrer-Policy", "no-referrer"},
      {"Cross-Origin-Opener-Policy", "same-origin"},
  };
  return headers;
}

bool PageFiles::AcceptsGzip(std::string_view header) {
  std::size_t at = 0;
  while (at < header.size()) {
    std::size_t end = header.find(',', at);
    if (end == std::string_view::npos) end = header.size();
    std::string_view item = header.substr(at, end - at);
    at = end + 1;
    const std::size_t semicolon = item.find(';');
    std::string_view coding = item.substr(0, semicolon);
    std::string_view params = semicolon == std::string_view::npos ? std::string_view() : item.substr(semicolon + 1);
    const auto trim = [](std::string_view t) {
      while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
      while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
      return t;
    };
    coding = trim(coding);
    std::string lower(coding);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower != "gzip" && lower != "x-gzip" && lower != "*") continue;
    // q=0 (0.0, 0.00, 0.000) refuses it.
    params = trim(params);
    if (params.size() >= 3 && (params[0] == 'q' || params[0] == 'Q') && params[1] == '=' &&
        params.substr(2).find_first_not_of("0.") == std::string_view::npos) {
      continue;
    }
    return true;
  }
  return false;
}

bool PageFiles::IsHashedName(std::string_view name) {
  const std::size_t ext = name.rfind('.');
  if (ext == std::string_view::npos || ext < 14) return false;
  const std::string_view hash = name.substr(ext - 12, 12);
  if (name[ext - 13] != '.') return false;
  for (const char c : hash)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

std::shared_ptr<const PageFiles> PageFiles::Load(const std::filesystem::path& folder) {
  std::shared_ptr<PageFiles> page(new PageFiles);
  std::error_code error;
  std::filesystem::directory_iterator it(folder, error);
  if (error) throw std::runtime_error("cannot read the page's folder " + folder.string() + ": " + error.message());
  std::map<std::string, std::shared_ptr<const std::string>> gzipped;
  for (const auto& entry : it) {
    if (!entry.is_regular_file()) continue;
    const std::string name = entry.path().filename().string();
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (!in && !in.eof()) throw std::runtime_error("cannot read " + entry.path().string());
    auto read = std::make_shared<const std::string>(bytes.str());
    if (name.size() > 3 && name.ends_with(".gz")) {
      gzipped.emplace(name.substr(0, name.size() - 3), std::move(read));
      continue;
    }
    File file;
    file.plain.bytes = std::move(read);
    file.type = TypeOf(name);
    file.hashed = IsHashedName(name);
    if (!file.hashed) file.plain.etag = EtagOf(*file.plain.bytes);
    page->files_.emplace(name, std::move(file));
  }
  for (auto& [name, bytes] : gzipped) {
    const auto file = page->files_.find(name);
    if (file == page->files_.end()) continue;  // a .gz of nothing is not served
    Variant variant{bytes, file->second.hashed ? std::string() : EtagOf(*bytes)};
    file->second.gzip = std::move(variant);
  }
  if (!page->files_.contains("index.html")) {
    throw std::runtime_error("the page's folder " + folder.string() + " holds no index.html");
  }
  return page;
}

std::optional<PageFiles::Answer> PageFiles::Get(std::string_view target, std::string_view ifNoneMatch,
                                                std::string_view acceptEncoding) const {
  if (const std::size_t query = target.find_first_of("?#"); query != std::string_view::npos) target = target.substr(0, query);
  if (!target.starts_with('/')) return std::nullopt;
  std::string_view name = target.substr(1);
  if (name.empty()) name = "index.html";
  // Only names directly in the folder: no sub-folders, so no way out of it.
  if (name.find('/') != std::string_view::npos || name.find('\\') != std::string_view::npos) return std::nullopt;
  const auto it = files_.find(name);
  if (it == files_.end()) return std::nullopt;
  const File& file = it->second;
  const bool gzip = file.gzip && AcceptsGzip(acceptEncoding);
  const Variant& variant = gzip ? *file.gzip : file.plain;
  Answer answer;
  answer.headers = SecurityHeaders();
  answer.headers.emplace_back("Content-Type", file.type);
  if (file.gzip) answer.headers.emplace_back("Vary", "Accept-Encoding");
  if (file.hashed) {
    answer.headers.emplace_back("Cache-Control", "public, max-age=31536000, immutable");
  } else {
    answer.headers.emplace_back("Cache-Control", "no-cache");
    answer.headers.emplace_back("ETag", variant.etag);
    if (!ifNoneMatch.empty() && Matches(ifNoneMatch, variant.etag)) {
      answer.status = 304;
      answer.body = std::make_shared<const std::string>();
      return answer;
    }
  }
  if (gzip) answer.headers.emplace_back("Content-Encoding", "gzip");
  answer.body = variant.bytes;
  return answer;
}

}  // namespace server
