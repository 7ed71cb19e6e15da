// Start-up: loads the payload, fixes the launcher flavour and prepares the process environment in which
// the Java runtime will later be started. Runs once, before any command is dispatched.
#pragma once

#include <string>

namespace morix {

// The first character of configuration 2001: 'i' (vantarock flavour), 'e' (morix flavour) or '\0'.
extern char launcherFlavour;

// The variables through which a user could hand options to any JVM started in this process or below it.
inline constexpr const char* kJavaOptionVariables[] = {"_JAVA_OPTIONS", "JDK_JAVA_OPTIONS",
                                                       "JAVA_TOOL_OPTIONS"};

void initLauncher();

// The elements of a ";"-list that begin with the Windows directory (compared without regard to case),
// joined with ";" in their order; empty elements are dropped.
std::wstring reducePathList(const std::wstring& path, const std::wstring& windowsDirectory);

} // namespace morix
