// The single-instance guard: every run claims a named semaphore derived from the launcher's own path.
// Normally the instances are numbered; in single-instance mode a second instance hands over to the first
// (raising its windows when configured) and ends with exit code 0 before any Java runtime is loaded.
#pragma once

#include <windows.h>

#include <string>

namespace morix {

// The name of the semaphore this process created, e.g. Local\c:_program_files_my_app_app.exe0.
extern std::string semaphoreName;
// The process whose windows bringWindowsToFront raises.
extern DWORD windowOwnerPid;

// The registry key under HKEY_CURRENT_USER that holds the process id of each single instance.
inline constexpr const char* kInstancePidKey = "SOFTWARE\\quarrystone\\morix\\pids\\";

void checkSingleInstance();
// The launcher's full path, lower-cased and without doubled backslashes: the identity of the program.
std::string instanceKey();
void writeInstancePid();
// The process id recorded for this program, or 0.
DWORD readInstancePid();
void bringWindowsToFront(DWORD pid, bool restore);
// Appends source with every backslash and space turned into an underscore.
void appendMangledPath(std::string& destination, const std::string& source);

} // namespace morix
