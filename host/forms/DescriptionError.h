// EDescriptionError: a screen description that cannot be read or applied. The message starts
// with the 1-based line of the description where the fault lies ("line 42: handler
// 'cdsProdutoBeforeEdt' for cdsProduto.BeforeEdit not found"), so the screen's author can find it.
#pragma once

#include <string>

#include "host/core/Component.h"

namespace host {

class EDescriptionError : public EPlatformError {
 public:
  EDescriptionError(int line, const std::string& message)
      : EPlatformError("line " + std::to_string(line) + ": " + message), line_(line) {}

  // The 1-based line of the fault.
  int Line() const { return line_; }

 private:
  int line_;
};

}  // namespace host
