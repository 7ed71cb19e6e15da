#include "config/extract.h"
#include "config/paths.h"
#include "config/temp_root.h"
#include "discovery/vm_library.h"
#include "log_tail.h"
#include "windows/variables.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <optional>
#include <vector>

using namespace morix;

namespace {

// An environment variable of this process for one test.
struct ScopedVariable {
    ScopedVariable(const std::wstring& name, const std::wstring& value) : name(name) {
        SetEnvironmentVariableW(name.c_str(), value.c_str());
    }
    ~ScopedVariable() { SetEnvironmentVariableW(name.c_str(), nullptr); }
    ScopedVariable(const ScopedVariable&) = delete;
    std::wstring name;
};

// The first entry of the environment block that starts with the prefix, and its index.
std::pair<size_t, std::wstring> findEntry(const std::wstring& prefix) {
    wchar_t* block = GetEnvironmentStringsW();
    std::pair<size_t, std::wstring> found{SIZE_MAX, L""};
    size_t index = 0;
    for (const wchar_t* entry = block; *entry && found.first == SIZE_MAX;
         entry += wcslen(entry) + 1, ++index) {
        if (std::wstring_view(entry).starts_with(prefix)) {
            found = {index, entry};
        }
    }
    FreeEnvironmentStringsW(block);
    return found;
}

class VariablesTest : public ::testing::Test {
protected:
    VariablesTest() : savedTempDir_(appTempDir), savedJvmHome_(jvmHome) {
        appTempDir = "C:\\t\\mrx1.tmp_dir5";
        jvmHome = "C:\\jre\\bin\\..";
    }
    ~VariablesTest() override {
        appTempDir = savedTempDir_;
        jvmHome = savedJvmHome_;
    }
    static std::wstring expanded(std::wstring text, bool narrowSafe = false) {
        expandVariables(text, narrowSafe);
        return text;
    }
    static std::string expandedNarrow(std::string text) {
        expandVariablesNarrow(text);
        return text;
    }

private:
    std::string savedTempDir_;
    std::string savedJvmHome_;
};

} // namespace

TEST_F(VariablesTest, EveryLauncherVariableInEveryFormAndBothWidths) {
    const std::string dir = getExecutableDirectory();
    const std::pair<std::string, std::string> fixed[] = {
        {"MORIX_EXEDIR", dir},
        {"VANTAROCK_EXEDIR", dir},
        {"MORIX_TEMPDIR", appTempDir},
        {"VANTAROCK_TEMPDIR", appTempDir},
        {"MORIX_PATHLIST_SEPARATOR", ";"},
        {"VANTAROCK_PATHLIST_SEPARATOR", ";"},
        {"MORIX_JVM_HOME", jvmHome},
        {"VANTAROCK_JVM_HOME", jvmHome},
        {"launcher:sys.launcherDirectory", dir},
        {"launcher:sys.launcherTempDirectory", appTempDir},
        {"launcher:sys.pathlistSeparator", ";"},
        {"launcher:sys.jvmHome", jvmHome},
        {"launcher:sys.tempDir", getTempRoot()},
    };
    for (const auto& [name, value] : fixed) {
        // Only the MORIX and VANTAROCK names have a percent form.
        const std::string text =
            "<${" + name + "}>" + (name.starts_with("launcher:") ? "" : "%" + name + "%");
        const std::string want = "<" + value + ">" + (name.starts_with("launcher:") ? "" : value);
        EXPECT_EQ(expandedNarrow(text), want) << name;
        EXPECT_EQ(expanded(widenBytes(text), true), widenBytes(want)) << name;
    }
    // Without narrowSafe the directory and the root come from the wide paths.
    EXPECT_EQ(expanded(L"${MORIX_EXEDIR}lib"), getExecutableDirectoryWide() + L"lib");
    EXPECT_EQ(expanded(L"${launcher:sys.tempDir}"), getTempRootWide(true));
    EXPECT_EQ(expanded(L"${morix_exedir}%MORIX_EXEDIR"), L"${morix_exedir}%MORIX_EXEDIR");
    // Empty values remove the reference.
    appTempDir.clear();
    jvmHome.clear();
    EXPECT_EQ(expanded(L"a${MORIX_TEMPDIR}b%VANTAROCK_JVM_HOME%c"), L"abc");
}

