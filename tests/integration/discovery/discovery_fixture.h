// Runtime discovery tests: fake runtime homes in the test's directory, driven through the probe.
#pragma once

#include "../launcher_fixture.h"
#include "harness/fake_runtime.h"

#include <map>
#include <memory>
#include <sstream>

namespace morix::test {

class DiscoveryTest : public LauncherTest {
protected:
    // A payload with console messages for every failure the search can report.
    static payload::Payload configuration(std::vector<std::pair<int32_t, std::string>> strings) {
        payload::Payload p;
        p.strings = std::move(strings);
        p.wideStrings = {{1005, u"registry runtime failed"},
                         {1009, u"internal {0}"},
                         {1016, u"no {0}-bit runtime"},
                         {1017, u"variable {0} failed"},
                         {1019, u"directory {0} failed"}};
        return p;
    }

    FakeRuntime& runtime(const std::wstring& relativeHome, const FakeJava& java = {}) {
        runtimes_.push_back(std::make_unique<FakeRuntime>(dir_.file(relativeHome), java));
        return *runtimes_.back();
    }

    // Runs a probe command; its "key=value" lines.
    std::map<std::string, std::string> probe(const payload::Payload& p, const std::wstring& arguments,
                                             Environment environment = {}, ProcessResult* whole = nullptr,
                                             const std::wstring& name = L"probe.exe") {
        ProcessResult result = run(makeProbe(p, name), arguments, std::move(environment));
        std::map<std::string, std::string> values;
        std::istringstream lines(result.output);
        for (std::string line; std::getline(lines, line);) {
            size_t equals = line.find('=');
            if (equals != std::string::npos) {
                values[line.substr(0, equals)] = line.substr(equals + 1);
            }
        }
        if (whole) {
            *whole = result;
        }
        return values;
    }

    std::string path(const std::wstring& relative) const { return narrow(dir_.file(relative)); }

    std::vector<std::unique_ptr<FakeRuntime>> runtimes_;
};

inline int occurrences(const std::string& text, const std::string& part) {
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) {
        ++count;
    }
    return count;
}

} // namespace morix::test
