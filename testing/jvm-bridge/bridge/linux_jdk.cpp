#include "linux_jdk.h"

#include "diagnostics.h"
#include "windows_paths.h"
#include "winelib.h"

#include <dlfcn.h>
#include <langinfo.h>
#include <unistd.h>

#include <array>
#include <clocale>
#include <cstdlib>
#include <cstring>

#ifndef MORIX_BRIDGE_JAVA_HOME
#error "MORIX_BRIDGE_JAVA_HOME names the Linux JDK that the bridge runs"
#endif

namespace morix::bridge {
namespace {

// The variables that the JVM itself reads at its start.
constexpr std::array<const char16_t*, 3> kJvmOptionVariables = {u"JAVA_TOOL_OPTIONS", u"_JAVA_OPTIONS",
                                                                u"JDK_JAVA_OPTIONS"};
constexpr DWORD kMaxVariableLength = 32767;

void adoptVariable(const char16_t* name) {
    std::u16string value(kMaxVariableLength, u'\0');
    DWORD length = GetEnvironmentVariableW(reinterpret_cast<const WCHAR*>(name),
                                           reinterpret_cast<WCHAR*>(value.data()), kMaxVariableLength);
    std::string unixName = toUtf8(name);
    if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
        unsetenv(unixName.c_str());
        return;
    }
    value.resize(length < kMaxVariableLength ? length : 0);
    setenv(unixName.c_str(), toUtf8(value).c_str(), 1);
}

void adoptWorkingDirectory() {
    std::u16string directory(32768, u'\0');
    DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(directory.size()),
                                        reinterpret_cast<WCHAR*>(directory.data()));
    if (length == 0 || length >= directory.size()) {
        return;
    }
    directory.resize(length);
    std::string unixDirectory = unixPathOf(directory);
    if (chdir(unixDirectory.c_str()) != 0) {
        trace("cannot enter the working directory %s", unixDirectory.c_str());
    }
}

void useUtf8Locale() {
    setlocale(LC_CTYPE, "");
    if (strcmp(nl_langinfo(CODESET), "UTF-8") != 0 && setlocale(LC_CTYPE, "C.UTF-8") == nullptr) {
        trace("no UTF-8 locale: non-ASCII text may reach Java mangled");
    }
}

} // namespace

std::string linuxJavaHome() {
    const char* home = getenv("MORIX_BRIDGE_JAVA_HOME");
    return home != nullptr && *home != '\0' ? home : MORIX_BRIDGE_JAVA_HOME;
}

void* openJdkLibrary(const char* relativePath) {
    std::string path = linuxJavaHome() + "/" + relativePath;
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (library == nullptr) {
        trace("cannot load %s: %s", path.c_str(), dlerror());
    }
    return library;
}

void adoptWindowsEnvironment() {
    for (const char16_t* name : kJvmOptionVariables) {
        adoptVariable(name);
    }
    adoptWorkingDirectory();
    useUtf8Locale();
}

} // namespace morix::bridge
