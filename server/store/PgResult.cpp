#include "server/store/PgResult.h"

#include <charconv>
#include <cstring>

namespace server {

int64_t PgResult::Affected() const {
  if (!result_) return 0;
  const char* text = PQcmdTuples(result_.get());
  int64_t n = 0;
  std::from_chars(text, text + std::strlen(text), n);
  return n;
}

}  // namespace server
