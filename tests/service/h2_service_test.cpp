// A real database server nobody here wrote, as a service: Debian's H2 (/usr/share/java/h2.jar) behind
// the launcher, with the service host's restart policy, output log and environment. A JDBC client (H2's
// own shell on the Linux JDK, through the bridged runtime's java.exe) writes and reads rows across a
// stop and start and across a killed JVM; the host restarts the JVM within its delay, gives up past its
// limit, and the output the server printed is in the rotated logs, each line once. (The bridged JVM
// reads only the JVM option variables of its Windows environment, so the application is shown the
// service environment through the JVM option that the child expands from it.)
#include "service_fixture.h"

#include "common/handles.h"
#include "harness/bridged_runtime.h"
#include "harness/loopback.h"

#include "morix/config_ids.h"

#include <tlhelp32.h>
#include <winsock2.h>

#include <map>
#include <set>

using namespace morix::test;
using morix::UniqueHandle;
using morix::payload::Payload;
namespace ids = morix::ids;

namespace {

constexpr const wchar_t* kDebianH2 = L"Z:\\usr\\share\\java\\h2.jar";
constexpr int kPrintedLines = 3000;

// The processes whose parent is `parent`.
std::vector<DWORD> childrenOf(DWORD parent) {
    std::vector<DWORD> found;
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = snapshot && Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ParentProcessID == parent && entry.th32ProcessID != parent) {
            found.push_back(entry.th32ProcessID);
        }
    }
    return found;
}

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) {
        ++n;
    }
    return n;
}

class Winsock {
public:
    Winsock() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~Winsock() { WSACleanup(); }
};

} // namespace

class H2ServiceTest : public ServiceTest {
protected:
    H2ServiceTest()
        : app_(dir_.file(L"H2 Server")), launcher_(app_ + L"\\h2-service.exe"), logs_(app_ + L"\\logs"),
          port_(freeLoopbackPort()) {
        createDirectory(app_);
        createDirectory(app_ + L"\\lib");
        createDirectory(app_ + L"\\data");
        installBridgedRuntime(app_ + L"\\jre");
        EXPECT_TRUE(CopyFileW(binFile(L"morix-runtime.jar").c_str(),
                              (app_ + L"\\lib\\morix-runtime.jar").c_str(), FALSE));
        EXPECT_TRUE(CopyFileW(kDebianH2, (app_ + L"\\lib\\h2.jar").c_str(), FALSE));
    }

    // The killed JVMs' lock files and the server's files go with the test directory; a host or child
    // still running is ended by the fixture's removal of the service, and waited for here.
    ~H2ServiceTest() override {
        for (DWORD pid : pids_) {
            UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
            if (process && WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT) {
                TerminateProcess(process.get(), 1);
                WaitForSingleObject(process.get(), 5000);
            }
        }
    }

    void makeService(const std::wstring& name) {
        Payload p;
        const std::string tmp = narrow(tmp_);
        p.strings = {{ids::kServiceName, narrow(name)},
                     {ids::kSearchSequence, "Rjre"},
                     {ids::kClassPath, "A1lib\\morix-runtime.jar;A1lib\\h2.jar"},
                     {ids::kMainClass, "org.h2.tools.Server"},
                     {ids::kProgramArguments, "-tcp -tcpPort " + std::to_string(port_) +
                                                  " -tcpPassword manager -ifNotExists -baseDir \"" +
                                                  narrow(unixPath(app_ + L"\\data")) + "\""},
                     // The child expands the variable from the environment the host gave it.
                     {ids::kVmOptions, "\"-Dh2.service.value=${H2_SERVICE_VALUE}\""},
                     {ids::kServiceRestartDelay, "2"},
                     {ids::kServiceRestartMaxDelay, "4"},
                     {ids::kServiceRestartLimit, "2"},
                     {ids::kServiceRestartWindow, "600"},
                     {ids::kServiceRestartSuccessCodes, "0"},
                     {ids::kServiceLogDirectory, "logs"},
                     {ids::kServiceLogMaxSize, "4096"},
                     {ids::kServiceLogKeep, "50"}};
        // The service manager's environment is its own: the host's log and temporary root come from here.
        const std::string environment =
            "H2_SERVICE_VALUE=seen in %MORIX_EXEDIR%\nMORIX_LOG=yes\nTEMP=" + tmp + "\nTMP=" + tmp;
        p.wideStrings = {{ids::kServiceEnvironment, std::u16string(environment.begin(), environment.end())}};
        writeLauncher(launcher_, p);
    }

    // H2's shell on the Linux JDK: the statements, one JDBC connection.
    ProcessResult sql(const std::string& statements) {
        const std::wstring java = app_ + L"\\jre\\bin\\java.exe";
        const std::wstring arguments =
            L"-cp \"" + app_ + L"\\lib\\h2.jar\" org.h2.tools.Shell -url " + L"jdbc:h2:tcp://localhost:" +
            std::to_wstring(port_) + L"/./rows -user sa -password secret -sql \"" + wide(statements) + L"\"";
        return run(java, arguments, {}, 90000);
    }

    bool listening(DWORD timeoutMs = 60000) {
        return waitUntil(timeoutMs, [&] { return loopbackAccepts(port_); });
    }

    // The host's one child (the launcher that runs the JVM), or 0.
    DWORD child(const std::wstring& name) {
        std::vector<DWORD> children = childrenOf(queryStatus(name).dwProcessId);
        if (children.size() == 1) {
            pids_.push_back(children[0]);
        }
        return children.size() == 1 ? children[0] : 0;
    }

