// The search sequence end to end with fake runtimes: the fixed frame around the configured entries, the
// registry sources and their tie rules.
#include "discovery_fixture.h"

#include "morix/config_ids.h"

using namespace morix::test;

class SearchTest : public DiscoveryTest {
protected:
    std::map<std::string, std::string> loadDll(std::vector<std::pair<int32_t, std::string>> strings,
                                               Environment environment = {}, ProcessResult* whole = nullptr,
                                               const std::wstring& name = L"probe.exe") {
        return probe(configuration(std::move(strings)), L"load-dll", std::move(environment), whole, name);
    }
};

TEST_F(SearchTest, ThePreferredLocationAcceptsABetaRuntimeThatTheMainPassRejects) {
    FakeRuntime& ea = runtime(L"ea", {"17-ea"});
    const std::pair<int32_t, std::string> sequence{128, "A" + narrow(ea.home())};
    ProcessResult whole;
    EXPECT_EQ(loadDll({sequence}, {}, &whole)["result"], "0");
    EXPECT_TRUE(contains(whole.output, noRuntimeText())) << whole.output;

    createDirectory(dir_.file(L".vantarock"));
    writeFile(dir_.file(L".vantarock\\pref_jre.cfg"), narrow(ea.home()) + "\r\n");
    auto loaded = loadDll({sequence});
    EXPECT_EQ(loaded["result"], "1");
    EXPECT_EQ(loaded["jvmVersion"], "17-ea");
    EXPECT_TRUE(contains(log(), "Using preferred location")) << log();
}

TEST_F(SearchTest, TheFallbackPassTakesARelativeRuntimeWhateverItsVersion) {
    runtime(L"jre", {"1.6.0_45"});
    createDirectory(dir_.file(L"app"));
    auto loaded = loadDll({{126, "1.8"}, {128, "R..\\jre;Y"}}, {}, nullptr, L"app\\probe.exe");
    EXPECT_EQ(loaded["result"], "1");
    EXPECT_EQ(loaded["jvmVersion"], "1.6.0_45");
    EXPECT_EQ(loaded["jvmBinDirectory"], path(L"app\\..\\jre\\bin"));
    std::string text = log();
    EXPECT_TRUE(contains(text, "Testing location ..\\jre (type R)")) << text;
    EXPECT_TRUE(contains(text, "Testing relative location ..\\jre")) << text;
    EXPECT_TRUE(contains(text, path(L"app\\..\\jre\\bin\\java.exe") + " exists")) << text;
    EXPECT_TRUE(contains(text, "taking the runtime in ..\\jre whatever its version (1.6.0_45)")) << text;
}

// fallback = false: a relative directory held to the bounds like any other entry, never tried again.
TEST_F(SearchTest, ARelativeEntryWithoutFallbackIsHeldToTheBounds) {
    runtime(L"jre", {"1.6.0_45"});
    createDirectory(dir_.file(L"app"));
    auto loaded = loadDll({{morix::ids::kMinVersion, "1.8"}, {morix::ids::kSearchSequence, "N..\\jre"}}, {},
                          nullptr, L"app\\probe.exe");
    EXPECT_EQ(loaded["result"], "0");
    const std::string text = log();
    EXPECT_TRUE(contains(text, "Testing location ..\\jre (type N)")) << text;
    EXPECT_FALSE(contains(text, "Testing relative location")) << text;
}

TEST_F(SearchTest, AnAbsoluteREntryIsNotReconsideredButABEntryIs) {
    FakeRuntime& old = runtime(L"old", {"1.6.0_45"});
    EXPECT_EQ(loadDll({{126, "1.8"}, {128, "R" + narrow(old.home())}})["result"], "0");
    EXPECT_FALSE(contains(log(), "Testing relative location")) << log();
    clearLogs();
    EXPECT_EQ(loadDll({{126, "1.8"}, {128, "B" + narrow(old.home())}})["result"], "1");
    EXPECT_TRUE(contains(log(), "Testing relative location " + narrow(old.home()))) << log();
}

