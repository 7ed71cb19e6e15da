// A test that makes launchers (or probes) in a directory of its own and runs them with the diagnostic
// log and the temporary root pointed at that directory.
#pragma once

#include "harness/harness.h"

#include "morix/payload.h"

#include <gtest/gtest.h>

#include <string>

namespace morix::test {

class LauncherTest : public ::testing::Test {
protected:
    LauncherTest() : tmp_(dir_.file(L"tmp")) { createDirectory(tmp_); }

    std::wstring makeLauncher(const payload::Payload& payload, const std::wstring& name = L"app.exe") {
        std::wstring path = dir_.file(name);
        writeLauncher(path, payload);
        return path;
    }

    // The test-only probe program with a payload: drives single launcher operations.
    std::wstring makeProbe(const payload::Payload& payload, const std::wstring& name = L"probe.exe") {
        std::wstring path = dir_.file(name);
        writeLauncher(path, payload, binFile(L"morix-probe.exe"));
        return path;
    }

    // Runs a program with TMP and TEMP at this test's directory and the log switched on (unless the
    // extra environment says otherwise).
    ProcessResult run(const std::wstring& program, const std::wstring& arguments, Environment extra = {},
                      DWORD timeoutMs = 60000) {
        ProcessOptions options;
        options.environment = {
            {L"TMP", tmp_}, {L"TEMP", tmp_}, {L"MORIX_LOG", L"yes"}, {L"VANTAROCK_LOG", std::nullopt}};
        options.environment.insert(options.environment.end(), extra.begin(), extra.end());
        options.timeoutMs = timeoutMs;
        std::wstring commandLine = quoteArgument(program) + (arguments.empty() ? L"" : L" " + arguments);
        ProcessResult result = runProcess(commandLine, options);
        EXPECT_FALSE(result.timedOut) << narrow(commandLine);
        return result;
    }

    // The diagnostic logs of every run so far, oldest first (each run writes a file of its own).
    std::string log() const {
        std::string all;
        for (int n = 1; n <= 1000; ++n) {
            std::string text = readLog(tmp_, n);
            if (text.empty()) {
                break;
            }
            all += text;
        }
        return all;
    }
    std::string log(int n) const { return readLog(tmp_, n); }
    void clearLogs() const {
        for (const std::wstring& name : listDirectory(tmp_)) {
            if (name.rfind(L"vrk_nlog_", 0) == 0) {
                DeleteFileW((tmp_ + L"\\" + name).c_str());
            }
        }
    }

    TestDirectory dir_;
    std::wstring tmp_;
};

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The value of a "name=value" line of a probe's output, or empty.
inline std::string outputField(const std::string& output, const std::string& name) {
    const std::string text = "\n" + output;
    size_t start = text.find("\n" + name + "=");
    if (start == std::string::npos) {
        return {};
    }
    start += name.size() + 2;
    return text.substr(start, text.find('\n', start) - start);
}

} // namespace morix::test
