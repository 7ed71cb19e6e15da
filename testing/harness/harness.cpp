#include "harness/harness.h"

#include "common/handles.h"
#include "morix/pe_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cwctype>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

namespace morix::test {
namespace {

std::atomic<int> directoryCounter{0};

std::wstring lastErrorText(const wchar_t* call) {
    return std::wstring(call) + L" failed with error " + std::to_wstring(GetLastError());
}

void check(bool ok, const wchar_t* call) {
    if (!ok) {
        throw std::runtime_error(narrow(lastErrorText(call)));
    }
}

std::wstring upper(std::wstring text) {
    for (wchar_t& c : text) {
        c = static_cast<wchar_t>(std::towupper(c));
    }
    return text;
}

// The current environment with the changes applied, as a CreateProcessW block.
std::vector<wchar_t> environmentBlock(const Environment& changes) {
    std::map<std::wstring, std::pair<std::wstring, std::wstring>> variables; // upper name -> (name, value)
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* entry = block; *entry; entry += wcslen(entry) + 1) {
        std::wstring text = entry;
        size_t equals = text.find(L'=', 1); // per-drive entries ("=C:=C:\x") start with "="
        if (equals == std::wstring::npos) {
            continue;
        }
        std::wstring name = text.substr(0, equals);
        variables[upper(name)] = {name, text.substr(equals + 1)};
    }
    FreeEnvironmentStringsW(block);
    for (const auto& [name, value] : changes) {
        if (value) {
            variables[upper(name)] = {name, *value};
        } else {
            variables.erase(upper(name));
        }
    }
    std::vector<wchar_t> result;
    for (const auto& [key, entry] : variables) {
        std::wstring line = entry.first + L"=" + entry.second;
        result.insert(result.end(), line.begin(), line.end());
        result.push_back(L'\0');
    }
    result.push_back(L'\0');
    return result;
}

UniqueHandle inheritableFile(const std::wstring& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    UniqueHandle file(CreateFileW(path.c_str(), access,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                                  disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    check(file.valid(), L"CreateFileW");
    return file;
}

std::wstring scratchFile(const wchar_t* kind) {
    static std::atomic<int> counter{0};
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    return std::wstring(temp) + L"morix-harness-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(counter++) + L"." + kind;
}

// The C runtime's text mode writes "\r\n" for every "\n"; tests compare lines.
std::string withoutCarriageReturns(std::string text) {
    std::erase(text, '\r');
    return text;
}

} // namespace

std::string narrow(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                   nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr,
                        nullptr);
    return out;
}

std::wstring wide(const std::string& utf8) {
    if (utf8.empty()) {
        return {};
    }
    int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), size);
    return out;
}

std::wstring binDirectory() {
    wchar_t module[MAX_PATH * 4];
    DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH * 4);
    std::wstring path(module, length);
    return path.substr(0, path.find_last_of(L'\\') + 1);
}

std::wstring binFile(const std::wstring& name) {
    return binDirectory() + name;
}

TestDirectory::TestDirectory() {
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    std::wstring base = std::wstring(temp) + L"morix-tests";
    CreateDirectoryW(base.c_str(), nullptr);
    std::wstring name = L"test";
    if (const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info()) {
        name = wide(info->name());
    }
    path_ = base + L"\\" + name + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(directoryCounter++);
    removeTree(path_);
    check(CreateDirectoryW(path_.c_str(), nullptr) != FALSE, L"CreateDirectoryW");
}

TestDirectory::~TestDirectory() {
    removeTree(path_);
}

std::wstring TestDirectory::file(const std::wstring& relative) const {
    return path_ + L"\\" + relative;
}

void removeTree(const std::wstring& path) {
    WIN32_FIND_DATAW entry;
    UniqueFindHandle find(FindFirstFileW((path + L"\\*").c_str(), &entry));
    if (find) {
        int entries = 0;
        do {
            std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            std::wstring child = path + L"\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                // A link: under Wine, removing it through its name would remove what it points at. The
                // test that planted it removes it (planted_links.h).
                continue;
            }
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                removeTree(child);
            } else {
                SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(child.c_str());
            }
        } while (++entries < 100000 && FindNextFileW(find.get(), &entry));
    }
    find.reset();
    RemoveDirectoryW(path.c_str());
}

void writeFile(const std::wstring& path, const std::string& content) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    check(file.valid(), L"CreateFileW");
    DWORD written = 0;
    BOOL ok = content.empty() ||
              WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    file.reset();
    check(ok && written == content.size(), L"WriteFile");
}

std::string readFile(const std::wstring& path) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return {};
    }
    std::string content;
    char buffer[65536];
    DWORD bytesRead = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &bytesRead, nullptr) && bytesRead > 0) {
        content.append(buffer, bytesRead);
    }
    return content;
}

bool pathExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void createDirectory(const std::wstring& path) {
    check(CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS,
          L"CreateDirectoryW");
}

