// morix-probe: a test-only program built from the launcher's own code. Tests append a payload to it
// exactly as to the launcher template, and drive single launcher operations through its commands,
// for behaviour that the launcher's commands do not reach on their own. Any other command line makes it
// the full launcher, except that as the service's child (restart marker last) it follows a script
// instead of running Java. Never shipped.
#include "scripted_child.h"

#include "common/handles.h"
#include "common/text.h"
#include "config/extract.h"
#include "config/paths.h"
#include "config/temp_root.h"
#include "discovery/registry_sources.h"
#include "discovery/unpack.h"
#include "discovery/validation.h"
#include "discovery/vm_library.h"
#include "frame/command_line.h"
#include "frame/entry.h"
#include "frame/fatal.h"
#include "frame/process_state.h"
#include "frame/startup.h"
#include "instance/single_instance.h"
#include "windows/variables.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <vector>

using namespace morix;

namespace {

using Command = std::function<int(const ArgumentList&)>;

std::string narrowArgument(const ArgumentList& arguments, size_t index) {
    return index < arguments.size() ? wideToNarrow(arguments[index]) : std::string();
}

int intArgument(const ArgumentList& arguments, size_t index) {
    return std::atoi(narrowArgument(arguments, index).c_str());
}

// The first step of a run: a failed extraction ends the process as the run does.
void extractAsARunDoes() {
    if (extractFiles() != 0) {
        fatalErrorByIdNarrow(1009, "16");
    }
}

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

// A visible top-level window, minimised, for the guard of a second instance to raise.
HWND createMinimisedWindow() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"MorixProbeWindow";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, L"MorixProbeWindow", L"probe", WS_OVERLAPPEDWINDOW, 10, 10, 200, 100,
                                  nullptr, nullptr, windowClass.hInstance, nullptr);
    ShowWindow(window, SW_SHOWMINIMIZED);
    return window;
}

