// Java runtimes named in the Windows registry: the JavaSoft keys that Java installers write, the
// launcher family's own list of located runtimes, and earlier installations of the same application.
#pragma once

#include "discovery/validation.h"

#include <windows.h>

#include <string>

namespace morix {

// The registry source of the search sequence: JavaSoft and located runtimes, the newer one wins.
bool searchRegistry(std::string& javaExe, std::string& version, const VersionNumbers& minimum,
                    const VersionNumbers& maximum);
bool searchJavaSoft(std::string& javaExe, std::string& version, const VersionNumbers& minimum,
                    const VersionNumbers& maximum);
bool readJavaSoftCurrentVersion(const char* jdkKey, const char* jreKey, std::string& javaExe,
                                std::string& version, const VersionNumbers& minimum,
                                const VersionNumbers& maximum);
bool scanJavaSoftVersions(const char* key, std::string& javaExe, std::string& version,
                          const VersionNumbers& minimum, const VersionNumbers& maximum);
bool searchLocatedJvms(bool acceptAll, std::string& javaExe, std::string& version,
                       const VersionNumbers& minimum, const VersionNumbers& maximum);
bool scanLocatedJvms(HKEY hive, bool acceptAll, std::string& javaExe, std::string& version,
                     const VersionNumbers& minimum, const VersionNumbers& maximum);
// A runtime in the "jre" subdirectory of an earlier installation recorded under the hive.
bool findPreviousInstallation(HKEY hive, std::string& javaExe, std::string& version,
                              const VersionNumbers& minimum, const VersionNumbers& maximum);

} // namespace morix