std::vector<std::wstring> listDirectory(const std::wstring& path) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    UniqueFindHandle find(FindFirstFileW((path + L"\\*").c_str(), &entry));
    if (!find) {
        return names;
    }
    do {
        std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") {
            names.push_back(name);
        }
    } while (names.size() < 100000 && FindNextFileW(find.get(), &entry));
    std::sort(names.begin(), names.end());
    return names;
}

void writeLauncher(const std::wstring& target, const payload::Payload& payload,
                   const std::wstring& templateFile) {
    writeLauncherBytes(target, payload::serialize(payload), templateFile);
}

void writeLauncherBytes(const std::wstring& target, const std::string& payloadBytes,
                        const std::wstring& templateFile) {
    std::string image = readFile(templateFile);
    std::string error;
    std::optional<uint64_t> start = payload::findPayloadStart(image, &error);
    if (!start) {
        throw std::runtime_error("template " + narrow(templateFile) + ": " + error);
    }
    writeFile(target, image.substr(0, static_cast<size_t>(*start)) + payloadBytes);
}

uint64_t payloadOffset(const std::wstring& launcher) {
    std::string error;
    std::optional<uint64_t> start = payload::findPayloadStart(readFile(launcher), &error);
    if (!start) {
        throw std::runtime_error(narrow(launcher) + ": " + error);
    }
    return *start;
}

std::wstring quoteArgument(const std::wstring& argument) {
    return argument.find(L' ') == std::wstring::npos && !argument.empty() ? argument
                                                                          : L"\"" + argument + L"\"";
}

RunningProcess::RunningProcess(const std::wstring& commandLine, const ProcessOptions& options)
    : outputFile_(scratchFile(L"out")), errorFile_(scratchFile(L"err")) {
    UniqueHandle output = inheritableFile(outputFile_, GENERIC_WRITE, CREATE_ALWAYS);
    UniqueHandle errors = inheritableFile(errorFile_, GENERIC_WRITE, CREATE_ALWAYS);
    std::wstring inputFile = scratchFile(L"in");
    writeFile(inputFile, options.input);
    UniqueHandle input = inheritableFile(inputFile, GENERIC_READ, OPEN_EXISTING);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.get();
    startup.hStdOutput = output.get();
    startup.hStdError = errors.get();
    PROCESS_INFORMATION process{};
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    std::vector<wchar_t> environment = environmentBlock(options.environment);
    // Under load Wine now and then reports ERROR_INTERNAL_ERROR: the new process ended during its own
    // start-up, before any of the program's code ran, so starting it again repeats nothing.
    BOOL created = FALSE;
    DWORD error = ERROR_INTERNAL_ERROR;
    for (int attempt = 0; attempt < 3 && !created && error == ERROR_INTERNAL_ERROR; ++attempt) {
        if (attempt > 0) {
            Sleep(200);
        }
        created = CreateProcessW(
            nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT, environment.data(),
            options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str(), &startup,
            &process);
        error = created ? ERROR_SUCCESS : GetLastError();
    }
    output.reset();
    errors.reset();
    input.reset();
    DeleteFileW(inputFile.c_str());
    if (!created) {
        DeleteFileW(outputFile_.c_str());
        DeleteFileW(errorFile_.c_str());
        throw std::runtime_error("CreateProcessW failed with error " + std::to_string(error) + ": " +
                                 narrow(commandLine));
    }
    UniqueHandle thread(process.hThread);
    process_.reset(process.hProcess);
    pid_ = process.dwProcessId;
}

RunningProcess::~RunningProcess() {
    if (!finished_) {
        TerminateProcess(process_.get(), 1);
        WaitForSingleObject(process_.get(), 5000);
    }
    process_.reset();
    DeleteFileW(outputFile_.c_str());
    DeleteFileW(errorFile_.c_str());
}

ProcessResult RunningProcess::wait(DWORD timeoutMs) {
    ProcessResult result;
    if (WaitForSingleObject(process_.get(), timeoutMs) != WAIT_OBJECT_0) {
        result.timedOut = true;
        TerminateProcess(process_.get(), 1);
        WaitForSingleObject(process_.get(), 5000);
    }
    finished_ = true;
    GetExitCodeProcess(process_.get(), &result.exitCode);
    result.output = withoutCarriageReturns(readFile(outputFile_));
    result.errors = withoutCarriageReturns(readFile(errorFile_));
    return result;
}

ProcessResult runProcess(const std::wstring& commandLine, const ProcessOptions& options) {
    RunningProcess process(commandLine, options);
    return process.wait(options.timeoutMs);
}

std::string readLogFile(const std::wstring& path) {
    std::string text = readFile(path);
    std::erase(text, '\r');
    return text;
}

std::string readLog(const std::wstring& directory, int n) {
    return readLogFile(directory + L"\\vrk_nlog_" + std::to_wstring(n) + L".log");
}

bool waitUntil(DWORD timeoutMs, const std::function<bool()>& condition) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (!condition()) {
        if (GetTickCount64() >= end) {
            return false;
        }
        Sleep(50);
    }
    return true;
}

} // namespace morix::test
