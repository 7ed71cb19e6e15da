#include "config/extract.h"
#include "config/paths.h"
#include "config/temp_root.h"
#include "discovery/vm_library.h"
#include "harness/harness.h"
#include "log_tail.h"
#include "windows/variables.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

using namespace morix;

namespace {

// Sets an environment variable of this process for one test and removes it afterwards.
class ScopedVariable {
public:
    ScopedVariable(const wchar_t* name, const wchar_t* value) : name_(name) {
        SetEnvironmentVariableW(name, value);
    }
    ~ScopedVariable() { SetEnvironmentVariableW(name_.c_str(), nullptr); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    std::wstring name_;
};

// The process environment's entries in block order.
std::vector<std::wstring> environmentEntries() {
    std::vector<std::wstring> entries;
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* entry = block; *entry; entry += wcslen(entry) + 1) {
        entries.emplace_back(entry);
    }
    FreeEnvironmentStringsW(block);
    return entries;
}

size_t blockPosition(const std::wstring& name) {
    std::vector<std::wstring> entries = environmentEntries();
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].starts_with(name + L"=")) {
            return i;
        }
    }
    return entries.size();
}

// The launcher's temporary directory and runtime home for one test.
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
    const std::string directory = getExecutableDirectory();
    ASSERT_EQ(directory.back(), '\\');
    const std::string tempRoot = getTempRoot();
    struct Case {
        const char* name;
        std::string value;
    };
    const Case cases[] = {
        {"%MORIX_EXEDIR%", directory},
        {"%VANTAROCK_EXEDIR%", directory},
        {"%MORIX_TEMPDIR%", appTempDir},
        {"%VANTAROCK_TEMPDIR%", appTempDir},
        {"%MORIX_PATHLIST_SEPARATOR%", ";"},
        {"%VANTAROCK_PATHLIST_SEPARATOR%", ";"},
        {"%MORIX_JVM_HOME%", jvmHome},
        {"%VANTAROCK_JVM_HOME%", jvmHome},
        {"${MORIX_EXEDIR}", directory},
        {"${VANTAROCK_EXEDIR}", directory},
        {"${MORIX_TEMPDIR}", appTempDir},
        {"${VANTAROCK_TEMPDIR}", appTempDir},
        {"${MORIX_PATHLIST_SEPARATOR}", ";"},
        {"${VANTAROCK_PATHLIST_SEPARATOR}", ";"},
        {"${MORIX_JVM_HOME}", jvmHome},
        {"${VANTAROCK_JVM_HOME}", jvmHome},
        {"${launcher:sys.launcherDirectory}", directory},
        {"${launcher:sys.launcherTempDirectory}", appTempDir},
        {"${launcher:sys.pathlistSeparator}", ";"},
        {"${launcher:sys.jvmHome}", jvmHome},
        {"${launcher:sys.tempDir}", tempRoot},
    };
    for (const Case& c : cases) {
        const std::string text = std::string("<") + c.name + ">" + c.name;
        const std::string want = "<" + c.value + ">" + c.value;
        EXPECT_EQ(expandedNarrow(text), want) << c.name;
        EXPECT_EQ(expanded(widenBytes(text), true), widenBytes(want)) << c.name;
    }
    // Without narrowSafe the directory and the root come from the wide paths.
    EXPECT_EQ(expanded(L"${MORIX_EXEDIR}lib"), getExecutableDirectoryWide() + L"lib");
    EXPECT_EQ(expanded(L"${launcher:sys.tempDir}"), getTempRootWide(true));
    // Names are case-sensitive and have no other forms.
    EXPECT_EQ(expanded(L"${morix_exedir}%MORIX_EXEDIR"), L"${morix_exedir}%MORIX_EXEDIR");
}

TEST_F(VariablesTest, EachReplacementIsLoggedWithTheWholeText) {
    test::LogTail tail;
    std::wstring wideText = L"a${MORIX_PATHLIST_SEPARATOR}b";
    expandVariables(wideText, false);
    std::string narrowText = "${MORIX_JVM_HOME}";
    expandVariablesNarrow(narrowText);
    const std::string logText = tail.text();
    EXPECT_NE(logText.find("expanding2 ${MORIX_PATHLIST_SEPARATOR} to ; in a;b."), std::string::npos)
        << logText;
    EXPECT_NE(logText.find("expanding2 ${MORIX_JVM_HOME} to C:\\jre\\bin\\.. in C:\\jre\\bin\\..."),
              std::string::npos)
        << logText;
}

TEST_F(VariablesTest, LaterPassesExpandWhatEarlierPassesInserted) {
    // The temporary directory's pass (11) comes after the directory's (9) and before the runtime's (15).
    appTempDir = "${MORIX_EXEDIR}|${MORIX_JVM_HOME}";
    EXPECT_EQ(expandedNarrow("${MORIX_TEMPDIR}"), "${MORIX_EXEDIR}|" + jvmHome);
    // A pass never searches the value it has just inserted.
    std::wstring text = L"aXb X";
    replaceAll(text, L"X", std::wstring_view(L"XX"));
    EXPECT_EQ(text, L"aXXb XX");
}

