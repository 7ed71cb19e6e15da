// The files included in the payload, written into a fresh temporary directory of this process.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace morix {

// The launcher's own temporary directory (narrow); empty until one was created. Removed when the run ends
// (config/temp_cleanup.h).
extern std::string appTempDir;
// Offset in the own executable just after the last included file; 0 when nothing was extracted.
extern uint32_t unextractedPosition;

// Results of copyStream (and so of extractOneFile and extractFiles).
inline constexpr int kCopyReadFailed = 1;
inline constexpr int kCopyWriteFailed = 2;

// Creates appTempDir and writes the included files (configuration 2002 and 2003) into it. 0 on success,
// otherwise the failed copy's result, which the caller treats as fatal.
int extractFiles();
// Sets appTempDir to a new directory beside a fresh marker file in the temporary root, or ends the process
// (message 1009, "7").
void createAppTempDir();
// The security descriptor of a private directory, with the access list and the identities it points to.
struct PrivateSecurity {
    SECURITY_DESCRIPTOR descriptor{};
    std::vector<uint64_t> acl;  // 8-byte aligned, as an ACL must be
    std::vector<uint64_t> user; // the token's TOKEN_USER
    uint64_t system[SECURITY_MAX_SID_SIZE / sizeof(uint64_t) + 1]{};
    uint64_t administrators[SECURITY_MAX_SID_SIZE / sizeof(uint64_t) + 1]{};
};
// What a private directory is created with: full control for SYSTEM, the administrators and this account,
// inherited by everything below, and nothing from the parent. None (logged) when the account cannot be
// read.
std::unique_ptr<PrivateSecurity> privateDirectorySecurity();
// Creates a directory that only this account, SYSTEM and the administrators may enter (nothing inherited);
// false when CreateDirectoryW fails (GetLastError tells why).
bool createPrivateDirectoryWide(const std::wstring& path);
// Reads one record (size, masked content) from the payload handle into the file at path. A record of
// size 0 or less creates no file; a file that cannot be created ends the process (message 1009, "11").
int extractOneFile(HANDLE payload, const std::string& path);
// Copies size bytes in pieces of at most a megabyte, unmasking them when asked: 0, kCopyReadFailed or
// kCopyWriteFailed.
int copyStream(HANDLE source, HANDLE target, int64_t size, bool unscramble);

} // namespace morix
