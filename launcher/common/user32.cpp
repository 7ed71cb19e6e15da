#include "common/user32.h"

namespace morix {

User32::User32() : module_(LoadLibraryW(L"user32.dll")) {
    HMODULE module = module_.get();
    messageBox = lookupFunction<decltype(messageBox)>(module, "MessageBoxW");
    enumWindows = lookupFunction<decltype(enumWindows)>(module, "EnumWindows");
    getWindowThreadProcessId =
        lookupFunction<decltype(getWindowThreadProcessId)>(module, "GetWindowThreadProcessId");
    isWindowVisible = lookupFunction<decltype(isWindowVisible)>(module, "IsWindowVisible");
    isIconic = lookupFunction<decltype(isIconic)>(module, "IsIconic");
    showWindow = lookupFunction<decltype(showWindow)>(module, "ShowWindow");
    setForegroundWindow = lookupFunction<decltype(setForegroundWindow)>(module, "SetForegroundWindow");
    getLastActivePopup = lookupFunction<decltype(getLastActivePopup)>(module, "GetLastActivePopup");
}

bool User32::canRaiseWindows() const {
    return enumWindows && getWindowThreadProcessId && isWindowVisible && isIconic && showWindow &&
           setForegroundWindow && getLastActivePopup;
}

} // namespace morix
