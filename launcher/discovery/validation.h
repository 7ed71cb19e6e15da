// Judging one Java runtime candidate: its java.exe must exist, its version must be known (learned by
// running it with -version once, then cached per user in the registry) and lie within the bounds.
// The same version arithmetic picks the best of several registry runtimes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace morix {

// A version split at the characters "._-+"; an empty list is no bound.
using VersionNumbers = std::vector<int32_t>;

// java.exe paths whose jvm.dll failed to load; every later validation rejects them.
extern std::vector<std::string> nonWorkingJavas;
// Time limit of a -version run. Tests lower it; the launcher never changes it.
extern unsigned javaVersionTimeoutMs;

VersionNumbers parseVersion(std::string_view text);
// Whether the candidate lies within the limit, compared over the limit's own components. With
// `stopWhenCandidateEnds` a candidate that runs out of components is accepted; otherwise missing
// components count as 0.
bool compareToLimit(const VersionNumbers& limit, const VersionNumbers& candidate, bool isMaximum,
                    bool stopWhenCandidateEnds);
// Bounds plus the rule against beta, early-access and release-candidate runtimes.
bool checkVersion(const std::string& version, const VersionNumbers& minimum, const VersionNumbers& maximum,
                  bool allowBeta);
// The lenient test for registry key names and CurrentVersion values: "1.8" passes a minimum of 1.8.0_200.
bool checkVersionKey(const std::string& key, const VersionNumbers& minimum, const VersionNumbers& maximum);
// True when a is strictly greater than b.
bool isNewerVersion(const std::string& a, const std::string& b);
// Records a failed path; false once the list is full (50 paths).
bool addNonWorkingJava(const std::string& path);

// H\jre\bin\java.exe when it exists (or always when a JDK is required: then H must hold lib\tools.jar),
// else H\bin\java.exe.
bool javaExeFromHome(std::string& javaExe, const std::string& home);

// Validates a java.exe; on return `javaExePath` holds the full path actually chosen (javaw.exe for
// executable type 1) and `version` the version found, also when the result is false.
bool checkJavaExe(std::string& javaExePath, std::string& version, const VersionNumbers& minimum,
                  const VersionNumbers& maximum, bool allowBeta, bool useCache,
                  size_t versionCapacity = 6000);

// Runs the executable with -version and reads the version from the first line it writes to stderr.
bool runJavaVersion(const std::string& javaExe, uint64_t lastWriteTime, std::string& version);

// The per-user version cache: one key per executable, valid while its last-write time is unchanged.
bool readCachedVersion(const std::string& javaExe, uint64_t lastWriteTime, std::string& version,
                       size_t versionCapacity);
void writeCachedVersion(const std::string& javaExe, uint64_t lastWriteTime, const std::string& version);

} // namespace morix
