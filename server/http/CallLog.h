// CallLog writes the server's log: one line per remote call, and notes (start-up, refusals,
// reloads, shutdown), each at a level. A line starts with its time, ISO 8601 UTC to the
// millisecond. A call's line names the request's id (the reference its failures give the user),
// the client's address, the user, the method, the HTTP status, the bytes in and out, the duration
// and the outcome:
//
//   2024-05-01T14:30:15.250Z call method=getDados request=58B response=91234567B duration=812.4ms
//       status=200 client=10.0.0.5:51234 user=maria id=0A1B2C3D outcome=ok     (one line)
//   2024-05-01T14:30:16.002Z warning: refused request from …
//
// or, in the JSON format, one object per line with the same fields ("time", "level", "event":
// "call" or "note", "message" for a note). Lines below the level asked for are not written
// (calls are info; failed calls error). Lines from different threads never interleave. Every text
// is escaped first (host::wire::EscapedText; in JSON, as JSON strings): text a client sent can
// never start a line of its own, send a terminal escape or be cut at a NUL.
//
// The log goes to a stream it was given (stderr) or to a file it opened; Reopen (after logrotate
// moved the file) opens the file again and goes on there.
//
// Thread-safe. Not copyable. REQUIRES: a stream given outlives the log.
#pragma once

#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace server {

enum class LogLevel { kDebug, kInfo, kWarning, kError };
enum class LogFormat { kText, kJson };

// The word of a level as the log writes it and --log-level takes it: debug, info, warning, error.
const char* LevelName(LogLevel level);

// One call as its log line says it.
struct CallRecord {
  std::string_view method;
  int status = 200;  // the HTTP status answered
  std::string_view client;
  std::string_view user;
  size_t requestBytes = 0;
  size_t responseBytes = 0;
  std::chrono::steady_clock::duration duration{};
  std::string_view requestId;
  std::string_view outcome;
  LogLevel level = LogLevel::kInfo;
};

class CallLog {
 public:
  // Writes to out (not owned).
  explicit CallLog(std::FILE* out, LogFormat format = LogFormat::kText, LogLevel level = LogLevel::kInfo);
  ~CallLog();
  CallLog(const CallLog&) = delete;
  CallLog& operator=(const CallLog&) = delete;

  // A file opened for appending (created with mode 0640 when missing), to hand to UseFile.
  // Raises std::runtime_error naming the file and the reason when it cannot be opened.
  struct File;
  static std::shared_ptr<File> OpenFile(const std::string& path);
  // Writes to file from now on. The file's path is what Reopen opens again.
  void UseFile(std::shared_ptr<File> file);
  // Opens the file in use again (logrotate moved it away). Returns false, going on with the file
  // open and a note saying why, when it cannot. Does nothing when the log writes to a stream.
  bool Reopen();

  void Configure(LogFormat format, LogLevel level);
  bool Enabled(LogLevel level) const;

  // Writes a call's line (the method cut to 80 characters, the outcome to 300).
  void Call(const CallRecord& call);

  // Writes one note, escaped.
  void Note(std::string_view text, LogLevel level = LogLevel::kInfo);

 private:
  void Write(const std::string& line);

  mutable std::mutex mutex_;
  std::FILE* stream_;
  std::shared_ptr<File> file_;  // when set, written instead of stream_
  LogFormat format_;
  LogLevel level_;
};

}  // namespace server
