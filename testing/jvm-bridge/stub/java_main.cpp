// java.exe and javaw.exe of the bridged runtime. They keep the Windows layout of a runtime home (a Java
// runtime is validated by running its bin\java.exe -version); the work happens in the jli.dll beside
// them, which runs the Linux java command with this process's arguments and standard handles.
#include "common/handles.h"

#include <windows.h>

#include <cstdio>
#include <string>

int main() {
    wchar_t module[32768];
    DWORD length = GetModuleFileNameW(nullptr, module, static_cast<DWORD>(std::size(module)));
    std::wstring directory(module, length);
    directory.resize(directory.find_last_of(L'\\') + 1);
    std::wstring library = directory + L"jli.dll";

    morix::UniqueModule jli(LoadLibraryW(library.c_str()));
    auto runJava = morix::lookupFunction<void (*)()>(jli.get(), "MorixBridge_RunJava");
    if (runJava == nullptr) {
        std::fprintf(stderr, "cannot load %ls (error %lu)\n", library.c_str(), GetLastError());
        return 1;
    }
    // The DLL ends the process itself and must stay loaded until then.
    jli.release();
    runJava();
    return 1;
}
