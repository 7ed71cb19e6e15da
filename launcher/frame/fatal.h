// The launcher's one way to give up: show a message (message box or console), remove the launcher's
// temporary directory and end the process. The fatal operations do not return.
#pragma once

#include <string>

namespace morix {

// True until the payload is loaded; then true only for the executable types that show message boxes.
extern bool errorDialogMode;

void showErrorText(const std::wstring& text);
// The message text of the id with its first "{0}" replaced by the insert (when one is given).
std::wstring messageText(int id, const wchar_t* insert);
// Shows messageText.
void showMessageById(int id, const wchar_t* insert);
void showMessageByIdNarrow(int id, const std::string& insert);

[[noreturn]] void exitLauncher(unsigned code);
[[noreturn]] void fatalError(const std::wstring& text);
[[noreturn]] void fatalErrorById(int id, const wchar_t* insert);
[[noreturn]] void fatalErrorByIdNarrow(int id, const std::string& insert);

} // namespace morix
