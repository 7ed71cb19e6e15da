#include "harness/fake_runtime.h"

#include "common/handles.h"
#include "harness/harness.h"

#include <stdexcept>

namespace morix::test {
namespace {

void copyFile(const std::wstring& from, const std::wstring& to) {
    if (!CopyFileW(from.c_str(), to.c_str(), FALSE)) {
        throw std::runtime_error("CopyFileW " + narrow(from) + " -> " + narrow(to) + " failed with error " +
                                 std::to_string(GetLastError()));
    }
}

// Creates every directory of a path below an existing root.
void createDirectories(const std::wstring& path) {
    for (size_t slash = path.find(L'\\', 3); slash != std::wstring::npos;
         slash = path.find(L'\\', slash + 1)) {
        CreateDirectoryW(path.substr(0, slash).c_str(), nullptr);
    }
    CreateDirectoryW(path.c_str(), nullptr);
}

std::string configText(const FakeJava& java) {
    return "version=" + java.version + "\nform=" + java.form + "\nexit=" + std::to_string(java.exitCode) +
           "\nhang=" + (java.hang ? "1" : "0") + "\n";
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        result.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return result;
}

} // namespace

FakeRuntime::FakeRuntime(const std::wstring& home, const FakeJava& java) : home_(home) {
    createDirectories(home_);
    addJava(L"bin");
    setJava(java);
    addJvm(L"bin", L"server");
}

FakeRuntime::~FakeRuntime() {
    for (const Key& key : keys_) {
        deleteRegistryTree(key.hive, key.name, key.view);
    }
    for (const auto& [family, previous] : currentVersions_) {
        if (previous.empty()) {
            UniqueRegKey key;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, family.c_str(), 0, KEY_SET_VALUE, key.receive()) ==
                ERROR_SUCCESS) {
                RegDeleteValueW(key.get(), L"CurrentVersion");
            }
        } else {
            setRegistryString(HKEY_LOCAL_MACHINE, family, L"CurrentVersion", previous);
        }
    }
    for (const std::wstring& exe : javaExes_) {
        deleteRegistryTree(HKEY_CURRENT_USER, versionCacheKey(exe));
    }
}

std::wstring FakeRuntime::javaExe(const std::wstring& bin) const {
    return home_ + L"\\" + bin + L"\\java.exe";
}

FakeRuntime& FakeRuntime::addJava(const std::wstring& bin, bool javaw) {
    createDirectories(home_ + L"\\" + bin);
    copyFile(binFile(L"fake-java.exe"), javaExe(bin));
    javaExes_.push_back(javaExe(bin));
    if (!pathExists(home_ + L"\\" + bin + L"\\fake-java.cfg")) {
        writeFile(home_ + L"\\" + bin + L"\\fake-java.cfg", configText({}));
    }
    if (javaw) {
        addJavaw(bin);
    }
    return *this;
}

FakeRuntime& FakeRuntime::addJavaw(const std::wstring& bin) {
    std::wstring javaw = home_ + L"\\" + bin + L"\\javaw.exe";
    copyFile(binFile(L"fake-java.exe"), javaw);
    javaExes_.push_back(javaw);
    return *this;
}

FakeRuntime& FakeRuntime::addJvm(const std::wstring& bin, const std::wstring& vm, bool exportsCreateJavaVM) {
    createDirectories(home_ + L"\\" + bin + L"\\" + vm);
    copyFile(binFile(exportsCreateJavaVM ? L"fake-jvm.dll" : L"fake-jvm-noexport.dll"),
             home_ + L"\\" + bin + L"\\" + vm + L"\\jvm.dll");
    return *this;
}

FakeRuntime& FakeRuntime::removeJvm(const std::wstring& bin, const std::wstring& vm) {
    DeleteFileW((home_ + L"\\" + bin + L"\\" + vm + L"\\jvm.dll").c_str());
    RemoveDirectoryW((home_ + L"\\" + bin + L"\\" + vm).c_str());
    return *this;
}

FakeRuntime& FakeRuntime::addFile(const std::wstring& relative, const std::string& content) {
    std::wstring path = home_ + L"\\" + relative;
    createDirectories(path.substr(0, path.find_last_of(L'\\')));
    writeFile(path, content);
    return *this;
}

FakeRuntime& FakeRuntime::addPackedArchive(const std::wstring& relative, const std::string& content) {
    std::string packed = content;
    for (char& c : packed) {
        c = static_cast<char>(c ^ 0x5A);
    }
    return addFile(relative + L".pack", packed);
}

FakeRuntime& FakeRuntime::addUnpack200(bool removesInput) {
    createDirectories(home_ + L"\\bin");
    copyFile(binFile(L"fake-unpack200.exe"), home_ + L"\\bin\\unpack200.exe");
    if (removesInput) {
        writeFile(home_ + L"\\bin\\unpack200-removes-input", "");
    }
    return *this;
}

