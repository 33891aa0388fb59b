// ThrottledNotes writes the edge's notes (refused requests and connections, dropped connections,
// failed accepts) to the CallLog, at most kPerSecond in any one-second window: a flood of bad
// clients must not flood the log too. The notes left out are counted, and the first note written
// in a later window says how many ("… (N similar notes not written)").
//
// Thread-safe. Not copyable or movable. REQUIRES: the log outlives it.
#pragma once

#include <chrono>
#include <mutex>
#include <string>

#include "server/http/CallLog.h"

namespace server::edge {

class ThrottledNotes {
 public:
  static constexpr int kPerSecond = 20;

  explicit ThrottledNotes(CallLog& log) : log_(log) {}
  ThrottledNotes(const ThrottledNotes&) = delete;
  ThrottledNotes& operator=(const ThrottledNotes&) = delete;

  // Writes text as one line of the log, at level (the edge's notes are warnings), unless this
  // window's notes are spent.
  void Note(const std::string& text, LogLevel level = LogLevel::kWarning);

 private:
  CallLog& log_;
  std::mutex mutex_;
  std::chrono::steady_clock::time_point window_{};
  int inWindow_ = 0;
  int skipped_ = 0;
};

}  // namespace server::edge
