// The vocabulary of the platform's modal message dialog: its types, its buttons, the modal
// results it returns, and the one entry point through which the text layer asks a question.
//
// The text layer cannot reach the host services (they sit above it), so the question is asked
// through a handler that the services layer installs when a host is installed
// (services/HostLib.h SetHostServices). TMessages::ShowMsg goes through ShowMessageDialog.
//
// Thread rules: the handler is installed and called on the user-interface thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>

#include "host/core/Component.h"

namespace host {

enum class TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

enum TMsgDlgBtn {
  mbYes,
  mbNo,
  mbOK,
  mbCancel,
  mbAbort,
  mbRetry,
  mbIgnore,
  mbAll,
  mbNoToAll,
  mbYesToAll,
  mbHelp
};

// A set of dialog buttons, written as the platform writes it: {mbYes, mbNo}.
// Intentionally copyable.
class TMsgDlgButtons {
 public:
  TMsgDlgButtons() = default;
  TMsgDlgButtons(std::initializer_list<TMsgDlgBtn> buttons) {
    for (TMsgDlgBtn b : buttons) bits_ |= Bit(b);
  }
  bool Contains(TMsgDlgBtn b) const { return (bits_ & Bit(b)) != 0; }
  bool Empty() const { return bits_ == 0; }
  bool operator==(const TMsgDlgButtons&) const = default;

 private:
  static std::uint32_t Bit(TMsgDlgBtn b) { return std::uint32_t{1} << static_cast<unsigned>(b); }
  std::uint32_t bits_ = 0;
};

// Modal results of a dialog.
inline constexpr int mrNone = 0;
inline constexpr int mrOk = 1;
inline constexpr int mrCancel = 2;
inline constexpr int mrAbort = 3;
inline constexpr int mrRetry = 4;
inline constexpr int mrIgnore = 5;
inline constexpr int mrYes = 6;
inline constexpr int mrNo = 7;

// Asks a modal question and returns the modal result.
using TMessageDialogHandler =
    std::function<int(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons,
                      int helpContext)>;

// Installs the handler (an empty one uninstalls it). Called by the services layer.
void SetMessageDialogHandler(TMessageDialogHandler handler);

// Asks the question through the installed handler and returns its modal result.
// Raises EPlatformError when no handler is installed (no host services installed).
int ShowMessageDialog(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons,
                      int helpContext);

}  // namespace host