// Tells a waiting test that the guard has run (the file appears only when complete).
void writeReadyFile(const std::wstring& path, const std::string& content) {
    if (path.empty()) {
        return;
    }
    const std::wstring partial = path + L".part";
    UniqueHandle file(CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    file.reset();
    MoveFileW(partial.c_str(), path.c_str());
}

// Keeps the process (and its semaphore) alive; a window's messages are served meanwhile.
void hold(DWORD milliseconds) {
    const ULONGLONG end = GetTickCount64() + milliseconds;
    for (ULONGLONG now = GetTickCount64(); now < end; now = GetTickCount64()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

void printVariableState(const char* name) {
    char value[64] = "";
    DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    const char* crtValue = std::getenv(name);
    std::printf("%s process=%s crt=%s\n", name, length > 0 ? "set" : "unset", crtValue ? "set" : "unset");
}

// Runs cmd.exe's "set" with this process's environment; its listing goes to our standard output.
int listChildEnvironment() {
    wchar_t windows[MAX_PATH] = L"";
    GetWindowsDirectoryW(windows, MAX_PATH);
    std::wstring line = std::wstring(windows) + L"\\system32\\cmd.exe /C set";
    std::vector<wchar_t> commandLine(line.begin(), line.end());
    commandLine.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::fflush(stdout);
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process)) {
        std::printf("CreateProcessW error %lu\n", GetLastError());
        return 1;
    }
    UniqueHandle processHandle(process.hProcess);
    UniqueHandle threadHandle(process.hThread);
    return WaitForSingleObject(processHandle.get(), 30000) == WAIT_OBJECT_0 ? 0 : 1;
}

void printPath() {
    char path[32768] = "";
    GetEnvironmentVariableA("PATH", path, sizeof path);
    std::printf("PATH=%s\n", path);
}

const std::map<std::wstring, Command>& commands() {
    static const std::map<std::wstring, Command> table = {
        // show-message ID [INSERT]: shows a message and returns
        {L"show-message",
         [](const ArgumentList& a) {
             std::wstring insert = a.size() > 2 ? a[2] : L"";
             showMessageById(intArgument(a, 1), a.size() > 2 ? insert.c_str() : nullptr);
             return 0;
         }},
        // fatal ID [INSERT]: the fatal path of a message id
        {L"fatal",
         [](const ArgumentList& a) -> int {
             std::wstring insert = a.size() > 2 ? a[2] : L"";
             fatalErrorById(intArgument(a, 1), a.size() > 2 ? insert.c_str() : nullptr);
         }},
        // fatal-cleanup DIR ID: a fatal exit while DIR is the launcher's temporary directory
        {L"fatal-cleanup",
         [](const ArgumentList& a) -> int {
             appTempDir = narrowArgument(a, 1);
             fatalErrorById(intArgument(a, 2), nullptr);
         }},
        // paths: the executable's paths and directories, one per line
        {L"paths",
         [](const ArgumentList&) {
             std::printf("narrow=%s\nwide=%s\ndirectory=%s\n", getExecutablePath().c_str(),
                         wideToUtf8(getExecutablePathWide()).c_str(), getExecutableDirectory().c_str());
             return 0;
         }},
        // temp-root: the narrow and the wide temporary root
        {L"temp-root",
         [](const ArgumentList&) {
             std::string narrowRoot = getTempRoot();
             std::printf("narrow=%s\nwide=%s\n", narrowRoot.c_str(),
                         wideToUtf8(getTempRootWide(false)).c_str());
             return 0;
         }},
        // extract [fatal]: the included files as a run extracts them; with "fatal", then a fatal exit
        {L"extract",
         [](const ArgumentList& a) {
             extractAsARunDoes();
             std::printf("appTempDir=%s\nunextractedPosition=%u\n", appTempDir.c_str(),
                         static_cast<unsigned>(unextractedPosition));
             std::fflush(stdout);
             if (a.size() > 1 && a[1] == L"fatal") {
                 fatalErrorById(1009, L"x");
             }
             return 0;
         }},
        // guard HOLD_MS READY_FILE [window]: extraction and the single-instance guard as a run does them;
        // then the semaphore name goes to READY_FILE and the process holds it for HOLD_MS
        {L"guard",
         [](const ArgumentList& a) {
             extractAsARunDoes();
             checkSingleInstance();
             HWND window = a.size() > 3 && a[3] == L"window" ? createMinimisedWindow() : nullptr;
             std::printf("semaphore=%s\npid=%lu\n", semaphoreName.c_str(), GetCurrentProcessId());
             std::fflush(stdout);
             writeReadyFile(a.size() > 2 ? a[2] : L"", semaphoreName);
             hold(static_cast<DWORD>(intArgument(a, 1)));
             if (window != nullptr) {
                 std::printf("iconic=%d\n", IsIconic(window) ? 1 : 0);
             }
             return 0;
         }},
        // expand narrow|wide|narrowsafe TEXT: the text with its variables expanded (wide forms as UTF-8)
        {L"expand",
         [](const ArgumentList& a) {
             const std::wstring mode = a.size() > 1 ? a[1] : L"";
             std::wstring text = a.size() > 2 ? a[2] : L"";
             if (mode == L"narrow") {
                 std::string narrowText = wideToNarrow(text);
                 expandVariablesNarrow(narrowText);
                 std::printf("%s\n", narrowText.c_str());
             } else {
                 expandVariables(text, mode == L"narrowsafe");
                 std::printf("%s\n", wideToUtf8(text).c_str());
             }
             return 0;
         }},
        // startup-state: what start-up left: flavour, working directory, PATH, the JVM option variables
        {L"startup-state",
         [](const ArgumentList&) {
             wchar_t directory[MAX_PATH] = L"";
             GetCurrentDirectoryW(MAX_PATH, directory);
             std::vector<wchar_t> path(32767, L'\0');
             GetEnvironmentVariableW(L"PATH", path.data(), 32767);
             std::printf("flavour=%d\ncwd=%s\nPATH=%s\n", launcherFlavour, wideToUtf8(directory).c_str(),
                         wideToUtf8(path.data()).c_str());
             for (const char* name : kJavaOptionVariables) {
                 printVariableState(name);
             }
             return 0;
         }},
        // child-env: the environment a child process receives (cmd.exe's "set")
        {L"child-env", [](const ArgumentList&) { return listChildEnvironment(); }},
        // check-java EXE MIN MAX ALLOWBETA USECACHE [TIMEOUT_MS]: validates one candidate
        {L"check-java",
         [](const ArgumentList& a) {
             if (a.size() > 6) {
                 javaVersionTimeoutMs = static_cast<unsigned>(intArgument(a, 6));
             }
             std::string exe = narrowArgument(a, 1);
             std::string version;
             bool ok = checkJavaExe(exe, version, parseVersion(narrowArgument(a, 2)),
                                    parseVersion(narrowArgument(a, 3)), intArgument(a, 4) != 0,
                                    intArgument(a, 5) != 0);
             std::printf("result=%d\njava=%s\nversion=%s\n", ok ? 1 : 0, exe.c_str(), version.c_str());
             char options[256] = "<unset>";
             GetEnvironmentVariableA("_JAVA_OPTIONS", options, sizeof options);
             std::printf("_JAVA_OPTIONS=%s\n", options);
             return 0;
         }},
        // load-dll [NATIVE]: the runtime search and jvm.dll loading, with the native library path first
        {L"load-dll",
         [](const ArgumentList& a) {
             if (a.size() > 1 && a[1] == L"native") {
                 setNativeLibraryPath();
             }
             bool ok = LoadDLL(true);
             std::printf("result=%d\njvmHome=%s\njvmVersion=%s\njvmBinDirectory=%s\ncreateJavaVM=%d\n",
                         ok ? 1 : 0, jvmHome.c_str(), jvmVersion.c_str(), jvmBinDirectory.c_str(),
                         createJavaVM ? 1 : 0);
             printPath();
             return ok ? 0 : 1;
         }},
        // load-from-bin JAVAEXE: one loading attempt, then PATH
        {L"load-from-bin",
         [](const ArgumentList& a) {
             HMODULE module = loadJvmDllFromBin(narrowArgument(a, 1));
             std::printf("loaded=%d\njvmBinDirectory=%s\n", module ? 1 : 0, jvmBinDirectory.c_str());
             printPath();
             return 0;
         }},
        // search-registry MIN MAX: the registry source alone
        {L"search-registry",
         [](const ArgumentList& a) {
             std::string exe, version;
             bool ok = searchRegistry(exe, version, parseVersion(narrowArgument(a, 1)),
                                      parseVersion(narrowArgument(a, 2)));
             std::printf("result=%d\njava=%s\nversion=%s\n", ok ? 1 : 0, exe.c_str(), version.c_str());
             return 0;
         }},
        // unpack HOME: expands the packed archives of a runtime home
        {L"unpack",
         [](const ArgumentList& a) {
             unpackPackedRuntime(narrowArgument(a, 1));
             return 0;
         }},
        // preload-ucrtbase BIN
        {L"preload-ucrtbase",
         [](const ArgumentList& a) {
             preloadUcrtbase(narrowArgument(a, 1));
             std::printf("loaded=%d\n", GetModuleHandleA("ucrtbase.dll") ? 1 : 0);
             return 0;
         }},
    };
    return table;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    morix::test::applyProbeEnvironment();
    ArgumentList arguments = splitProcessCommandLine(GetCommandLineW());
    if (!arguments.empty()) {
        arguments.pop_front();
    }
    if (!arguments.empty() && arguments.back() == kRestartMarker) {
        morix::test::runScriptedChild();
    }
    if (arguments.empty()) {
        morix::test::recordHostExitHandlers();
    }
    if (arguments.empty() || !commands().count(arguments.front())) {
        return launcherMain();
    }
    initLauncher();
    int result = commands().at(arguments.front())(arguments);
    std::fflush(stdout);
    return result;
}
