// A stand-in unpack200.exe: "-r PACKED ARCHIVE" writes ARCHIVE as PACKED with every byte XORed with 0x5A
// (the fake runtimes pack that way), records its command line in unpack200-runs.log beside it, and
// removes PACKED only when unpack200-removes-input exists beside it.
#include <windows.h>

#include <string>

namespace {

std::string readAll(const wchar_t* path) {
    std::string content;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return content;
    }
    char buffer[65536];
    DWORD bytesRead = 0;
    while (ReadFile(file, buffer, sizeof buffer, &bytesRead, nullptr) && bytesRead > 0) {
        content.append(buffer, bytesRead);
    }
    CloseHandle(file);
    return content;
}

void write(const std::wstring& path, const std::string& content, DWORD disposition) {
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              disposition, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    if (disposition == OPEN_ALWAYS) {
        SetFilePointer(file, 0, nullptr, FILE_END);
    }
    DWORD written = 0;
    WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    wchar_t self[MAX_PATH * 4];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
    std::wstring directory(self, length);
    directory.erase(directory.find_last_of(L'\\') + 1);

    const wchar_t* commandLine = GetCommandLineW();
    int size = WideCharToMultiByte(CP_UTF8, 0, commandLine, -1, nullptr, 0, nullptr, nullptr);
    std::string line(static_cast<size_t>(size > 0 ? size - 1 : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, commandLine, -1, line.data(), size, nullptr, nullptr);
    write(directory + L"unpack200-runs.log", line + "\n", OPEN_ALWAYS);

    // The launcher gives no program name before the options, so "-r" may arrive as argv[0].
    int first = argc == 3 ? 0 : 1;
    if (argc - first != 3 || std::wstring(argv[first]) != L"-r") {
        return 2;
    }
    const wchar_t* packed = argv[first + 1];
    const wchar_t* archive = argv[first + 2];
    std::string content = readAll(packed);
    for (char& c : content) {
        c = static_cast<char>(c ^ 0x5A);
    }
    write(archive, content, CREATE_ALWAYS);
    if (GetFileAttributesW((directory + L"unpack200-removes-input").c_str()) != INVALID_FILE_ATTRIBUTES) {
        DeleteFileW(packed);
    }
    return 0;
}
