// morix-probe: a test-only program built from the launcher's own code. Tests append a payload to it
// exactly as to the launcher template, and drive single launcher operations through its commands,
// for behaviour that the launcher's commands do not reach on their own. Never shipped.
#include "common/text.h"
#include "config/extract.h"
#include "config/paths.h"
#include "config/temp_root.h"
#include "frame/command_line.h"
#include "frame/fatal.h"
#include "frame/startup.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>

using namespace morix;

namespace {

using Command = std::function<int(const ArgumentList&)>;

std::string narrowArgument(const ArgumentList& arguments, size_t index) {
    return index < arguments.size() ? wideToNarrow(arguments[index]) : std::string();
}

int intArgument(const ArgumentList& arguments, size_t index) {
    return std::atoi(narrowArgument(arguments, index).c_str());
}

const std::map<std::wstring, Command>& commands() {
    static const std::map<std::wstring, Command> table = {
        // show-message ID [INSERT]: shows a message and returns
        {L"show-message",
         [](const ArgumentList& a) {
             std::wstring insert = a.size() > 2 ? a[2] : L"";
             showMessageById(intArgument(a, 1), a.size() > 2 ? insert.c_str() : nullptr);
             return 0;
         }},
        // fatal ID [INSERT]: the fatal path of a message id
        {L"fatal",
         [](const ArgumentList& a) -> int {
             std::wstring insert = a.size() > 2 ? a[2] : L"";
             fatalErrorById(intArgument(a, 1), a.size() > 2 ? insert.c_str() : nullptr);
         }},
        // fatal-cleanup DIR ID: a fatal exit while DIR is the launcher's temporary directory
        {L"fatal-cleanup",
         [](const ArgumentList& a) -> int {
             appTempDir = narrowArgument(a, 1);
             fatalErrorById(intArgument(a, 2), nullptr);
         }},
        // paths: the executable's paths and directories, one per line
        {L"paths",
         [](const ArgumentList&) {
             std::printf("narrow=%s\nwide=%s\ndirectory=%s\n", getExecutablePath().c_str(),
                         wideToUtf8(getExecutablePathWide()).c_str(), getExecutableDirectory().c_str());
             return 0;
         }},
        // temp-root: the narrow and the wide temporary root
        {L"temp-root",
         [](const ArgumentList&) {
             std::string narrowRoot = getTempRoot();
             std::printf("narrow=%s\nwide=%s\n", narrowRoot.c_str(),
                         wideToUtf8(getTempRootWide(false)).c_str());
             return 0;
         }},
    };
    return table;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    initLauncher();
    ArgumentList arguments;
    splitCommandLine(GetCommandLineW(), arguments);
    arguments.pop_front();
    if (arguments.empty() || !commands().count(arguments.front())) {
        std::printf("morix-probe: unknown command\n");
        return 2;
    }
    int result = commands().at(arguments.front())(arguments);
    std::fflush(stdout);
    return result;
}
