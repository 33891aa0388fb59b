// Event signatures of the platform. Handlers are plain std::function values so that a screen can
// bind its member functions by name (see forms/Description.h) and tests can bind lambdas.
#pragma once

#include <functional>
#include <string>

#include "host/core/Component.h"

namespace host {

class TDataSet;
class TField;

enum class TCloseAction { caNone, caHide, caFree, caMinimize };
enum class TMouseButton { mbLeft, mbRight, mbMiddle };

// Shift keys and mouse buttons held during an event.
struct TShiftState {
  bool shift = false;
  bool alt = false;
  bool ctrl = false;
};

using TNotifyEvent = std::function<void(TObject* sender)>;
using TDataSetNotifyEvent = std::function<void(TDataSet* dataSet)>;
// The key is passed by reference: a handler that sets it to 0 drops the character.
using TKeyPressEvent = std::function<void(TObject* sender, char& key)>;
using TKeyEvent = std::function<void(TObject* sender, int& key, TShiftState shift)>;
using TCloseEvent = std::function<void(TObject* sender, TCloseAction& action)>;
using TMouseEvent =
    std::function<void(TObject* sender, TMouseButton button, TShiftState shift, int x, int y)>;
// Supplies the shown text of a field; displayText tells display from editing.
using TFieldGetTextEvent = std::function<void(TField* sender, std::string& text, bool displayText)>;

// Key codes used by grids.
inline constexpr int VK_BACK = 8;
inline constexpr int VK_TAB = 9;
inline constexpr int VK_RETURN = 13;
inline constexpr int VK_ESCAPE = 27;
inline constexpr int VK_DELETE = 46;
inline constexpr int VK_INSERT = 45;
inline constexpr int VK_UP = 38;
inline constexpr int VK_DOWN = 40;

// Screen cursor codes.
inline constexpr int crDefault = 0;
inline constexpr int crHourGlass = -11;

}  // namespace host