TEST_F(SearchTest, TheRegistryFallsThroughToTheNextBestRuntimeWhenJvmDllDoesNotLoad) {
    FakeRuntime& newest = runtime(L"newest", {"11.0.5"});
    newest.removeJvm(L"bin", L"server");
    FakeRuntime& older = runtime(L"older", {"1.8.0_231"});
    newest.registerLocated(HKEY_CURRENT_USER);
    older.registerLocated(HKEY_CURRENT_USER);
    auto loaded = loadDll({{128, "Y"}});
    EXPECT_EQ(loaded["result"], "1");
    EXPECT_EQ(loaded["jvmVersion"], "1.8.0_231");
    EXPECT_TRUE(contains(log(), "add non-working java " + narrow(newest.javaExe()))) << log();
}

TEST_F(SearchTest, JavaHomeVariablesAreReadWithBackslashes) {
    FakeRuntime& jre = runtime(L"java\\jre");
    std::wstring forward = jre.home();
    for (wchar_t& c : forward) {
        if (c == L'\\') {
            c = L'/';
        }
    }
    auto loaded = loadDll({}, {{L"MORIX_JAVA_HOME", forward}});
    EXPECT_EQ(loaded["result"], "1");
    EXPECT_EQ(loaded["jvmHome"], narrow(jre.home()) + "\\bin\\..");
    std::string text = log();
    EXPECT_TRUE(contains(text, "Search sequence finished")) << text;
    EXPECT_EQ(loadDll({}, {{L"VANTAROCK_JAVA_HOME", jre.home()}})["result"], "1");
}

TEST_F(SearchTest, ARequiredJdkSkipsTheJreKeysAndNeedsToolsJar) {
    FakeRuntime& jre = runtime(L"jre", {"11.0.5"});
    jre.registerJavaSoft(L"JRE", L"11.0.5");
    FakeRuntime& jdk = runtime(L"jdk", {"9.0.4"});
    jdk.addJava(L"jre\\bin").addJvm(L"jre\\bin", L"server").addFile(L"lib\\tools.jar");
    jdk.setJava({"9.0.4"}, L"jre\\bin");
    jdk.registerJavaSoft(L"JDK", L"9");
    EXPECT_EQ(loadDll({{128, "Y"}})["jvmVersion"], "11.0.5");
    auto loaded = loadDll({{128, "Y"}, {131, "1"}});
    EXPECT_EQ(loaded["jvmVersion"], "9.0.4");
    EXPECT_EQ(loaded["jvmHome"], narrow(jdk.home()) + "\\jre\\bin\\..");
}

TEST_F(SearchTest, OwnRuntimesOnlyKeepsLocatedRuntimesUnderVrkJres) {
    FakeRuntime& javaSoft = runtime(L"javasoft", {"17.0.1"});
    javaSoft.registerJavaSoft(L"JRE", L"17");
    FakeRuntime& foreign = runtime(L"located", {"15.0.1"});
    foreign.registerLocated(HKEY_CURRENT_USER);
    FakeRuntime& own = runtime(L"app\\vrk_jres\\jre", {"11.0.5"});
    own.registerLocated(HKEY_CURRENT_USER);
    EXPECT_EQ(loadDll({{128, "Y"}})["jvmVersion"], "17.0.1");
    EXPECT_EQ(loadDll({{128, "Y"}, {165, "1"}})["jvmVersion"], "11.0.5");
}

TEST_F(SearchTest, JavaSoftVersionKeysAreScannedByteWiseFromTheEnd) {
    std::vector<FakeRuntime*> homes;
    for (const wchar_t* version : {L"1.8", L"1.8.0_231", L"11", L"11.0.5", L"9"}) {
        FakeRuntime& r = runtime(std::wstring(L"rt-") + version, {narrow(version)});
        r.registerJavaSoft(L"JRE", version);
        homes.push_back(&r);
    }
    EXPECT_EQ(loadDll({{128, "Y"}})["jvmVersion"], "9"); // last in byte order, not the newest
    DeleteFileW(homes[4]->javaExe().c_str());
    EXPECT_EQ(loadDll({{128, "Y"}})["jvmVersion"], "11.0.5");
}

TEST_F(SearchTest, TheCurrentVersionOfTheNewerFamilyWins) {
    FakeRuntime& eight = runtime(L"eight", {"1.8.0_231"});
    eight.registerJavaSoft(L"Java Runtime Environment", L"1.8");
    eight.setJavaSoftCurrentVersion(L"Java Runtime Environment", L"1.8");
    FakeRuntime& eleven = runtime(L"eleven", {"11.0.5"});
    eleven.registerJavaSoft(L"JDK", L"11");
    eleven.setJavaSoftCurrentVersion(L"JDK", L"11");
    EXPECT_EQ(loadDll({{128, "Y"}})["jvmVersion"], "11.0.5");
}