TEST_F(VariablesTest, PassesRunInTheirOrderAndNeverRescanTheirOwnValues) {
    // The temporary directory's pass (11) comes after the directory's (9) and before the runtime's (15).
    appTempDir = "${MORIX_EXEDIR}|${MORIX_JVM_HOME}";
    EXPECT_EQ(expandedNarrow("${MORIX_TEMPDIR}"), "${MORIX_EXEDIR}|" + jvmHome);
    std::wstring text = L"aXb X";
    replaceAll(text, L"X", std::wstring_view(L"XX"));
    EXPECT_EQ(text, L"aXXb XX");

    // The fixed passes run before the environment's: a variable of the same name never wins, and a fixed
    // name inside an environment value stays.
    ScopedVariable exeDir(L"MORIX_EXEDIR", L"from-environment");
    ScopedVariable reference(L"MORIX_TEST_REFERENCE", L"${MORIX_EXEDIR}");
    EXPECT_EQ(expanded(L"${MORIX_EXEDIR}|${MORIX_TEST_REFERENCE}"),
              getExecutableDirectoryWide() + L"|${MORIX_EXEDIR}");

    // Environment references expand only when the referenced entry comes later in the block.
    ScopedVariable one(L"MORIX_TEST_ONE", L"x");
    ScopedVariable two(L"MORIX_TEST_TWO", L"x");
    const bool oneFirst = findEntry(L"MORIX_TEST_ONE=").first < findEntry(L"MORIX_TEST_TWO=").first;
    const std::wstring earlier = oneFirst ? one.name : two.name;
    const std::wstring later = oneFirst ? two.name : one.name;
    SetEnvironmentVariableW(earlier.c_str(), (L"e:${" + later + L"}").c_str());
    SetEnvironmentVariableW(later.c_str(), (L"l:${" + earlier + L"}").c_str());
    ASSERT_LT(findEntry(earlier + L"=").first, findEntry(later + L"=").first);
    EXPECT_EQ(expanded(L"${" + earlier + L"}"), L"e:l:${" + earlier + L"}");
    EXPECT_EQ(expanded(L"${" + later + L"}"), L"l:${" + earlier + L"}");
}

TEST_F(VariablesTest, EnvironmentNamesMatchExactlyOrUpperCased) {
    ScopedVariable mixed(L"MorixTestMixed", L"v");
    EXPECT_EQ(
        expanded(L"${MorixTestMixed}|${MORIXTESTMIXED}|${morixtestmixed}|%MorixTestMixed%|${Unknown_1}"),
        L"v|v|${morixtestmixed}|%MorixTestMixed%|${Unknown_1}");
    EXPECT_EQ(expandedNarrow("${MorixTestMixed}|${MORIXTESTMIXED}|${morixtestmixed}"),
              "v|v|${morixtestmixed}");

    // A per-drive entry ("=C:=C:\dir") has the empty name: "${}" becomes the rest after its first "=".
    std::optional<ScopedVariable> drive;
    if (findEntry(L"=").second.empty()) {
        drive.emplace(L"=M:", L"M:\\dir");
    }
    const std::wstring entry = findEntry(L"=").second;
    ASSERT_FALSE(entry.empty());
    EXPECT_EQ(expanded(L"<${}>"), L"<" + entry.substr(1) + L">");
}

TEST_F(VariablesTest, AResultLongerThanTheCapacityIsCutThereAndLogged) {
    test::LogTail tail;
    std::wstring text = std::wstring(5990, L'a') + L"${MORIX_EXEDIR}";
    expandVariables(text, false);
    EXPECT_EQ(text, std::wstring(5990, L'a') + getExecutableDirectoryWide().substr(0, 9));
    EXPECT_NE(tail.text().find("ERROR: expanded text cut to 5999 characters"), std::string::npos);

    // References that multiply stay within the caller's capacity, whatever the growth.
    ScopedVariable wide(L"MORIX_TEST_WIDE", std::wstring(100, L'w'));
    std::wstring many;
    for (int i = 0; i < 40; ++i) {
        many += L"${MORIX_TEST_WIDE}";
    }
    expandVariables(many, false, 3000);
    EXPECT_EQ(many, std::wstring(2999, L'w'));
    std::string narrowText = "x${MORIX_TEST_WIDE}";
    expandVariablesNarrow(narrowText, 50);
    EXPECT_EQ(narrowText, "x" + std::string(48, 'w'));
}
