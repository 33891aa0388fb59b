#include "server/http/CallLog.h"

#include <string>

#include "host/wire/EscapedText.h"

namespace server {

void CallLog::Call(std::string_view method, size_t requestBytes, size_t responseBytes,
                   std::chrono::steady_clock::duration duration, std::string_view outcome) {
  const double ms = std::chrono::duration<double, std::milli>(duration).count();
  // The method and the outcome may quote request text: escaped, neither can end the line, start a
  // terminal escape or cut the line at a NUL.
  const std::string shownMethod = host::wire::EscapedText(method, 80);
  const std::string shownOutcome = host::wire::EscapedText(outcome, 300);
  std::lock_guard<std::mutex> lock(mutex_);
  std::fprintf(out_, "call method=%s request=%zuB response=%zuB duration=%.1fms outcome=%s\n",
               shownMethod.c_str(), requestBytes, responseBytes, ms, shownOutcome.c_str());
  std::fflush(out_);
}

void CallLog::Note(std::string_view text) {
  const std::string shown = host::wire::EscapedText(text);
  std::lock_guard<std::mutex> lock(mutex_);
  std::fprintf(out_, "%s\n", shown.c_str());
  std::fflush(out_);
}

}  // namespace server