FakeRuntime& FakeRuntime::addBuiltFile(const std::wstring& relative, const std::wstring& builtName) {
    std::wstring path = home_ + L"\\" + relative;
    createDirectories(path.substr(0, path.find_last_of(L'\\')));
    copyFile(binFile(builtName), path);
    return *this;
}

void FakeRuntime::setJava(const FakeJava& java, const std::wstring& bin) {
    writeFile(home_ + L"\\" + bin + L"\\fake-java.cfg", configText(java));
}

void FakeRuntime::touchJava(const std::wstring& bin) {
    UniqueHandle file(CreateFileW(javaExe(bin).c_str(), FILE_WRITE_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    FILETIME time;
    GetSystemTimeAsFileTime(&time);
    ULARGE_INTEGER later{{time.dwLowDateTime, time.dwHighDateTime}};
    later.QuadPart += 10'000'000ULL * 3600; // an hour on, so it surely differs
    time.dwLowDateTime = later.LowPart;
    time.dwHighDateTime = later.HighPart;
    SetFileTime(file.get(), nullptr, nullptr, &time);
}

int FakeRuntime::javaRuns(const std::wstring& bin) const {
    return static_cast<int>(lines(readFile(home_ + L"\\" + bin + L"\\java-runs.log")).size());
}

std::string FakeRuntime::lastJavaRun(const std::wstring& bin) const {
    std::vector<std::string> runs = lines(readFile(home_ + L"\\" + bin + L"\\java-runs.log"));
    return runs.empty() ? std::string() : runs.back();
}

std::vector<std::string> FakeRuntime::unpack200Runs() const {
    return lines(readFile(home_ + L"\\bin\\unpack200-runs.log"));
}

void FakeRuntime::registerJavaSoft(const std::wstring& family, const std::wstring& versionKey, REGSAM view) {
    std::wstring key = L"SOFTWARE\\JavaSoft\\" + family + L"\\" + versionKey;
    setRegistryString(HKEY_LOCAL_MACHINE, key, L"JavaHome", home_, view);
    keys_.push_back({HKEY_LOCAL_MACHINE, key, view});
}

void FakeRuntime::setJavaSoftCurrentVersion(const std::wstring& family, const std::wstring& version) {
    std::wstring key = L"SOFTWARE\\JavaSoft\\" + family;
    std::wstring previous;
    readRegistryString(HKEY_LOCAL_MACHINE, key, L"CurrentVersion", previous);
    currentVersions_.emplace_back(key, previous);
    setRegistryString(HKEY_LOCAL_MACHINE, key, L"CurrentVersion", version);
}

void FakeRuntime::registerLocated(HKEY hive, const std::wstring& bin, REGSAM view) {
    std::wstring path = javaExe(bin);
    for (wchar_t& c : path) {
        if (c == L'\\') {
            c = L'/';
        }
    }
    std::wstring key = L"SOFTWARE\\quarrystone\\morix\\locatedjvms\\" + path;
    UniqueRegKey created;
    RegCreateKeyExW(hive, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, created.receive(),
                    nullptr);
    keys_.push_back({hive, key, view});
}

std::wstring versionCacheKey(const std::wstring& javaExe) {
    std::wstring path = javaExe;
    for (wchar_t& c : path) {
        if (c == L'\\') {
            c = L'/';
        }
    }
    return L"SOFTWARE\\quarrystone\\morix\\jvms\\" + path;
}

void deleteRegistryTree(HKEY hive, const std::wstring& key, REGSAM view) {
    UniqueRegKey opened;
    if (RegOpenKeyExW(hive, key.c_str(), 0, KEY_ALL_ACCESS | view, opened.receive()) == ERROR_SUCCESS) {
        RegDeleteTreeW(opened.get(), nullptr);
    }
    opened.reset();
    RegDeleteKeyExW(hive, key.c_str(), view, 0);
}

void setRegistryString(HKEY hive, const std::wstring& key, const std::wstring& name,
                       const std::wstring& value, REGSAM view) {
    UniqueRegKey created;
    if (RegCreateKeyExW(hive, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, created.receive(),
                        nullptr) != ERROR_SUCCESS) {
        throw std::runtime_error("cannot create registry key " + narrow(key));
    }
    RegSetValueExW(created.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

bool readRegistryString(HKEY hive, const std::wstring& key, const std::wstring& name, std::wstring& value) {
    wchar_t buffer[4096] = {};
    DWORD size = sizeof buffer - sizeof(wchar_t);
    if (RegGetValueW(hive, key.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, buffer, &size) !=
        ERROR_SUCCESS) {
        return false;
    }
    // A value stored without terminator has none counted in its size.
    value.assign(buffer, wcsnlen(buffer, size / sizeof(wchar_t)));
    return true;
}

} // namespace morix::test
