// CallLog writes the server's log to a stream (stderr): one line per remote call with the
// method, the request size, the response size, the duration and the outcome, plus free notes
// (startup, shutdown). Lines from different threads never interleave. Every text written is
// escaped first (host::wire::EscapedText): control characters, DEL, backslashes, C1 controls and
// line separators appear as \xNN / \uNNNN, so text a client sent can never start a line of its
// own, send a terminal escape or be cut at a NUL.
//
// Thread-safe. Not copyable. REQUIRES: the stream outlives the log.
#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string_view>

namespace server {

class CallLog {
 public:
  explicit CallLog(std::FILE* out) : out_(out) {}
  CallLog(const CallLog&) = delete;
  CallLog& operator=(const CallLog&) = delete;

  // Writes: call method=getDados request=58B response=91234567B duration=812.4ms outcome=ok
  // (the method cut to 80 characters, the outcome to 300).
  void Call(std::string_view method, size_t requestBytes, size_t responseBytes,
            std::chrono::steady_clock::duration duration, std::string_view outcome);

  // Writes one line of text, escaped.
  void Note(std::string_view text);

 private:
  std::FILE* out_;
  std::mutex mutex_;
};

}  // namespace server
