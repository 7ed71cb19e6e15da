#include "discovery/unpack.h"

#include "common/handles.h"
#include "common/process.h"
#include "common/text.h"
#include "config/paths.h"
#include "frame/fatal.h"
#include "frame/log.h"

#include "morix/message_ids.h"

#include <windows.h>

#include <cstdio>
#include <vector>

namespace morix {
namespace {

constexpr size_t kPackSuffixLength = 5; // ".pack"
// Enough for any runtime's lib directory; a directory with more packed files is not unpacked further.
constexpr int kMaxPackedFiles = 10000;
// The longest an archive may take to unpack: the largest runtime archives take seconds.
constexpr DWORD kUnpackLimitMs = 10 * 60 * 1000;

} // namespace

void unpackPackedRuntime(const std::string& home) {
    bool unpacked = false;
    unpackDirectory(home, "lib", unpacked);
    unpackDirectory(home, "lib\\ext", unpacked);
    if (unpacked) {
        logMessage(L"Unpacking JRE done");
    }
}

void unpackDirectory(const std::string& home, const char* directory, bool& unpacked) {
    std::vector<std::string> packedNames;
    {
        WIN32_FIND_DATAA entry;
        std::string pattern = formatNarrow("%s\\%s\\*.jar.pack", home.c_str(), directory);
        UniqueFindHandle find(FindFirstFileA(pattern.c_str(), &entry));
        if (!find) {
            return;
        }
        do {
            packedNames.emplace_back(entry.cFileName);
        } while (packedNames.size() < kMaxPackedFiles && FindNextFileA(find.get(), &entry));
    }
    for (const std::string& name : packedNames) {
        const std::string archiveName = name.substr(0, name.size() - kPackSuffixLength);
        const std::string archive = formatNarrow("%s\\%s\\%s", home.c_str(), directory, archiveName.c_str());
        logMessage(L"checking %S", archive.c_str());
        if (fileExists(archive)) {
            continue;
        }
        if (!unpacked) {
            logMessage(L"Unpacking JRE");
            std::printf("Preparing JRE ...\n");
            std::fflush(stdout);
            unpacked = true;
        }
        const std::string relative = formatNarrow("%s\\%s", directory, archiveName.c_str());
        unpackFile(home, formatNarrow("%s\\%s.pack", home.c_str(), relative.c_str()));
    }
}

void unpackFile(const std::string& home, const std::string& packedPath) {
    const std::string archive = packedPath.substr(0, packedPath.size() - kPackSuffixLength);
    if (!fileExists(packedPath)) {
        logMessage(L"pack path doesn't exists");
        return;
    }
    const std::string unpacker = formatNarrow("%s\\bin\\unpack200.exe", home.c_str());
    std::string commandLine = formatNarrow("-r \"%s\" \"%s\"", packedPath.c_str(), archive.c_str());
    logMessage(L"unpacker %S", unpacker.c_str());
    logMessage(L"command line %S", commandLine.c_str());

    ProcessStart start;
    start.application = narrowToWide(unpacker);
    start.commandLine = narrowToWide(commandLine);
    start.inheritHandles = true;
    start.creationFlags = NORMAL_PRIORITY_CLASS;
    start.hideWindow = true;
    SystemError error;
    const ChildProcess unpack200 = startProcess(start, error);
    if (!unpack200) {
        logMessage(L"%S error (%d)", error.call, static_cast<int>(error.code));
        logMessage(L"could not create unpack process");
        fatalErrorById(messages::kInternalError, L"20");
    }
    logMessage(L"waiting for unpack200 to finish");
    // The runtime is of no use before the unpacker is done, but a hung one must not hold the start for
    // ever: past the limit it is ended, its partial archive removed and the packed file kept, so that
    // the next start unpacks it again.
    if (waitForExit(unpack200, kUnpackLimitMs).timedOut) {
        logError(L"unpack200 did not finish %S within %d s; ended", archive.c_str(),
                 static_cast<int>(kUnpackLimitMs / 1000));
        if (!DeleteFileA(archive.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
            logError(L"could not delete the partial archive (error %d)", static_cast<int>(GetLastError()));
        }
        return;
    }
    logMessage(L"unpack done");
    if (!DeleteFileA(packedPath.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
        logMessage(L"could not delete packed file (error %d)", static_cast<int>(GetLastError()));
    }
}

} // namespace morix
