#include "config/extract.h"

#include "common/handles.h"
#include "common/text.h"
#include "config/payload.h"
#include "config/temp_cleanup.h"
#include "config/temp_root.h"
#include "frame/fatal.h"
#include "frame/log.h"

#include "morix/config_ids.h"
#include "morix/message_ids.h"
#include "morix/payload_format.h"

#include <algorithm>
#include <ctime>
#include <memory>
#include <string_view>
#include <vector>

namespace morix {

std::string appTempDir;
uint32_t unextractedPosition = 0;

namespace {

constexpr int kTempDirAttempts = 10;
// Large pieces: each read and write pair costs a round trip to the file system (under Wine to its server),
// and with 6000 bytes those trips, not the bytes, made most of an extraction's time.
constexpr size_t kCopyBufferSize = 1024 * 1024;

// A ".." part would put the file outside the launcher's directory, where no cleanup ever reaches it.
bool leavesDirectory(std::string_view name) {
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of("\\/", start);
        std::string_view part = name.substr(start, end == std::string_view::npos ? end : end - start);
        if (part == "..") {
            return true;
        }
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
    }
    return false;
}

// Only the first level of a name like "lib\a.jar" is created; a second level makes the file fail.
void createFirstLevelDirectory(const std::string& name) {
    size_t backslash = name.find('\\');
    if (backslash == std::string::npos) {
        return;
    }
    std::string directory = appTempDir + "\\" + name.substr(0, backslash);
    logMessage(L"creating directory %S", directory.c_str());
    if (!CreateDirectoryA(directory.c_str(), nullptr)) {
        const DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS) {
            logError(L"failed to create directory %S", directory.c_str());
            logError(L"CreateDirectoryA error %lu", error);
        }
    }
}

bool failed(const wchar_t* call) {
    logError(L"%s failed with error %lu", call, GetLastError());
    return false;
}

// The account this process runs as; false when its token cannot be read.
bool readTokenUser(std::vector<uint64_t>& user) {
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.receive())) {
        return failed(L"OpenProcessToken");
    }
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    user.assign(size / sizeof(uint64_t) + 1, 0);
    return GetTokenInformation(token.get(), TokenUser, user.data(),
                               static_cast<DWORD>(user.size() * sizeof(uint64_t)), &size) ||
           failed(L"GetTokenInformation");
}

bool createPrivateDirectory(const std::string& path) {
    const std::unique_ptr<PrivateSecurity> security = privateDirectorySecurity();
    SECURITY_ATTRIBUTES attributes{sizeof attributes, security ? &security->descriptor : nullptr, FALSE};
    return CreateDirectoryA(path.c_str(), security ? &attributes : nullptr) != FALSE;
}

uint32_t currentPosition(HANDLE file) {
    LARGE_INTEGER zero{};
    LARGE_INTEGER position{};
    SetFilePointerEx(file, zero, &position, FILE_CURRENT);
    return static_cast<uint32_t>(position.QuadPart);
}

} // namespace

// A directory that only this account, SYSTEM and the administrators may enter, whatever the temporary
// root hands down: full control for each, inherited by everything below, and nothing from the parent. In
// Windows' own temporary folder, where a service running as LocalSystem works, every user may create
// entries in any directory below it: a link planted where an included file is about to be written, or
// beside the jar the VM then reads, would otherwise decide what the service writes and runs. None
// (logged) when the account cannot be read; the directory then gets the root's permissions. Built from
// the core system libraries' security functions, which every process has loaded: the textual form of a
// descriptor would load advapi32.dll for every run that extracts a file.
std::unique_ptr<PrivateSecurity> privateDirectorySecurity() {
    auto security = std::make_unique<PrivateSecurity>();
    if (!readTokenUser(security->user)) {
        return nullptr;
    }
    DWORD systemSize = sizeof security->system;
    DWORD administratorsSize = sizeof security->administrators;
    if (!CreateWellKnownSid(WinLocalSystemSid, nullptr, security->system, &systemSize) ||
        !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, security->administrators,
                            &administratorsSize)) {
        failed(L"CreateWellKnownSid");
        return nullptr;
    }
    const PSID sids[] = {security->system, security->administrators,
                         reinterpret_cast<const TOKEN_USER*>(security->user.data())->User.Sid};
    DWORD aclSize = sizeof(ACL);
    for (PSID sid : sids) {
        aclSize += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(sid);
    }
    security->acl.assign(aclSize / sizeof(uint64_t) + 1, 0);
    auto* acl = reinterpret_cast<PACL>(security->acl.data());
    if (!InitializeAcl(acl, aclSize, ACL_REVISION)) {
        failed(L"InitializeAcl");
        return nullptr;
    }
    for (PSID sid : sids) {
        if (!AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
                                   FILE_ALL_ACCESS, sid)) {
            failed(L"AddAccessAllowedAceEx");
            return nullptr;
        }
    }
    if (!InitializeSecurityDescriptor(&security->descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&security->descriptor, TRUE, acl, FALSE) ||
        !SetSecurityDescriptorControl(&security->descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
        failed(L"InitializeSecurityDescriptor or SetSecurityDescriptorDacl/Control");
        return nullptr;
    }
    return security;
}

