// Finding a Java runtime: a fixed frame of steps around the configured search sequence. Each source
// yields at most one candidate; a candidate that validates has its jvm.dll loaded at once, and the first
// one that loads ends the search.
#pragma once

#include "discovery/validation.h"

#include <windows.h>

#include <string>

namespace morix {

// The kind of source that produced the last candidate that passed validation.
enum class JvmLocationKind { None = 0, SearchPath = 1, Directory = 2, EnvironmentVariable = 3, Registry = 4 };

struct JvmSearchResult {
    HMODULE module = nullptr; // the loaded jvm.dll, or none
    std::string javaExePath;
    std::string version;
    JvmLocationKind kind = JvmLocationKind::None;
    std::string locationText; // the directory, variable name or entry text of the candidate's source
};

JvmSearchResult searchJvm();

bool tryLocation(const std::string& directory, std::string& javaExePath, std::string& version,
                 const VersionNumbers& minimum, const VersionNumbers& maximum, bool allowBeta,
                 bool acceptWithoutMatch);
bool tryEnvironmentVariable(const std::string& name, std::string& javaExePath, std::string& version,
                            const VersionNumbers& minimum, const VersionNumbers& maximum);
bool trySearchPath(std::string& javaExePath, std::string& version, const VersionNumbers& minimum,
                   const VersionNumbers& maximum);
// The first line of a file below the installation directory (id 10003), without line ends.
bool readLocationFile(std::string& line, const wchar_t* relativeName);

} // namespace morix
