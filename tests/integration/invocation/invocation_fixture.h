// VM invocation tests: real launchers run with /run (or as a service child) against a runtime whose
// jvm.dll is the recording stand-in; the transcript shows what the launcher asked of the VM.
#pragma once

#include "../discovery/discovery_fixture.h"

#include <fstream>

namespace morix::test {

class InvocationTest : public DiscoveryTest {
protected:
    InvocationTest() : transcript_(dir_.file(L"transcript.txt")) {}

    // A runtime home whose VM is the recording stand-in and whose jli.dll expands argument files.
    FakeRuntime& recordingRuntime(const FakeJava& java = {}, const std::wstring& home = L"jre") {
        FakeRuntime& jre = runtime(home, java);
        jre.removeJvm(L"bin", L"server")
            .addBuiltFile(L"bin\\server\\jvm.dll", L"recording-jvm.dll")
            .addBuiltFile(L"bin\\jli.dll", L"fake-jli.dll");
        return jre;
    }

    // A payload that finds the recording runtime, with texts for the messages of a failed launch.
    payload::Payload application(std::vector<std::pair<int32_t, std::string>> strings,
                                 const std::wstring& home = L"jre") {
        strings.emplace_back(128, "A" + path(home));
        payload::Payload p = configuration(std::move(strings));
        p.wideStrings.push_back({1006, u"missing file {0}"});
        p.wideStrings.push_back({1008, u"missing variable {0}"});
        p.wideStrings.push_back({1010, u"no launcher class"});
        p.wideStrings.push_back({1011, u"no main method"});
        return p;
    }

    ProcessResult launch(const payload::Payload& p, const std::wstring& arguments,
                         const std::string& script = "", Environment environment = {},
                         const std::wstring& name = L"app.exe") {
        // The caller's changes come last, so they win.
        environment.insert(environment.begin(), {{L"MORIX_TRANSCRIPT", transcript_},
                                                 {L"MORIX_RECORDING_JVM", wide(script)},
                                                 {L"MANPATH", L""},
                                                 {L"PATH", L"C:\\windows\\system32;C:\\windows"}});
        launcher_ = makeLauncher(p, name);
        return run(launcher_, arguments, environment);
    }

    // Transcript lines that start with the prefix, without it.
    std::vector<std::string> recorded(const std::string& prefix) const {
        std::vector<std::string> lines;
        std::istringstream in(readFile(transcript_));
        for (std::string line; std::getline(in, line);) {
            if (line.rfind(prefix, 0) == 0) {
                lines.push_back(line.substr(prefix.size()));
            }
        }
        return lines;
    }

    std::vector<std::string> options() const { return recorded("option "); }
    std::vector<std::string> mainArguments() const {
        std::vector<std::string> arguments;
        for (const std::string& line : recorded("main-arg ")) {
            arguments.push_back(line.substr(line.find(' ') + 1));
        }
        return arguments;
    }
    // Options that are not the launcher's own properties.
    std::vector<std::string> configuredOptions() const {
        std::vector<std::string> all = options();
        std::vector<std::string> result;
        for (const std::string& option : all) {
            if (!option.starts_with("-Dmorix.") && !option.starts_with("-Dsun.java.command=") &&
                !option.starts_with("-Djava.library.path=")) {
                result.push_back(option);
            }
        }
        return result;
    }
    void clearTranscript() { DeleteFileW(transcript_.c_str()); }

    std::wstring transcript_;
    std::wstring launcher_;
};

} // namespace morix::test