bool createPrivateDirectoryWide(const std::wstring& path) {
    const std::unique_ptr<PrivateSecurity> security = privateDirectorySecurity();
    SECURITY_ATTRIBUTES attributes{sizeof attributes, security ? &security->descriptor : nullptr, FALSE};
    return CreateDirectoryW(path.c_str(), security ? &attributes : nullptr) != FALSE;
}

int copyStream(HANDLE source, HANDLE target, int64_t size, bool unscramble) {
    if (size <= 0) {
        return 0;
    }
    // No larger than the file and left uninitialised: a thousand small files must not each clear a megabyte.
    const size_t bufferSize = static_cast<size_t>(std::min<int64_t>(kCopyBufferSize, size));
    std::unique_ptr<uint8_t[]> buffer = std::make_unique_for_overwrite<uint8_t[]>(bufferSize);
    int64_t copied = 0;
    while (copied < size) {
        const DWORD wanted = static_cast<DWORD>(std::min<int64_t>(bufferSize, size - copied));
        DWORD bytesRead = 0;
        if (!ReadFile(source, buffer.get(), wanted, &bytesRead, nullptr) || bytesRead == 0) {
            const DWORD error = GetLastError();
            logError(L"ReadFile failed %d %d %I64d", static_cast<int>(bytesRead), static_cast<int>(error),
                     copied);
            return kCopyReadFailed;
        }
        if (unscramble) {
            for (DWORD i = 0; i < bytesRead; ++i) {
                buffer[i] ^= payload::kFileMask;
            }
        }
        DWORD offset = 0;
        while (offset < bytesRead) {
            DWORD written = 0;
            // A write that makes no progress would repeat forever; it counts as a failure.
            if (!WriteFile(target, buffer.get() + offset, bytesRead - offset, &written, nullptr) ||
                written == 0) {
                const DWORD error = GetLastError();
                logError(L"WriteFile failed %d %d", static_cast<int>(bytesRead - offset),
                         static_cast<int>(error));
                return kCopyWriteFailed;
            }
            offset += written;
        }
        copied += bytesRead;
    }
    return 0;
}

int extractOneFile(HANDLE payload, const std::string& path) {
    const int64_t size = readLong(payload);
    logMessage(L"extracting %S (size: %I64d)", path.c_str(), size);
    if (size <= 0) {
        return 0;
    }
    UniqueHandle file(
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        logError(L"CreateFileA of %S failed with error %lu", path.c_str(), GetLastError());
        fatalErrorById(messages::kInternalError, L"11");
    }
    return copyStream(payload, file.get(), size, true);
}

void createAppTempDir() {
    removeStaleTempDirs();
    for (int attempt = 0; attempt < kTempDirAttempts; ++attempt) {
        // The marker file keeps the name unique in the temporary root and, held open, tells other starts
        // that the directory is in use.
        const std::string marker = makeTempFileName();
        if (!holdTempMarker(marker)) {
            continue;
        }
        appTempDir = formatNarrow("%s_dir%d", marker.c_str(), static_cast<int>(std::time(nullptr)));
        logMessage(L"Temp dir3: %S", appTempDir.c_str());
        if (createPrivateDirectory(appTempDir)) {
            holdTempDirOwner(appTempDir);
            return;
        }
        logMessage(L"Could not create dir (%d)", static_cast<int>(GetLastError()));
    }
    appTempDir.clear();
    fatalErrorById(messages::kInternalError, L"7");
}

int extractFiles() {
    logMessage(L"extracting files");
    const int count = getConfigInt(ids::kIncludedFileCount);
    logMessage(L"Included files: %d", count);
    if (count == 0) {
        appTempDir.clear();
        return 0;
    }
    createAppTempDir();

    UniqueHandle payload = openOwnExecutable();
    LARGE_INTEGER offset{};
    offset.QuadPart = includedFilesOffset;
    SetFilePointerEx(payload.get(), offset, nullptr, FILE_BEGIN);

    // Names are separated by ";"; empty names between separators are skipped and read no record.
    const std::string names = getConfigStringCopy(ids::kIncludedFileNames);
    int extracted = 0;
    for (const std::string& name : splitList(names)) {
        if (extracted >= count) {
            break;
        }
        const std::string path = formatNarrow("%s\\%s", appTempDir.c_str(), name.c_str());
        if (leavesDirectory(name)) {
            logError(L"included file name %S leaves the temporary directory", name.c_str());
            fatalErrorById(messages::kInternalError, L"11");
        }
        createFirstLevelDirectory(name);
        const int result = extractOneFile(payload.get(), path);
        if (result != 0) {
            logError(L"Failed to extract %S", path.c_str());
            return result;
        }
        ++extracted;
    }
    unextractedPosition = currentPosition(payload.get());
    payload.reset();
    logMessage(L"extracting files done");
    return 0;
}

} // namespace morix
