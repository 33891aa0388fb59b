#include "server/http/ThrottledNotes.h"

namespace server::edge {

void ThrottledNotes::Note(const std::string& text, LogLevel level) {
  const auto now = std::chrono::steady_clock::now();
  std::string skipped;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (now - window_ >= std::chrono::seconds(1)) {
      if (skipped_ > 0) skipped = " (" + std::to_string(skipped_) + " similar notes not written)";
      window_ = now;
      inWindow_ = 0;
      skipped_ = 0;
    }
    if (++inWindow_ > kPerSecond) {
      ++skipped_;
      return;
    }
  }
  log_.Note(text + skipped, level);
}

}  // namespace server::edge
