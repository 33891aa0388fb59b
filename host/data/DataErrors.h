// The errors of the data layer. Each carries a message that says what was wrong in words a
// support engineer can act on (the field, the expression, the position in a packet).
//
//   EVariantError  a variant read as the wrong kind, or an array element out of bounds;
//   EDataSetError  a record-set operation that is not allowed now (closed set, no current row,
//                  not in edit or insert state, unknown field, read-only set);
//   EFilterError   a filter expression outside the filter language, or naming an unknown field;
//   EPacketError   a data packet or raw result that is malformed or does not fit the record set.
//
// All derive from EPlatformError. Intentionally copyable, like every standard exception.
#pragma once

#include "host/core/Component.h"

namespace host {

class EVariantError : public EPlatformError {
 public:
  using EPlatformError::EPlatformError;
};

class EDataSetError : public EPlatformError {
 public:
  using EPlatformError::EPlatformError;
};

class EFilterError : public EPlatformError {
 public:
  using EPlatformError::EPlatformError;
};

class EPacketError : public EPlatformError {
 public:
  using EPlatformError::EPlatformError;
};

}  // namespace host
