// Paths that work in both worlds: the launcher hands them to wide and to narrow (ANSI code page) file
// functions and passes many of them to Java as narrow text. Relative paths are taken against the
// launcher's own directory.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace morix {

// The long wide path of the running executable (computed once).
const std::wstring& getExecutablePathWide();
// A narrow path to the same file that the ANSI file functions can open; 8.3 names where the code page
// cannot represent the long one. Empty when everything failed.
const std::string& getExecutablePath();

// The executable's directory with a trailing backslash: narrow; narrow widened through the ANSI code
// page (the narrow-safe wide form); and wide.
const std::string& getExecutableDirectory();
const std::wstring& getExecutableDirectoryNarrowSafe();
const std::wstring& getExecutableDirectoryWide();

// False when no component of the path can be a generated 8.3 name: those always hold a "~". Such a path is
// its own long form, up to the case of its letters, and the file system need not be asked for it (which
// lists every directory on the way).
bool mayHoldShortName(std::wstring_view path);

// The 8.3 form of a path as cmd.exe reports it, or none.
std::optional<std::string> getShortPathViaShell(const std::wstring& path);

// True unless (after one leading double quote) the path starts with a drive letter, ":" and "\", or "\\".
bool isRelativePath(std::string_view path);
bool isRelativePath(std::wstring_view path);

// A drive root ("X:\", "X:\.", "X:\.\.") exists; anything else exists when a directory listing finds it:
// a pattern ("*", "?") when some entry matches it, a name with a trailing separator never.
bool fileExists(const std::string& path);
bool fileExists(const std::wstring& path);
// Like fileExists without the drive-root rule; stores the entry's last-write time.
bool findFileTime(const std::string& path, uint64_t* lastWriteTime);

// Runs of backslashes after the first character become one backslash (a leading "\\" stays).
void collapseBackslashes(std::string& path);
void collapseBackslashes(std::wstring& path);
// Lower-cases A to Z (through the wide form; unchanged when that round trip is lossy).
void lowercasePath(std::string& path);

// A relative path is appended to the directory of `baseFile`, or to the executable's directory.
std::string resolvePath(const std::string& path, const std::string* baseFile = nullptr);
std::wstring resolvePathWide(const std::wstring& path, bool narrowSafe,
                             const std::wstring* baseFile = nullptr);
// resolvePath, then made absolute without "." and ".." parts; lower-cased unless keepCase.
std::string resolveFullPath(const std::string& path, bool keepCase);
std::wstring resolveFullPathWide(const std::wstring& path, bool narrowSafe, bool keepCase);
// Resolves every non-empty element of a ";"-list; the callback sees each resolved element.
std::string resolvePathList(const std::string& list,
                            const std::function<void(const std::string&)>& callback = nullptr);

} // namespace morix