TEST_F(VariablesTest, TheFixedNamesWinOverEnvironmentVariablesOfTheSameName) {
    ScopedVariable exeDir(L"MORIX_EXEDIR", L"from-environment");
    ScopedVariable reference(L"MORIX_TEST_REFERENCE", L"${MORIX_EXEDIR}");
    EXPECT_EQ(expanded(L"${MORIX_EXEDIR}"), getExecutableDirectoryWide());
    // A fixed name inside an environment value is never expanded: its pass has already run.
    EXPECT_EQ(expanded(L"${MORIX_TEST_REFERENCE}"), L"${MORIX_EXEDIR}");
}

TEST_F(VariablesTest, EnvironmentNamesMatchExactlyOrUpperCased) {
    ScopedVariable mixed(L"MorixTestMixed", L"v");
    EXPECT_EQ(expanded(L"${MorixTestMixed}|${MORIXTESTMIXED}|${morixtestmixed}|%MorixTestMixed%"),
              L"v|v|${morixtestmixed}|%MorixTestMixed%");
    EXPECT_EQ(expandedNarrow("${MorixTestMixed}|${MORIXTESTMIXED}|${morixtestmixed}"),
              "v|v|${morixtestmixed}");
    EXPECT_EQ(expanded(L"${MORIX_TEST_UNKNOWN_NAME}"), L"${MORIX_TEST_UNKNOWN_NAME}");
}

TEST_F(VariablesTest, AnEnvironmentReferenceExpandsOnlyWhenItsEntryComesLaterInTheBlock) {
    ScopedVariable one(L"MORIX_TEST_ONE", L"x");
    ScopedVariable two(L"MORIX_TEST_TWO", L"x");
    const bool oneFirst = blockPosition(L"MORIX_TEST_ONE") < blockPosition(L"MORIX_TEST_TWO");
    const std::wstring earlier = oneFirst ? L"MORIX_TEST_ONE" : L"MORIX_TEST_TWO";
    const std::wstring later = oneFirst ? L"MORIX_TEST_TWO" : L"MORIX_TEST_ONE";
    SetEnvironmentVariableW(earlier.c_str(), (L"e:${" + later + L"}").c_str());
    SetEnvironmentVariableW(later.c_str(), (L"l:${" + earlier + L"}").c_str());
    ASSERT_LT(blockPosition(earlier), blockPosition(later));
    EXPECT_EQ(expanded(L"${" + earlier + L"}"), L"e:l:${" + earlier + L"}");
    EXPECT_EQ(expanded(L"${" + later + L"}"), L"l:${" + earlier + L"}");
}

TEST_F(VariablesTest, APerDriveEntryMakesTheEmptyNameExpand) {
    // Per-drive entries ("=C:=C:\dir") have the empty name; the first one in the block wins.
    std::optional<ScopedVariable> drive;
    auto firstDriveEntry = [] {
        for (const std::wstring& entry : environmentEntries()) {
            if (entry.starts_with(L"=")) {
                return std::optional<std::wstring>(entry.substr(1));
            }
        }
        return std::optional<std::wstring>();
    };
    if (!firstDriveEntry()) {
        drive.emplace(L"=M:", L"M:\\dir");
    }
    std::optional<std::wstring> entry = firstDriveEntry();
    if (!entry) {
        GTEST_SKIP() << "this environment cannot hold a per-drive entry";
    }
    EXPECT_EQ(expanded(L"<${}>"), L"<" + *entry + L">");
}

TEST_F(VariablesTest, EmptyValuesRemoveTheReference) {
    appTempDir.clear();
    jvmHome.clear();
    EXPECT_EQ(expanded(L"a${MORIX_TEMPDIR}b%VANTAROCK_JVM_HOME%c"), L"abc");
    EXPECT_EQ(expandedNarrow("${launcher:sys.launcherTempDirectory}x"), "x");
}

TEST_F(VariablesTest, AResultLongerThanTheCapacityIsCutAndLogged) {
    const std::wstring directory = getExecutableDirectoryWide();
    test::LogTail tail;
    std::wstring text(5990, L'a');
    text += L"${MORIX_EXEDIR}";
    expandVariables(text, false);
    ASSERT_EQ(text.size(), 5999u);
    EXPECT_EQ(text.substr(5990), directory.substr(0, 9));
    EXPECT_NE(tail.text().find("ERROR: expanded text cut to 5999 characters"), std::string::npos);

    // References that multiply stay within the caller's capacity, whatever the growth.
    ScopedVariable wide(L"MORIX_TEST_WIDE", std::wstring(100, L'w').c_str());
    std::wstring many;
    for (int i = 0; i < 40; ++i) {
        many += L"${MORIX_TEST_WIDE}";
    }
    expandVariables(many, false, 3000);
    EXPECT_EQ(many, std::wstring(2999, L'w'));
    std::string narrowText = "x${MORIX_TEST_WIDE}";
    expandVariablesNarrow(narrowText, 50);
    EXPECT_EQ(narrowText, "x" + std::string(48, 'w'));

    // A text that fits is never touched by the limit.
    std::wstring fits(5999, L'b');
    expandVariables(fits, false);
    EXPECT_EQ(fits, std::wstring(5999, L'b'));
}
