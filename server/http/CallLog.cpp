#include "server/http/CallLog.h"

#include <string>

namespace server {

void CallLog::Call(std::string_view method, size_t requestBytes, size_t responseBytes,
                   std::chrono::steady_clock::duration duration, std::string_view outcome) {
  const double ms = std::chrono::duration<double, std::milli>(duration).count();
  // Outcomes may quote request text: keep each entry on one line.
  std::string oneLine(outcome.substr(0, 300));
  for (char& c : oneLine) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  std::lock_guard<std::mutex> lock(mutex_);
  std::fprintf(out_, "call method=%.*s request=%zuB response=%zuB duration=%.1fms outcome=%s\n",
               static_cast<int>(method.size()), method.data(), requestBytes, responseBytes, ms, oneLine.c_str());
  std::fflush(out_);
}

void CallLog::Note(std::string_view text) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::fprintf(out_, "%.*s\n", static_cast<int>(text.size()), text.data());
  std::fflush(out_);
}

}  // namespace server
