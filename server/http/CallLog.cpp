#include "server/http/CallLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include "host/wire/EscapedText.h"
#include "host/wire/PacketWriter.h"
#include "server/service/AuditTime.h"

namespace server {

struct CallLog::File {
  std::string path;
  int fd = -1;
  ~File() {
    if (fd >= 0) ::close(fd);
  }
};

namespace {

using host::wire::EscapedText;
using host::wire::PacketWriter;

std::string Json(std::string_view text) {
  std::string out;
  PacketWriter::AppendJsonString(out, text);
  return out;
}

std::string Milliseconds(std::chrono::steady_clock::duration duration) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", std::chrono::duration<double, std::milli>(duration).count());
  return text;
}

// A value of a text line: escaped, and "-" when empty, so that every field is one word.
std::string Field(std::string_view text, size_t max) { return text.empty() ? "-" : EscapedText(text, max); }

}  // namespace

const char* LevelName(LogLevel level) {
  switch (level) {
    case LogLevel::kDebug: return "debug";
    case LogLevel::kInfo: return "info";
    case LogLevel::kWarning: return "warning";
    case LogLevel::kError: break;
  }
  return "error";
}

CallLog::CallLog(std::FILE* out, LogFormat format, LogLevel level) : stream_(out), format_(format), level_(level) {}

CallLog::~CallLog() = default;

std::shared_ptr<CallLog::File> CallLog::OpenFile(const std::string& path) {
  auto file = std::make_shared<File>();
  file->path = path;
  file->fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0640);
  if (file->fd < 0) throw std::runtime_error("cannot open the log file " + path + ": " + std::strerror(errno));
  return file;
}

void CallLog::UseFile(std::shared_ptr<File> file) {
  std::lock_guard<std::mutex> lock(mutex_);
  file_ = std::move(file);
}

bool CallLog::Reopen() {
  std::shared_ptr<File> current;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    current = file_;
  }
  if (!current) return true;
  try {
    UseFile(OpenFile(current->path));
    return true;
  } catch (const std::exception& e) {
    Note(std::string(e.what()) + "; the log goes on in the file open before", LogLevel::kError);
    return false;
  }
}

void CallLog::Configure(LogFormat format, LogLevel level) {
  std::lock_guard<std::mutex> lock(mutex_);
  format_ = format;
  level_ = level;
}

bool CallLog::Enabled(LogLevel level) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return level >= level_;
}

void CallLog::Call(const CallRecord& call) {
  LogFormat format;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (call.level < level_) return;
    format = format_;
  }
  std::string line = AuditTime::Now();
  const std::string duration = Milliseconds(call.duration);
  if (format == LogFormat::kJson) {
    line = "{\"time\":\"" + line + "\",\"level\":\"" + LevelName(call.level) + "\",\"event\":\"call\",\"method\":" +
           Json(call.method.substr(0, 80)) + ",\"status\":" + std::to_string(call.status) + ",\"client\":" +
           Json(call.client) + ",\"user\":" + Json(call.user) + ",\"requestBytes\":" +
           std::to_string(call.requestBytes) + ",\"responseBytes\":" + std::to_string(call.responseBytes) +
           ",\"durationMs\":" + duration + ",\"requestId\":" + Json(call.requestId) + ",\"outcome\":" +
           Json(call.outcome.substr(0, 1200)) + "}";
  } else {
    // The method and the outcome may quote request text: escaped, neither can end the line, start a
    // terminal escape or cut the line at a NUL.
    line += " call method=" + Field(call.method, 80) + " request=" + std::to_string(call.requestBytes) +
            "B response=" + std::to_string(call.responseBytes) + "B duration=" + duration +
            "ms status=" + std::to_string(call.status) + " client=" + Field(call.client, 100) +
            " user=" + Field(call.user, 100) + " id=" + Field(call.requestId, 64) +
            " outcome=" + EscapedText(call.outcome, 300);
  }
  Write(line);
}

void CallLog::Note(std::string_view text, LogLevel level) {
  LogFormat format;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (level < level_) return;
    format = format_;
  }
  std::string line = AuditTime::Now();
  if (format == LogFormat::kJson) {
    line = "{\"time\":\"" + line + "\",\"level\":\"" + LevelName(level) + "\",\"event\":\"note\",\"message\":" +
           Json(text) + "}";
  } else {
    line += level == LogLevel::kInfo ? " " : std::string(" ") + LevelName(level) + ": ";
    line += EscapedText(text);
  }
  Write(line);
}

void CallLog::Write(const std::string& text) {
  const std::string line = text + "\n";
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_) {
    // One write per line on a descriptor opened for appending: lines stay whole even when several
    // processes write to the same file.
    size_t done = 0;
    while (done < line.size()) {
      const ssize_t n = ::write(file_->fd, line.data() + done, line.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;  // a full disk loses the line, never the server
      done += static_cast<size_t>(n);
    }
    return;
  }
  std::fwrite(line.data(), 1, line.size(), stream_);
  std::fflush(stream_);
}

}  // namespace server
