// Validation of one java.exe: the version it reports, the per-user cache keyed by its path and
// last-write time, and the rules for beta runtimes, javaw.exe and JDKs.
#include "discovery_fixture.h"

using namespace morix::test;

class ValidationTest : public DiscoveryTest {
protected:
    std::map<std::string, std::string> check(const std::wstring& javaExe,
                                             const std::wstring& more = L"\"\" \"\" 0 1",
                                             std::vector<std::pair<int32_t, std::string>> strings = {},
                                             Environment environment = {}) {
        return probe(configuration(std::move(strings)), L"check-java " + quoteArgument(javaExe) + L" " + more,
                     std::move(environment));
    }
};

TEST_F(ValidationTest, BothFormsOfTheVersionLineAreRead) {
    FakeRuntime& openjdk = runtime(L"openjdk", {"11.0.5", "openjdk"});
    FakeRuntime& oracle = runtime(L"oracle", {"1.8.0_231", "java"});
    FakeRuntime& other = runtime(L"other", {"something else", "other"});
    auto first = check(openjdk.javaExe());
    EXPECT_EQ(first["result"], "1");
    EXPECT_EQ(first["version"], "11.0.5");
    EXPECT_EQ(first["java"], narrow(openjdk.javaExe()));
    EXPECT_EQ(check(oracle.javaExe())["version"], "1.8.0_231");
    EXPECT_EQ(check(other.javaExe())["result"], "0");
    EXPECT_TRUE(contains(log(), "Java version: 11.0.5")) << log();
}

// A path in the \\.\ form has no short name, so java.exe runs by its long path: with a space in it, an
// unquoted command line would start "my.exe" beside the runtime's directory instead.
TEST_F(ValidationTest, AJavaExePathWithSpacesStartsOnlyThatProgram) {
    FakeRuntime& jre = runtime(L"my jre", {"11.0.5"});
    FakeRuntime& intruder = runtime(L"intruder", {"6.6.6"});
    CopyFileW(intruder.javaExe().c_str(), dir_.file(L"my.exe").c_str(), FALSE);
    CopyFileW((intruder.home() + L"\\bin\\fake-java.cfg").c_str(), dir_.file(L"fake-java.cfg").c_str(),
              FALSE);
    auto checked = check(L"\\\\.\\" + jre.javaExe());
    EXPECT_EQ(checked["result"], "1");
    EXPECT_EQ(checked["version"], "11.0.5");
    EXPECT_EQ(jre.javaRuns(), 1);
    EXPECT_TRUE(contains(log(), "Could not get short path name for \\\\.\\" + narrow(jre.javaExe())))
        << log();
}

