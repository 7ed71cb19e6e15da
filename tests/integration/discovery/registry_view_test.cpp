// The registry views of runtime discovery. Under WoW64 a 32-bit launcher's machine keys are those of the
// 32-bit view (Wow6432Node), a 64-bit launcher's those of the 64-bit view; only the installations key
// names a view of its own (the 32-bit one) for a second attempt.
#include "discovery_fixture.h"

using namespace morix::test;

namespace {

bool keyExists(HKEY hive, const std::wstring& key, REGSAM view) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(hive, key.c_str(), 0, KEY_READ | view, &opened) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(opened);
    return true;
}

constexpr const wchar_t* kInstallationsKey = L"SOFTWARE\\quarrystone\\vantarock\\installations";

// The installations key of the machine in both views, removed when the test ends.
struct MachineInstallations {
    ~MachineInstallations() {
        deleteRegistryTree(HKEY_LOCAL_MACHINE, kInstallationsKey, KEY_WOW64_32KEY);
        deleteRegistryTree(HKEY_LOCAL_MACHINE, kInstallationsKey, KEY_WOW64_64KEY);
    }
};

// The view flag of the attempt that found the machine's installation: the last "checking app id" line
// before the line that reports it.
std::string viewOfMachineFind(const std::string& log, const std::string& appId) {
    const size_t found = log.find("found JRE from previous installation (machine)");
    const std::string checking = "checking app id " + appId + " (";
    const size_t attempt = found == std::string::npos ? found : log.rfind(checking, found);
    if (attempt == std::string::npos) {
        return "none";
    }
    const size_t start = attempt + checking.size();
    return log.substr(start, log.find(',', start) - start);
}

} // namespace

class RegistryViewTest : public DiscoveryTest {
protected:
    std::map<std::string, std::string> loadDll(std::vector<std::pair<int32_t, std::string>> strings) {
        return probe(configuration(std::move(strings)), L"load-dll");
    }
};

TEST_F(RegistryViewTest, TheJavaSoftAndLocatedKeysAreReadInTheLaunchersOwnViewOnly) {
    FakeRuntime& own = runtime(L"own", {"11.0.5"});
    own.registerJavaSoft(L"JRE", L"11.0.5", kOwnRegistryView);
    // Newer, so it would win if the launcher saw it.
    FakeRuntime& other = runtime(L"other", {"17"});
    other.registerJavaSoft(L"JDK", L"17", kOtherRegistryView);
    other.registerLocated(HKEY_LOCAL_MACHINE, L"bin", kOtherRegistryView);
    ASSERT_FALSE(keyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\JavaSoft\\JDK\\17", 0)) << "the views are one";
    if (sizeof(void*) == 4) {
        // A 32-bit process's machine software keys are the 64-bit view's Wow6432Node.
        EXPECT_TRUE(
            keyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\JavaSoft\\JRE\\11.0.5", KEY_WOW64_64KEY));
    }

    auto loaded = loadDll({{128, "Y"}});
    EXPECT_EQ(loaded["result"], "1");
    EXPECT_EQ(loaded["jvmHome"], narrow(own.home()) + "\\bin\\..");
    EXPECT_FALSE(contains(log(), narrow(other.home()))) << log();
}

TEST_F(RegistryViewTest, EarlierInstallationsAreSoughtWithoutAViewFlagAndThenInThe32BitView) {
    MachineInstallations cleanup;
    FakeRuntime& in32 = runtime(L"App32\\jre", {"11.0.5"});
    FakeRuntime& in64 = runtime(L"App64\\jre", {"11.0.5"});
    const std::vector<std::pair<int32_t, std::string>> strings = {{160, "views.app"}};

    // Recorded in the 32-bit view: a 32-bit launcher finds it at once, a 64-bit one on its second attempt.
    setRegistryString(HKEY_LOCAL_MACHINE, kInstallationsKey, L"views.app", dir_.file(L"App32"),
                      KEY_WOW64_32KEY);
    auto loaded = loadDll(strings);
    EXPECT_EQ(loaded["jvmHome"], narrow(in32.home()) + "\\bin\\..");
    EXPECT_EQ(viewOfMachineFind(log(), "views.app"), sizeof(void*) == 8 ? "512" : "0") << log();

    // Recorded in the 64-bit view only: both attempts of a 32-bit launcher read the 32-bit view, so only
    // a 64-bit launcher finds it.
    deleteRegistryTree(HKEY_LOCAL_MACHINE, kInstallationsKey, KEY_WOW64_32KEY);
    setRegistryString(HKEY_LOCAL_MACHINE, kInstallationsKey, L"views.app", dir_.file(L"App64"),
                      KEY_WOW64_64KEY);
    clearLogs();
    loaded = loadDll(strings);
    if (sizeof(void*) == 8) {
        EXPECT_EQ(loaded["jvmHome"], narrow(in64.home()) + "\\bin\\..");
        EXPECT_EQ(viewOfMachineFind(log(), "views.app"), "0") << log();
    } else {
        EXPECT_EQ(loaded["result"], "0");
        EXPECT_EQ(occurrences(log(), "checking app id views.app (512, "), 2) << log(); // both hives retried
    }
}
