// Fake Java runtime homes for discovery tests: a stand-in java.exe that reports a chosen version and
// counts its runs, stand-in jvm.dll files in VM subdirectories, an unpack200.exe, and the registry
// entries through which runtimes are found. Everything it registers is removed with the object.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace morix::test {

struct FakeJava {
    std::string version = "11.0.5";
    std::string form = "openjdk"; // "openjdk", "java" or anything else for an unrecognised line
    int exitCode = 0;
    bool hang = false;
};

class FakeRuntime {
public:
    // A home with bin\java.exe reporting `java` and bin\server\jvm.dll.
    FakeRuntime(const std::wstring& home, const FakeJava& java = {});
    ~FakeRuntime();
    FakeRuntime(const FakeRuntime&) = delete;
    FakeRuntime& operator=(const FakeRuntime&) = delete;

    const std::wstring& home() const { return home_; }
    // home\<bin>\java.exe
    std::wstring javaExe(const std::wstring& bin = L"bin") const;

    // More layout: java.exe (and javaw.exe) in another bin directory, jvm.dll in a VM subdirectory, a
    // plain file (lib\tools.jar), and packed archives that the stand-in unpack200 can expand.
    FakeRuntime& addJava(const std::wstring& bin, bool javaw = false);
    FakeRuntime& addJavaw(const std::wstring& bin = L"bin");
    FakeRuntime& addJvm(const std::wstring& bin, const std::wstring& vm, bool exportsCreateJavaVM = true);
    FakeRuntime& removeJvm(const std::wstring& bin, const std::wstring& vm);
    FakeRuntime& addFile(const std::wstring& relative, const std::string& content = "");
    FakeRuntime& addPackedArchive(const std::wstring& relative, const std::string& content);
    FakeRuntime& addUnpack200(bool removesInput = false);
    // A file built beside the tests (a stand-in DLL) copied into the home.
    FakeRuntime& addBuiltFile(const std::wstring& relative, const std::wstring& builtName);

    // Changes what every java.exe of this home reports.
    void setJava(const FakeJava& java, const std::wstring& bin = L"bin");
    // Gives java.exe a new last-write time.
    void touchJava(const std::wstring& bin = L"bin");
    // How often a java.exe in `bin` ran, and the line of its last run.
    int javaRuns(const std::wstring& bin = L"bin") const;
    std::string lastJavaRun(const std::wstring& bin = L"bin") const;
    std::vector<std::string> unpack200Runs() const;

    // Registry entries, removed by the destructor; `view` (KEY_WOW64_32KEY or KEY_WOW64_64KEY) writes
    // them into that registry view instead of this process's own.
    void registerJavaSoft(const std::wstring& family, const std::wstring& versionKey, REGSAM view = 0);
    void setJavaSoftCurrentVersion(const std::wstring& family, const std::wstring& version);
    void registerLocated(HKEY hive, const std::wstring& bin = L"bin", REGSAM view = 0);

private:
    std::wstring home_;
    std::vector<std::wstring> javaExes_;
    struct Key {
        HKEY hive;
        std::wstring name;
        REGSAM view;
    };
    std::vector<Key> keys_;                                              // deleted with their subkeys
    std::vector<std::pair<std::wstring, std::wstring>> currentVersions_; // family key, value to restore
};

// The version cache entry of an executable (HKCU), for tests that read or plant it.
std::wstring versionCacheKey(const std::wstring& javaExe);
// The registry view of this process's own bitness, and the other one.
inline constexpr REGSAM kOwnRegistryView = sizeof(void*) == 8 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
inline constexpr REGSAM kOtherRegistryView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
void deleteRegistryTree(HKEY hive, const std::wstring& key, REGSAM view = 0);
void setRegistryString(HKEY hive, const std::wstring& key, const std::wstring& name,
                       const std::wstring& value, REGSAM view = 0);
bool readRegistryString(HKEY hive, const std::wstring& key, const std::wstring& name, std::wstring& value);

} // namespace morix::test
