// ReplyStream produces the body of a large response piece by piece, so the HTTP layer can send
// each piece as it is made instead of holding the whole body in memory.
//
// Used by one thread at a time (the one sending the response). Not copyable.
#pragma once

#include <string>

namespace server {

class ReplyStream {
 public:
  ReplyStream() = default;
  ReplyStream(const ReplyStream&) = delete;
  ReplyStream& operator=(const ReplyStream&) = delete;
  virtual ~ReplyStream() = default;

  // Replaces the content of out with the next piece of the body. Returns true while more pieces
  // follow, false with the last piece (which may be empty). Raises on a storage failure; the
  // body is then incomplete and the caller must abandon the response.
  virtual bool Fill(std::string& out) = 0;
};

}  // namespace server