// A family key without a usable CurrentVersion names no runtime, whatever values it holds itself.
TEST_F(SearchTest, AFamilyKeyWithoutACurrentVersionIsNotReadForAJavaHome) {
    FakeRuntime& stray = runtime(L"stray", {"11.0.5"});
    stray.addFile(L"lib\\tools.jar");
    const std::wstring family = L"SOFTWARE\\JavaSoft\\JRE";
    setRegistryString(HKEY_LOCAL_MACHINE, family, L"JavaHome", stray.home());
    const std::string plain = loadDll({{128, "Y"}})["result"];
    const std::string jdkOnly = loadDll({{128, "Y"}, {131, "1"}})["result"];
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, family.c_str(), 0, KEY_SET_VALUE, &opened) == ERROR_SUCCESS) {
        RegDeleteValueW(opened, L"JavaHome");
        RegCloseKey(opened);
    }
    EXPECT_EQ(plain, "0");
    EXPECT_EQ(jdkOnly, "0"); // id 131: the JRE keys are not read at all
    EXPECT_FALSE(contains(log(), "stray")) << log();
}

TEST_F(SearchTest, EqualVersionsGoToTheLocatedAndThenToTheMachinesRuntime) {
    FakeRuntime& javaSoft = runtime(L"javasoft", {"11.0.5"});
    javaSoft.registerJavaSoft(L"JRE", L"11.0.5");
    FakeRuntime& user = runtime(L"user", {"11.0.5"});
    user.registerLocated(HKEY_CURRENT_USER);
    FakeRuntime& machine = runtime(L"machine", {"11.0.5"});
    machine.registerLocated(HKEY_LOCAL_MACHINE);
    EXPECT_EQ(loadDll({{128, "Y"}})["jvmHome"], narrow(machine.home()) + "\\bin\\..");
}

TEST_F(SearchTest, AnEarlierInstallationLendsItsRuntime) {
    runtime(L"App1\\jre", {"1.6.0_45"});
    FakeRuntime& second = runtime(L"App2\\jre", {"11.0.5"});
    const std::wstring key = L"SOFTWARE\\quarrystone\\vantarock\\installations";
    setRegistryString(HKEY_CURRENT_USER, key, L"discovery.app",
                      dir_.file(L"App1") + L";" + dir_.file(L"App2"));
    auto loaded = loadDll({{126, "1.8"}, {160, "discovery.app"}});
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_SET_VALUE, &opened) == ERROR_SUCCESS) {
        RegDeleteValueW(opened, L"discovery.app");
        RegCloseKey(opened);
    }
    EXPECT_EQ(loaded["jvmHome"], narrow(second.home()) + "\\bin\\..");
    std::string text = log();
    EXPECT_TRUE(contains(text, "java version did not match in " + path(L"App1\\jre"))) << text;
    EXPECT_TRUE(contains(text, "found JRE from previous installation (user) " + narrow(second.javaExe())))
        << text;
    EXPECT_EQ(loadDll({{160, "unknown.app"}})["result"], "0");
}

TEST_F(SearchTest, WithoutASequenceTheFixedStepsRunInOrder) {
    loadDll({{128, "Xignored;;"}});
    std::string text = log();
    EXPECT_TRUE(contains(text, "Testing location ignored (type X)")) << text;
    size_t finished = text.find("Search sequence finished");
    size_t previous = text.find("checking app id");
    ASSERT_NE(finished, std::string::npos);
    EXPECT_LT(previous, finished);
    EXPECT_TRUE(contains(text, "No JVM found")) << text;
}

TEST_F(SearchTest, EntriesOfTheMainPassMayUseVariables) {
    FakeRuntime& jre = runtime(L"bundled\\jre");
    auto loaded = loadDll({{128, "A${MORIX_EXEDIR}bundled\\jre"}});
    EXPECT_EQ(loaded["result"], "1");
    EXPECT_EQ(loaded["jvmHome"], narrow(jre.home()) + "\\bin\\..");
    EXPECT_TRUE(contains(log(), "Testing location " + path(L"bundled\\jre") + " (type A)")) << log();
}