    bool killChild(const std::wstring& name) {
        DWORD pid = 0;
        waitUntil(30000, [&] { return (pid = child(name)) != 0; });
        UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
        return process && TerminateProcess(process.get(), 1) &&
               WaitForSingleObject(process.get(), 10000) == 0;
    }

    std::string outputLogs() const {
        std::string all;
        for (int n = 50; n >= 0; --n) {
            const std::wstring file =
                logs_ + (n == 0 ? L"\\service.log" : L"\\service." + std::to_wstring(n) + L".log");
            if (pathExists(file)) {
                all += readFile(file);
            }
        }
        return all;
    }

    Winsock winsock_;
    std::wstring app_;
    std::wstring launcher_;
    std::wstring logs_;
    int port_;
    std::vector<DWORD> pids_;
};

TEST_F(H2ServiceTest, RowsSurviveAStopAndAKilledJvmTheHostRestartsThenGivesUpAndTheOutputIsInRotatedLogs) {
    ASSERT_NE(port_, 0);
    const std::wstring name = uniqueName();
    makeService(name);
    ASSERT_EQ(run(launcher_, L"/install").exitCode, 0u);
    ASSERT_EQ(run(launcher_, L"/start").exitCode, 0u);
    ASSERT_TRUE(listening()) << hostLogs();

    // Rows, the application's own view of the service environment, and many lines of output.
    const std::string spam = "CREATE ALIAS SPAM AS 'int spam(int n) { for (int i = 0; i < n; i++) "
                             "System.out.println(\\\"h2-line-\\\" + i); return n; }'";
    ProcessResult written = sql(
        "CREATE TABLE T(ID INT PRIMARY KEY, NAME VARCHAR(40)); INSERT INTO T VALUES (1, 'one'), (2, 'two'); "
        "CREATE ALIAS GETPROP FOR 'java.lang.System.getProperty(java.lang.String)'; "
        "CALL GETPROP('h2.service.value'); " +
        spam + "; CALL SPAM(" + std::to_string(kPrintedLines) + ")");
    ASSERT_EQ(written.exitCode, 0u) << written.output << written.errors;
    EXPECT_TRUE(contains(written.output, "\nseen in " + narrow(app_) + "\\\n")) << written.output;

    // A stop and a start: the rows are read back.
    ProcessResult stop = run(launcher_, L"/stop");
    EXPECT_EQ(stop.exitCode, 0u) << stop.output;
    EXPECT_TRUE(waitForState(name, SERVICE_STOPPED));
    ASSERT_EQ(run(launcher_, L"/start").exitCode, 0u);
    ASSERT_TRUE(listening());
    ProcessResult read = sql("SELECT NAME FROM T ORDER BY ID");
    EXPECT_TRUE(contains(read.output, "one") && contains(read.output, "two")) << read.output << read.errors;

    // The JVM killed: within the delay (2 s, and the JVM's start) the host has started another one, the
    // service running throughout, and the rows are there.
    const DWORD host = queryStatus(name).dwProcessId;
    ASSERT_TRUE(killChild(name));
    EXPECT_TRUE(waitUntil(20000, [&] {
        return contains(hostLogContaining("restarted the child"), "restart 1");
    })) << hostLogs();
    EXPECT_EQ(queryStatus(name).dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(queryStatus(name).dwProcessId, host);
    ASSERT_TRUE(listening());
    read = sql("SELECT COUNT(*) FROM T");
    EXPECT_TRUE(contains(read.output, "\n2\n")) << read.output << read.errors;

    // Two more failures: the second restart (after 4 s) and then the host gives up within the window,
    // ending without a stopped report, as a failed service ends.
    ASSERT_TRUE(killChild(name));
    EXPECT_TRUE(
        waitUntil(20000, [&] { return contains(hostLogContaining("restarted the child"), "restart 2"); }));
    UniqueHandle hostProcess(OpenProcess(SYNCHRONIZE, FALSE, host));
    ASSERT_TRUE(hostProcess);
    ASSERT_TRUE(killChild(name));
    // Wine's service manager keeps the state it was last told; Windows would show the service failed.
    EXPECT_EQ(WaitForSingleObject(hostProcess.get(), 30000), static_cast<DWORD>(WAIT_OBJECT_0));
    const std::string hostLog = hostLogContaining("giving up");
    EXPECT_TRUE(contains(hostLog, "the child failed again after 2 restarts within 600 s: giving up"))
        << hostLogs();
    EXPECT_FALSE(contains(hostLog, "service stopped set")) << hostLog;

    // Every line the server printed, once, whole, across the rotated files; none past the limit.
    const std::string output = outputLogs();
    for (int i = 0; i < kPrintedLines; ++i) {
        ASSERT_EQ(count(output, "\nh2-line-" + std::to_string(i) + "\n"), 1u) << i;
    }
    EXPECT_TRUE(pathExists(logs_ + L"\\service.5.log"));
    for (int n = 1; n <= 50; ++n) {
        const std::wstring file = logs_ + L"\\service." + std::to_wstring(n) + L".log";
        if (pathExists(file)) {
            EXPECT_LE(readFile(file).size(), 4096u) << n;
        }
    }
    EXPECT_TRUE(contains(output, "TCP server running at tcp://")) << output.substr(0, 2000);

    ASSERT_EQ(run(launcher_, L"/uninstall").exitCode, 0u);
}