TEST_F(ValidationTest, TheCacheSparesTheRunUntilJavaExeChanges) {
    FakeRuntime& jre = runtime(L"jre", {"11.0.5"});
    check(jre.javaExe());
    EXPECT_EQ(jre.javaRuns(), 1);
    auto cached = check(jre.javaExe());
    EXPECT_EQ(cached["result"], "1");
    EXPECT_EQ(cached["version"], "11.0.5");
    EXPECT_EQ(jre.javaRuns(), 1);

    // The cache entry as stored: 8 bytes of last-write time and the version without terminator.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, versionCacheKey(jre.javaExe()).c_str(), 0, KEY_READ, &key),
              ERROR_SUCCESS);
    DWORD type = 0, size = 64;
    BYTE data[64];
    EXPECT_EQ(RegQueryValueExW(key, L"LastWriteTime", nullptr, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(size, 8u);
    size = sizeof data;
    EXPECT_EQ(RegQueryValueExW(key, L"Version", nullptr, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(std::wstring(reinterpret_cast<wchar_t*>(data), size / 2), L"11.0.5"); // no terminator stored
    RegCloseKey(key);

    jre.touchJava();
    jre.setJava({"11.0.6"});
    EXPECT_EQ(check(jre.javaExe())["version"], "11.0.6");
    EXPECT_EQ(jre.javaRuns(), 2);
    check(jre.javaExe());
    EXPECT_EQ(jre.javaRuns(), 2);
    // Without the cache every validation runs the executable.
    check(jre.javaExe(), L"\"\" \"\" 0 0");
    EXPECT_EQ(jre.javaRuns(), 3);
}

TEST_F(ValidationTest, PlaceholderVersionsInTheCacheAreIgnored) {
    FakeRuntime& jre = runtime(L"jre", {"11.0.5"});
    check(jre.javaExe());
    for (const wchar_t* placeholder : {L"1.0.0", L"1.6."}) {
        setRegistryString(HKEY_CURRENT_USER, versionCacheKey(jre.javaExe()), L"Version", placeholder);
        int before = jre.javaRuns();
        EXPECT_EQ(check(jre.javaExe())["version"], "11.0.5") << narrow(placeholder);
        EXPECT_EQ(jre.javaRuns(), before + 1);
    }
}

TEST_F(ValidationTest, AFailingRuntimeIsCachedAsUnusableAndAHangingOneIsKilledAndNotCached) {
    FakeRuntime& failing = runtime(L"failing", {"11.0.5", "openjdk", 3});
    EXPECT_EQ(check(failing.javaExe())["result"], "0");
    std::wstring cached;
    ASSERT_TRUE(
        readRegistryString(HKEY_CURRENT_USER, versionCacheKey(failing.javaExe()), L"Version", cached));
    EXPECT_EQ(cached, L"1.0.0");

    FakeRuntime& hanging = runtime(L"hanging", {"11.0.5", "openjdk", 0, true});
    // A limit of 2 s instead of 60 s: the probe lowers it for this test.
    auto result = check(hanging.javaExe(), L"\"\" \"\" 0 1 2000");
    EXPECT_EQ(result["result"], "0");
    EXPECT_TRUE(contains(log(), "Terminating process")) << log();
    EXPECT_FALSE(
        readRegistryString(HKEY_CURRENT_USER, versionCacheKey(hanging.javaExe()), L"Version", cached));
}

TEST_F(ValidationTest, OptionVariablesAreAbsentOnlyWhileTheRuntimeRuns) {
    FakeRuntime& jre = runtime(L"jre");
    auto result = check(
        jre.javaExe(), L"\"\" \"\" 0 0", {},
        {{L"_JAVA_OPTIONS", L"-Xmx1m"}, {L"JAVA_TOOL_OPTIONS", L"-Dx=1"}, {L"JDK_JAVA_OPTIONS", L"-Dy"}});
    EXPECT_TRUE(contains(jre.lastJavaRun(),
                         "_JAVA_OPTIONS=<unset> JAVA_TOOL_OPTIONS=<unset> JDK_JAVA_OPTIONS=<unset>"))
        << jre.lastJavaRun();
    EXPECT_EQ(result["_JAVA_OPTIONS"], "-Xmx1m");
    EXPECT_TRUE(contains(log(), "_JAVA_OPTIONS is -Xmx1m")) << log();
}

TEST_F(ValidationTest, BoundsAndBetaRules) {
    FakeRuntime& ea = runtime(L"ea", {"17-ea"});
    EXPECT_EQ(check(ea.javaExe(), L"11 \"\" 0 1")["result"], "0");
    EXPECT_TRUE(contains(log(), "beta vm not allowed"));
    EXPECT_EQ(check(ea.javaExe(), L"11 \"\" 1 1")["result"], "1");
    EXPECT_EQ(check(ea.javaExe(), L"11 \"\" 0 1", {{130, "1"}})["result"], "1");
    EXPECT_EQ(check(ea.javaExe(), L"18 \"\" 1 1")["result"], "0");
    EXPECT_EQ(check(dir_.file(L"missing\\bin\\java.exe"))["result"], "0");
}

TEST_F(ValidationTest, ExecutableType1NeedsJavawExe) {
    FakeRuntime& plain = runtime(L"plain");
    EXPECT_EQ(check(plain.javaExe(), L"\"\" \"\" 0 1", {{107, "1"}})["result"], "0");
    FakeRuntime& windowed = runtime(L"windowed");
    windowed.addJavaw();
    auto result = check(windowed.javaExe(), L"\"\" \"\" 0 1", {{107, "1"}});
    EXPECT_EQ(result["result"], "1");
    EXPECT_EQ(result["java"], path(L"windowed\\bin\\javaw.exe"));
}
