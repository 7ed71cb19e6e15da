// user32.dll, loaded only where a window or a message box is needed. A launcher that never shows one then
// never loads it: under Wine its loading alone makes a small console program half as slow again.
#pragma once

#include "common/handles.h"

#include <windows.h>

namespace morix {

// Owns the loaded module and the functions the launcher takes from it; a function that was not found is
// null, and so is every one when the module could not be loaded.
class User32 {
public:
    User32();

    // True when everything that raising another process's windows takes was found.
    bool canRaiseWindows() const;

    decltype(&::MessageBoxW) messageBox = nullptr;
    decltype(&::EnumWindows) enumWindows = nullptr;
    decltype(&::GetWindowThreadProcessId) getWindowThreadProcessId = nullptr;
    decltype(&::IsWindowVisible) isWindowVisible = nullptr;
    decltype(&::IsIconic) isIconic = nullptr;
    decltype(&::ShowWindow) showWindow = nullptr;
    decltype(&::SetForegroundWindow) setForegroundWindow = nullptr;
    decltype(&::GetLastActivePopup) getLastActivePopup = nullptr;

private:
    UniqueModule module_;
};

} // namespace morix
