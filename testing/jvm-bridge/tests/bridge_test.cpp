// The bridged runtime end to end under Wine: a Windows driver program creates the JVM through jvm.dll and
// calls Java as the launcher will; java.exe and javaw.exe run as Windows processes; Windows parents read
// the output through files and pipes.
#include "harness/bridged_runtime.h"
#include "harness/fake_runtime.h"
#include "harness/harness.h"
#include "pipe_process.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

using namespace morix::test;

namespace {

const std::wstring kCheck = L"com.morix.bridgecheck.BridgeCheck";

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The rest of the first line that starts with `prefix`, or none.
std::optional<std::string> lineValue(const std::string& text, const std::string& prefix) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with(prefix)) {
            return line.substr(prefix.size());
        }
    }
    return std::nullopt;
}

// Whether `first` occurs and `second` occurs after it.
bool inOrder(const std::string& text, const std::string& first, const std::string& second) {
    size_t at = text.find(first);
    return at != std::string::npos && text.find(second, at + first.size()) != std::string::npos;
}

std::wstring joinArguments(std::initializer_list<std::wstring> parts) {
    std::wstring line;
    for (const std::wstring& part : parts) {
        line += (line.empty() ? L"" : L" ") + quoteArgument(part);
    }
    return line;
}

// Whether a Unix path that Java reports is the Windows file `windowsPath` (compared by file identity).
bool isSameFile(const std::string& unixPath, const std::wstring& windowsPath) {
    using ToDos = wchar_t*(CDECL*)(const char*);
    static const ToDos toDos =
        morix::lookupFunction<ToDos>(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name");
    wchar_t* dosPath = toDos != nullptr ? toDos(unixPath.c_str()) : nullptr;
    if (dosPath == nullptr) {
        return false;
    }
    auto identity = [](const wchar_t* path) -> std::optional<std::pair<DWORD, ULONGLONG>> {
        morix::UniqueHandle file(CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        BY_HANDLE_FILE_INFORMATION information;
        if (!file || !GetFileInformationByHandle(file.get(), &information)) {
            return std::nullopt;
        }
        return std::pair(information.dwVolumeSerialNumber,
                         (ULONGLONG(information.nFileIndexHigh) << 32) | information.nFileIndexLow);
    };
    auto reported = identity(dosPath);
    HeapFree(GetProcessHeap(), 0, dosPath);
    auto expected = identity(windowsPath.c_str());
    return reported && expected && *reported == *expected;
}

// A path as a quoted token of a JDK argument file, where a backslash inside quotes escapes the next
// character (as on Windows).
std::string argumentFileToken(const std::wstring& path) {
    std::string token = "\"";
    for (char c : narrow(path)) {
        token += c == '\\' ? "\\\\" : std::string(1, c);
    }
    return token + "\"";
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream stream(text);
    for (std::string part; std::getline(stream, part, separator);) {
        parts.push_back(part);
    }
    return parts;
}

} // namespace

class BridgeTest : public ::testing::Test {
protected:
    BridgeTest() : home_(dir_.file(L"jdk")) { installBridgedRuntime(home_); }

    std::wstring jvmDll() const { return home_ + L"\\bin\\server\\jvm.dll"; }
    std::wstring program(const wchar_t* name) const { return home_ + L"\\bin\\" + name; }
    static std::wstring checkJar() { return binFile(L"bridge-check.jar"); }

    // The driver's command line: driver options, then the JVM, the main class and main's arguments.
    std::wstring driverLine(const std::vector<std::wstring>& driverOptions, const std::wstring& mainClass,
                            const std::vector<std::wstring>& arguments) const {
        std::wstring line = quoteArgument(binFile(L"bridge-driver.exe"));
        for (const std::wstring& option : driverOptions) {
            line += L" " + quoteArgument(option);
        }
        line += L" " + quoteArgument(jvmDll()) + L" " + quoteArgument(mainClass);
        for (const std::wstring& argument : arguments) {
            line += L" " + quoteArgument(argument);
        }
        return line;
    }

    // The driver with the check classes on the class path.
    ProcessResult drive(std::vector<std::wstring> driverOptions, const std::vector<std::wstring>& arguments,
                        const ProcessOptions& options = {}) {
        driverOptions.insert(driverOptions.begin(), {L"--option", L"-Djava.class.path=" + checkJar()});
        ProcessResult result = runProcess(driverLine(driverOptions, kCheck, arguments), options);
        EXPECT_FALSE(result.timedOut);
        return result;
    }

    TestDirectory dir_;
    std::wstring home_;
};

TEST_F(BridgeTest, MainGetsItsArgumentsOptionsAndATranslatedClassPath) {
    std::wstring classes = dir_.file(L"classes");
    createDirectory(classes);
    ProcessResult result =
        drive({L"--option", L"-Djava.class.path=" + checkJar() + L";;" + classes + L";", L"--option",
               L"-Dbridge.test=set by the driver", L"--option", L"-Dgreeting=Grüße"},
              {L"a1", L"wörld☺", L"utf:wörld☺", L"prop=bridge.test", L"prop=greeting",
               L"prop=java.class.path", L"prop=sun.arch.data.model"});
    EXPECT_EQ(result.exitCode, 0u) << result.errors;
    EXPECT_TRUE(contains(result.output, "driver: JVM created, JNI version 0xa0000, GetEnv 0, same env 1\n"))
        << result.output;
    EXPECT_TRUE(contains(result.output, "hello from Java 17.")) << result.output;
    // NewString takes UTF-16, NewStringUTF modified UTF-8; both arrive whole.
    EXPECT_TRUE(contains(result.output, "args=[a1, wörld☺, wörld☺, prop=bridge.test,")) << result.output;
    EXPECT_TRUE(contains(result.output, "prop bridge.test=set by the driver\n")) << result.output;
    // Options come in the ANSI code page and reach Java as what they say.
    EXPECT_TRUE(contains(result.output, "prop greeting=Grüße\n")) << result.output;
    // The JVM inside the process has the process's bitness: the 32-bit tree runs the i386 JDK.
    EXPECT_TRUE(contains(result.output, "prop sun.arch.data.model=" + windowsBits() + "\n")) << result.output;
    std::vector<std::string> classPath =
        split(lineValue(result.output, "prop java.class.path=").value_or(""), ':');
    ASSERT_EQ(classPath.size(), 2u) << result.output;
    EXPECT_TRUE(isSameFile(classPath[0], checkJar())) << classPath[0];
    EXPECT_TRUE(isSameFile(classPath[1], classes)) << classPath[1];
    EXPECT_TRUE(inOrder(result.output, "main: returning\n", "driver: main returned, destroying the JVM\n"));
    EXPECT_TRUE(contains(result.output, "driver: DestroyJavaVM returned 0\n")) << result.output;
}

TEST_F(BridgeTest, SystemExitEndsTheProcessWithItsCodeAlsoFromAnotherThreadDuringDestroyJavaVM) {
    ProcessResult inMain = drive({}, {L"exit=3"});
    EXPECT_EQ(inMain.exitCode, 3u);
    EXPECT_TRUE(contains(inMain.output, "main: exiting with 3\n")) << inMain.output;
    EXPECT_FALSE(contains(inMain.output, "driver: main returned")) << inMain.output;
    EXPECT_FALSE(contains(inMain.errors, "Full thread dump")) << inMain.errors;

    // DestroyJavaVM waits for the non-daemon thread, which ends the process before it returns.
    ProcessResult fromThread = drive({}, {L"thread-exit=4"});
    EXPECT_EQ(fromThread.exitCode, 4u);
    EXPECT_TRUE(
        inOrder(fromThread.output, "driver: main returned, destroying the JVM\n", "thread: exiting with 4\n"))
        << fromThread.output;
    EXPECT_FALSE(contains(fromThread.output, "DestroyJavaVM returned")) << fromThread.output;

    // A Windows parent sees the whole code, not only its low eight bits.
    EXPECT_EQ(drive({}, {L"exit=300"}).exitCode, 300u);
    EXPECT_EQ(drive({}, {L"exit=-2"}).exitCode, 0xFFFFFFFEu);
}

TEST_F(BridgeTest, AnExceptionLeftByMainOrFindClassIsPendingForTheCaller) {
    ProcessResult thrown = drive({}, {L"throw"});
    EXPECT_EQ(thrown.exitCode, 1u);
    EXPECT_TRUE(
        contains(thrown.output, "driver: main threw: java.lang.IllegalStateException: boom with 1 args\n"))
        << thrown.output;
    // ExceptionDescribe prints the stack trace on standard error.
    EXPECT_TRUE(contains(thrown.errors, "java.lang.IllegalStateException: boom with 1 args"))
        << thrown.errors;
    EXPECT_TRUE(contains(thrown.errors, "\tat com.morix.bridgecheck.BridgeCheck.main(BridgeCheck.java:"))
        << thrown.errors;

    ProcessResult missing = runProcess(
        driverLine({L"--option", L"-Djava.class.path=" + checkJar()}, L"com.morix.NoSuchClass", {}));
    EXPECT_EQ(missing.exitCode, 1u);
    EXPECT_TRUE(contains(missing.output, "driver: FindClass threw: java.lang.NoClassDefFoundError: "
                                         "com/morix/NoSuchClass\n"))
        << missing.output;
}

TEST_F(BridgeTest, EveryCallFormCarriesEveryParameterAndReturnKind) {
    ProcessResult result = drive({L"--probe", L"--call", L"list"}, {L"via list"});
    EXPECT_EQ(result.exitCode, 0u) << result.errors;
    const std::string values = "-7|123456789a|2.5|1.25|true|263a|-3|127|null|tail\n";
    for (const char* form : {"static variadic", "static list", "static array"}) {
        EXPECT_TRUE(contains(result.output, std::string("driver: probe ") + form + "=" + values))
            << result.output;
    }
    for (const char* form : {"instance variadic", "instance list", "instance array"}) {
        EXPECT_TRUE(contains(result.output, std::string("driver: probe ") + form + "=instance " + values))
            << result.output;
    }
    EXPECT_TRUE(contains(result.output, "driver: return kinds: 60 of 60 calls right\n")) << result.output;
    EXPECT_TRUE(contains(result.output, "args=[via list]\n")) << result.output;

    ProcessResult array = drive({L"--call", L"array"}, {L"via array"});
    EXPECT_TRUE(contains(array.output, "args=[via array]\n")) << array.output;
}

TEST_F(BridgeTest, FaultsOfWindowsCodeAndOfJavaAreBothHandledWithTheJvmRunning) {
    ProcessResult result = drive({L"--option", L"-Xss2m", L"--faults"}, {L"stress"});
    EXPECT_EQ(result.exitCode, 0u) << result.errors;
    EXPECT_TRUE(contains(result.output, "driver: access violations caught: 6\n")) << result.output;
    EXPECT_TRUE(contains(result.output, "stress: StackOverflowError caught, depth>1000=true\n"))
        << result.output;
    EXPECT_TRUE(contains(result.output, "stress: NullPointerException caught\n")) << result.output;
    EXPECT_TRUE(contains(result.output, "stress: allocated MB=500 threads=32\n")) << result.output;
}

TEST_F(BridgeTest, ArgumentFilesAreExpandedByTheJdksOwnCodeWithWindowsPaths) {
    std::wstring library = dir_.file(L"native libs");
    createDirectory(library);
    std::wstring argumentFile = dir_.file(L"vm args.txt");
    writeFile(argumentFile, "# a comment line\n-Dfrom.argfile=\"value with spaces\"\n-Djava.library.path=" +
                                argumentFileToken(library) + "\n");
    std::wstring jli = program(L"jli.dll");
    ProcessResult result = drive({L"--jli", jli, L"--option", L"@" + argumentFile},
                                 {L"prop=from.argfile", L"prop=java.library.path"});
    EXPECT_EQ(result.exitCode, 0u) << result.errors;
    EXPECT_TRUE(contains(result.output, "driver: argument file gives -Dfrom.argfile=value with spaces\n"))
        << result.output;
    EXPECT_TRUE(contains(result.output, "prop from.argfile=value with spaces\n")) << result.output;
    EXPECT_TRUE(isSameFile(lineValue(result.output, "prop java.library.path=").value_or(""), library))
        << result.output;

    std::wstring missing = dir_.file(L"missing.txt");
    ProcessResult failed = drive({L"--jli", jli, L"--option", L"@" + missing}, {});
    EXPECT_EQ(failed.exitCode, 1u);
    EXPECT_EQ(failed.errors, "Error: could not open `" + narrow(missing) + "'\n");
    EXPECT_FALSE(contains(failed.output, "JVM created")) << failed.output;
}

TEST_F(BridgeTest, JavaExeReportsTheRealVersionOnTheStandardErrorItIsGiven) {
    for (const wchar_t* name : {L"java.exe", L"javaw.exe"}) {
        ProcessResult result = runProcess(quoteArgument(program(name)) + L" -version");
        EXPECT_EQ(result.exitCode, 0u) << narrow(name);
        EXPECT_TRUE(result.errors.starts_with("openjdk version \"17.")) << result.errors;
        EXPECT_EQ(result.output, "");
    }
    // The launcher runs it by its short name, with standard error on a file; here it is a pipe.
    wchar_t shortPath[MAX_PATH * 4];
    ASSERT_GT(GetShortPathNameW(program(L"java.exe").c_str(), shortPath, MAX_PATH * 4), 0u);
    PipeProcess process(std::wstring(shortPath) + L" -version", false);
    PipeResult piped = process.wait(60000);
    EXPECT_EQ(piped.exitCode, 0u);
    EXPECT_TRUE(piped.errors.starts_with("openjdk version \"17.")) << piped.errors;
}

TEST_F(BridgeTest, JavaExeRunsAClassWithTranslatedPathsArgumentFilesAndItsExitCode) {
    std::wstring argumentFile = dir_.file(L"java args.txt");
    writeFile(argumentFile, "-cp " + argumentFileToken(checkJar()) + "\n");
    ProcessResult result =
        runProcess(joinArguments({program(L"java.exe"), L"@" + argumentFile, kCheck, L"prop=java.class.path",
                                  L"C:\\not\\a\\path", L"exit=3"}));
    EXPECT_EQ(result.exitCode, 3u) << result.errors;
    EXPECT_TRUE(isSameFile(lineValue(result.output, "prop java.class.path=").value_or(""), checkJar()))
        << result.output;
    // The application's own arguments are left alone.
    EXPECT_TRUE(contains(result.output, "args=[prop=java.class.path, C:\\not\\a\\path, exit=3]\n"))
        << result.output;
    EXPECT_TRUE(contains(result.output, "main: exiting with 3\n")) << result.output;
}

TEST_F(BridgeTest, AWindowsParentReadsBothStreamsThroughPipesInOrder) {
    // One pipe for both: every line in the order Java wrote it, the stack trace before the driver's report.
    PipeProcess merged(
        driverLine({L"--option", L"-Djava.class.path=" + checkJar()}, kCheck, {L"interleave=50", L"throw"}),
        true);
    PipeResult result = merged.wait(60000);
    EXPECT_EQ(result.exitCode, 1u);
    std::string expected;
    for (int i = 0; i < 50; ++i) {
        expected += "out " + std::to_string(i) + "\nerr " + std::to_string(i) + "\n";
    }
    EXPECT_TRUE(contains(result.output, expected)) << result.output;
    EXPECT_TRUE(inOrder(result.output, expected, "\tat com.morix.bridgecheck.BridgeCheck.main"));
    EXPECT_TRUE(inOrder(result.output, "\tat com.morix.bridgecheck.BridgeCheck.main", "driver: main threw: "))
        << result.output;

    // Separate pipes: each stream whole and in order; a large burst ends complete before the exit.
    PipeProcess separate(driverLine({L"--option", L"-Djava.class.path=" + checkJar()}, kCheck,
                                    {L"interleave=3", L"burst=20000", L"exit=3"}),
                         false);
    PipeResult split = separate.wait(60000);
    EXPECT_EQ(split.exitCode, 3u);
    EXPECT_TRUE(contains(split.output, "out 0\nout 1\nout 2\nburst line 0 ")) << split.output.substr(0, 500);
    EXPECT_TRUE(
        contains(split.output, "burst line 19999 " + std::string(60, 'x') + "\nmain: exiting with 3\n"));
    EXPECT_EQ(split.errors, "err 0\nerr 1\nerr 2\n");

    // What shutdown hooks print during DestroyJavaVM comes before the caller's next line.
    PipeProcess hooks(driverLine({L"--option", L"-Djava.class.path=" + checkJar()}, kCheck, {L"print-hook"}),
                      true);
    PipeResult destroyed = hooks.wait(60000);
    EXPECT_TRUE(inOrder(destroyed.output,
                        "driver: main returned, destroying the JVM\nshutdown hook printed\n",
                        "driver: DestroyJavaVM returned 0\n"))
        << destroyed.output;
}

TEST_F(BridgeTest, StandardInputReachesSystemInFromAFileOrAPipe) {
    ProcessOptions fromFile;
    fromFile.input = "first line\nsecond line\n";
    ProcessResult file = drive({}, {L"stdin"}, fromFile);
    EXPECT_TRUE(contains(file.output, "stdin: first line\nstdin: second line\nstdin: end\n")) << file.output;

    for (const std::wstring& line :
         {driverLine({L"--option", L"-Djava.class.path=" + checkJar()}, kCheck, {L"stdin"}),
          joinArguments({program(L"java.exe"), L"-cp", checkJar(), kCheck, L"stdin"})}) {
        PipeProcess process(line, false);
        process.write("through ");
        process.write("a pipe\nlast line without end");
        PipeResult piped = process.wait(60000);
        EXPECT_EQ(piped.exitCode, 0u) << piped.errors;
        EXPECT_TRUE(
            contains(piped.output, "stdin: through a pipe\nstdin: last line without end\nstdin: end\n"))
            << piped.output;
    }
}

TEST_F(BridgeTest, ARuntimeHomeClassPathAndArgumentsWithNonAsciiNamesWork) {
    std::wstring home = dir_.file(L"Grüße ☺ jdk");
    installBridgedRuntime(home);
    std::wstring classes = dir_.file(L"wörld é");
    createDirectory(classes);
    std::wstring jar = classes + L"\\bridge check.jar";
    ASSERT_TRUE(CopyFileW(checkJar().c_str(), jar.c_str(), FALSE));

    std::wstring driver = quoteArgument(binFile(L"bridge-driver.exe"));
    ProcessResult result =
        runProcess(driver + L" " +
                   joinArguments({L"--option", L"-Djava.class.path=" + jar, home + L"\\bin\\server\\jvm.dll",
                                  kCheck, L"☺ wörld", L"prop=java.class.path"}));
    EXPECT_EQ(result.exitCode, 0u) << result.errors;
    EXPECT_TRUE(contains(result.output, "args=[☺ wörld, prop=java.class.path]\n")) << result.output;
    EXPECT_TRUE(isSameFile(lineValue(result.output, "prop java.class.path=").value_or(""), jar))
        << result.output;

    ProcessResult java =
        runProcess(joinArguments({home + L"\\bin\\java.exe", L"-cp", jar, kCheck, L"☺ wörld"}));
    EXPECT_EQ(java.exitCode, 0u) << java.errors;
    EXPECT_TRUE(contains(java.output, "args=[☺ wörld]\n")) << java.output;
}

TEST_F(BridgeTest, AnUnbridgedFunctionEndsTheProcessWithItsName) {
    ProcessResult result = drive({L"--unbridged"}, {});
    EXPECT_EQ(result.exitCode, 134u);
    EXPECT_TRUE(
        contains(result.errors, "morix jvm bridge: JNI function DefineClass (slot 5) is not bridged\n"))
        << result.errors;
    EXPECT_FALSE(contains(result.output, "DefineClass returned")) << result.output;
}

TEST_F(BridgeTest, AnotherWindowsThreadAttachesAndCallsJavaWhileTheFirstWaitsInJava) {
    ProcessResult result = drive({L"--attach"}, {});
    EXPECT_EQ(result.exitCode, 0u) << result.errors;
    for (const char* line : {"driver: partner GetEnv before attaching: -2\n",
                             "driver: partner attached: 0, GetEnv 0, same env 1\n",
                             "driver: partner got: partner hello on user thread\n",
                             "driver: partner detached: 0\n", "driver: partner GetEnv after detaching: -2\n",
                             "driver: partner seen while waiting in Java: true\n"}) {
        EXPECT_TRUE(contains(result.output, line)) << line << result.output;
    }
}

TEST_F(BridgeTest, ModulePathAndPatchModuleTakeWindowsPaths) {
    std::vector<std::wstring> modules = {L"--option", L"--module-path=" + binFile(L"bridge-modules"),
                                         L"--option", L"--add-modules=bridge.mod"};
    const std::wstring main = L"com.morix.bridgecheck.module.ModuleCheck";
    ProcessResult plain = runProcess(driverLine(modules, main, {}));
    EXPECT_EQ(plain.exitCode, 0u) << plain.errors;
    EXPECT_TRUE(contains(plain.output, "module bridge.mod\npatched class in missing\n")) << plain.output;

    modules.insert(modules.end(), {L"--option", L"--patch-module=bridge.mod=" + binFile(L"bridge-patch")});
    ProcessResult patched = runProcess(driverLine(modules, main, {}));
    EXPECT_EQ(patched.exitCode, 0u) << patched.errors;
    EXPECT_TRUE(contains(patched.output, "module bridge.mod\npatched class in bridge.mod\n"))
        << patched.output;
}

TEST_F(BridgeTest, AJvmThatCannotStartFailsAsOnWindows) {
    ProcessResult unknown = drive({L"--strict", L"--option", L"-Xno-such-option"}, {});
    EXPECT_EQ(unknown.exitCode, 92u) << unknown.output;
    EXPECT_TRUE(contains(unknown.output, "driver: JNI_CreateJavaVM failed: -1\n")) << unknown.output;
    EXPECT_TRUE(contains(unknown.errors, "Unrecognized option: -Xno-such-option")) << unknown.errors;

    ProcessResult ignored = drive({L"--option", L"-Xno-such-option"}, {});
    EXPECT_EQ(ignored.exitCode, 0u) << ignored.errors;

    // Some failures HotSpot handles by ending the process itself, with exit code 1.
    ProcessResult heap = drive({L"--option", L"-Xmx1k"}, {});
    EXPECT_EQ(heap.exitCode, 1u) << heap.output;
    // HotSpot writes its own messages to standard output.
    EXPECT_EQ(heap.output, "Error occurred during initialization of VM\nToo small maximum heap\n");
}

TEST_F(BridgeTest, TheJvmSeesTheWindowsEnvironmentAndWorkingDirectory) {
    std::wstring work = dir_.file(L"work dir");
    createDirectory(work);
    ASSERT_TRUE(CopyFileW(checkJar().c_str(), (work + L"\\relative.jar").c_str(), FALSE));
    ProcessOptions options;
    options.workingDirectory = work;
    options.environment = {{L"JAVA_TOOL_OPTIONS", L"-Dtool.option=picked"}};

    // A relative class path entry resolves against the Windows working directory.
    ProcessResult kept = runProcess(driverLine({L"--option", L"-Djava.class.path=relative.jar"}, kCheck,
                                               {L"prop=tool.option", L"prop=user.dir"}),
                                    options);
    EXPECT_EQ(kept.exitCode, 0u) << kept.errors;
    EXPECT_TRUE(contains(kept.output, "prop tool.option=picked\n")) << kept.output;
    EXPECT_TRUE(contains(kept.errors, "Picked up JAVA_TOOL_OPTIONS")) << kept.errors;
    EXPECT_TRUE(isSameFile(lineValue(kept.output, "prop user.dir=").value_or(""), work)) << kept.output;

    // The launcher removes the JVM option variables from its environment before it creates the JVM.
    ProcessResult removed = runProcess(
        driverLine({L"--unset", L"JAVA_TOOL_OPTIONS", L"--option", L"-Djava.class.path=relative.jar"}, kCheck,
                   {L"prop=tool.option"}),
        options);
    EXPECT_TRUE(contains(removed.output, "prop tool.option=null\n")) << removed.output;
    EXPECT_FALSE(contains(removed.errors, "Picked up")) << removed.errors;
}

// The Java-side runtime through the bridge, as a service child runs it: the stop line from the host's
// pipe runs the application's shutdown hooks and ends the child with 0; redirection files named with
// Windows paths land where Windows sees them.
TEST_F(BridgeTest, TheRuntimeStopsAServiceChildOnTheStopLineAndRedirectsToWindowsPaths) {
    std::wstring classPath = binFile(L"morix-runtime.jar") + L";" + checkJar();
    std::wstring hook = dir_.file(L"hook.txt");
    std::wstring ready = dir_.file(L"ready.txt");
    PipeProcess service(driverLine({L"--option", L"-Djava.class.path=" + classPath, L"--option",
                                    L"-Dmorix.isService=true", L"--option", L"-Xrs"},
                                   L"com.morix.runtime.WinLauncher",
                                   {L"false", kCheck, L"", L"", L"false", L"MyService",
                                    L"hook=" + unixPath(hook), L"ready=" + unixPath(ready), L"sleep=60000"}),
                        true);
    ASSERT_TRUE(waitUntil(30000, [&] { return pathExists(ready); }));
    service.write("0\n");
    PipeResult stopped = service.wait(30000);
    EXPECT_FALSE(stopped.timedOut);
    EXPECT_EQ(stopped.exitCode, 0u) << stopped.output;
    EXPECT_EQ(readFile(hook), "shutdown hook ran\n");
    EXPECT_FALSE(contains(stopped.output, "slept")) << stopped.output;

    std::wstring launcher = dir_.file(L"app.exe");
    ProcessResult redirected = runProcess(driverLine(
        {L"--option", L"-Djava.class.path=" + classPath, L"--option", L"-Dmorix.moduleName=" + launcher},
        L"com.morix.runtime.WinLauncher",
        {L"false", kCheck, L"logs\\out.log", dir_.file(L"err.log"), L"false", launcher, L"x"}));
    EXPECT_EQ(redirected.exitCode, 0u) << redirected.errors;
    EXPECT_TRUE(contains(readFile(dir_.file(L"logs\\out.log")), "args=[x]\nmain: returning\n"))
        << redirected.output;
    EXPECT_EQ(readFile(dir_.file(L"err.log")), "");
    EXPECT_FALSE(contains(redirected.output, "args=")) << redirected.output;
}

// The launcher's discovery takes the bridged runtime for what it stands for: java.exe -version validates
// it (by its short name, standard error into a file), and jvm.dll loads with its JNI_CreateJavaVM.
TEST_F(BridgeTest, TheLaunchersDiscoveryValidatesAndLoadsTheBridgedRuntime) {
    std::wstring java = program(L"java.exe");
    struct RemoveCacheEntry {
        std::wstring key;
        ~RemoveCacheEntry() { deleteRegistryTree(HKEY_CURRENT_USER, key); }
    } removeCacheEntry{versionCacheKey(java)};
    std::wstring probe = dir_.file(L"probe.exe");
    writeLauncher(probe, {}, binFile(L"morix-probe.exe"));
    ProcessOptions options;
    options.environment = {{L"MORIX_JAVA_HOME", home_}, {L"TMP", dir_.path()}, {L"TEMP", dir_.path()}};

    ProcessResult checked =
        runProcess(quoteArgument(probe) + L" check-java " + quoteArgument(java) + L" 11 17.99 0 0", options);
    EXPECT_TRUE(contains(checked.output, "result=1\n")) << checked.output;
    EXPECT_TRUE(contains(checked.output, "version=17.0.")) << checked.output;

    ProcessResult loaded = runProcess(quoteArgument(probe) + L" load-dll", options);
    EXPECT_EQ(loaded.exitCode, 0u) << loaded.output;
    EXPECT_TRUE(contains(loaded.output, "createJavaVM=1\n")) << loaded.output;
    EXPECT_TRUE(contains(loaded.output, "jvmBinDirectory=" + narrow(home_) + "\\bin\n")) << loaded.output;
}
