#include "scripted_child.h"

#include "common/handles.h"
#include "common/text.h"

#include <windows.h>

#include <cstdlib>
#include <map>
#include <sstream>

namespace morix::test {
namespace {

std::wstring besideProbe(const wchar_t* name) {
    std::wstring module(MAX_PATH * 8, L'\0');
    DWORD length = GetModuleFileNameW(nullptr, module.data(), static_cast<DWORD>(module.size()));
    module.resize(length);
    return module.substr(0, module.find_last_of(L'\\') + 1) + name;
}

std::string readWholeFile(const std::wstring& path) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string content;
    if (!file) {
        return content;
    }
    char buffer[4096];
    DWORD bytesRead = 0;
    while (content.size() < (1 << 20) && ReadFile(file.get(), buffer, sizeof buffer, &bytesRead, nullptr) &&
           bytesRead > 0) {
        content.append(buffer, bytesRead);
    }
    return content;
}

// Written under a temporary name and renamed, so that a test polling for the file never reads half.
void record(const wchar_t* name, const std::string& content) {
    const std::wstring path = besideProbe(name);
    const std::wstring temporary = path + L".part";
    {
        UniqueHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!file ||
            (!content.empty() &&
             !WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr))) {
            return;
        }
    }
    MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

std::map<std::string, std::string> readScript() {
    std::map<std::string, std::string> script;
    std::istringstream lines(readWholeFile(besideProbe(kChildScript)));
    for (std::string line; std::getline(lines, line);) {
        std::erase(line, '\r');
        if (size_t equals = line.find('='); equals != std::string::npos) {
            script[line.substr(0, equals)] = line.substr(equals + 1);
        }
    }
    return script;
}

int number(const std::map<std::string, std::string>& script, const std::string& key, int fallback) {
    auto entry = script.find(key);
    return entry == script.end() ? fallback : std::atoi(entry->second.c_str());
}

struct Input {
    CRITICAL_SECTION lock;
    std::string bytes;
    UniqueHandle ended{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

DWORD WINAPI readInput(LPVOID parameter) {
    auto* input = static_cast<Input*>(parameter);
    HANDLE stdIn = GetStdHandle(STD_INPUT_HANDLE);
    char buffer[4096];
    DWORD bytesRead = 0;
    while (ReadFile(stdIn, buffer, sizeof buffer, &bytesRead, nullptr) && bytesRead > 0) {
        EnterCriticalSection(&input->lock);
        input->bytes.append(buffer, bytesRead);
        LeaveCriticalSection(&input->lock);
    }
    SetEvent(input->ended.get());
    return 0;
}

size_t writeMegabytes(DWORD handleKind, int megabytes) {
    HANDLE output = GetStdHandle(handleKind);
    const std::string chunk(64 * 1024, 'x');
    size_t total = 0;
    for (int i = 0; i < megabytes * 16; ++i) {
        DWORD written = 0;
        if (!WriteFile(output, chunk.data(), static_cast<DWORD>(chunk.size()), &written, nullptr)) {
            break;
        }
        total += written;
    }
    return total;
}

} // namespace

void applyProbeEnvironment() {
    std::istringstream lines(readWholeFile(besideProbe(L"probe-environment.txt")));
    for (std::string line; std::getline(lines, line);) {
        std::erase(line, '\r');
        if (size_t equals = line.find('='); equals != std::string::npos && equals > 0) {
            SetEnvironmentVariableW(utf8ToWide(line.substr(0, equals)).c_str(),
                                    utf8ToWide(line.substr(equals + 1)).c_str());
        }
    }
}

void recordHostExitHandlers() {
    std::atexit([] { record(L"host-exit-handlers.txt", "ran\n"); });
}

void runScriptedChild() {
    const std::map<std::string, std::string> script = readScript();
    record(L"child-command-line.txt", wideToUtf8(GetCommandLineW()));
    record(L"child-started.txt", formatNarrow("pid=%lu\npriority=%lu\n", GetCurrentProcessId(),
                                              GetPriorityClass(GetCurrentProcess())));

    static Input input;
    InitializeCriticalSection(&input.lock);
    UniqueHandle reader(CreateThread(nullptr, 0, readInput, &input, 0, nullptr));

    const size_t toOutput = writeMegabytes(STD_OUTPUT_HANDLE, number(script, "stdout-mb", 0));
    const size_t toErrors = writeMegabytes(STD_ERROR_HANDLE, number(script, "stderr-mb", 0));
    record(L"child-wrote.txt", formatNarrow("stdout=%lu\nstderr=%lu\n", static_cast<unsigned long>(toOutput),
                                            static_cast<unsigned long>(toErrors)));

    const DWORD timeoutMs = static_cast<DWORD>(number(script, "timeout-ms", 60000));
    const std::string until = script.count("until") ? script.at("until") : "eof";
    if (until == "eof") {
        WaitForSingleObject(input.ended.get(), timeoutMs);
    } else if (until == "release") {
        const std::wstring release = besideProbe(L"child-release");
        const ULONGLONG end = GetTickCount64() + timeoutMs;
        while (GetFileAttributesW(release.c_str()) == INVALID_FILE_ATTRIBUTES && GetTickCount64() < end) {
            Sleep(50);
        }
    }
    Sleep(static_cast<DWORD>(number(script, "sleep-ms", 0)));

    const int exitCode = number(script, "exit", 0);
    const bool inputEnded = WaitForSingleObject(input.ended.get(), 0) == WAIT_OBJECT_0;
    EnterCriticalSection(&input.lock);
    record(L"child-input.bin", input.bytes);
    LeaveCriticalSection(&input.lock);
    record(L"child-finished.txt", formatNarrow("input-ended=%d\nexit=%d\n", inputEnded ? 1 : 0, exitCode));
    ExitProcess(static_cast<UINT>(exitCode));
}

} // namespace morix::test
