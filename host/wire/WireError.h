// The error raised by the wire layer when bytes received from the other side do not form the
// expected document (malformed JSON, a missing member, a value of the wrong type, a row of the
// wrong width), or when a writer is used out of order. Its message says what was wrong and where,
// in words a support engineer can act on.
//
// Intentionally copyable, like every standard exception.
#pragma once

#include "host/core/Component.h"

namespace host::wire {

class EWireError : public host::EPlatformError {
 public:
  using host::EPlatformError::EPlatformError;
};

}  // namespace host::wire
