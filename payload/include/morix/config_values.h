// The grammars of the configuration values that are more than a text or a number: the letters and
// marks that the launcher parses and the builder writes. Portable: no Windows types.
#pragma once

#include <cstddef>
#include <cstdint>

namespace morix {

// The separator of the lists held by one id (search sequence, path entries, library directories,
// included file names).
inline constexpr char kListSeparator = ';';
// The service dependencies are separated by commas instead.
inline constexpr char kDependencySeparator = ',';

// The longest values the launcher reads whole: it reads into buffers of these capacities, one unit
// (byte or UTF-16 unit) of which ends the text.
inline constexpr size_t kValueCapacity = 6000;
inline constexpr size_t kArgumentsCapacity = 2000;  // ids::kProgramArguments
inline constexpr size_t kSplashTextCapacity = 2000; // ids::kSplashText
inline constexpr size_t kPreferredVmCapacity = 200; // ids::kPreferredVm

// Search sequence entries (ids::kSearchSequence): a letter followed directly by its text.
namespace search_entry {
// A runtime home (R); the same, tried again as written whatever its version when no entry qualifies
// (B; R only when relative); an older letter read like R (A), which the builder never writes.
inline constexpr char kDirectory = 'R', kDirectoryWithFallback = 'B', kLegacyDirectory = 'A';
// A runtime home that must meet the version bounds even when it is relative: never tried again (N).
inline constexpr char kDirectoryWithoutFallback = 'N';
// A variable that holds a runtime home (E); java.exe on PATH (S) and the registry's runtimes (Y), whose
// text is not used.
inline constexpr char kEnvironment = 'E', kSearchPath = 'S', kRegistry = 'Y';
} // namespace search_entry

// Class path and module path entries (ids::kClassPath, ids::kModulePath): a kind letter, a required
// flag, and the name from the third character on.
namespace path_entry {
// A file or directory, or a ";"-list of them (A, and D, which the builder writes for a directory); the
// value of a variable (E); every .jar, then every .zip in a directory (S).
inline constexpr char kArchive = 'A', kDirectory = 'D', kEnvironment = 'E', kScanDirectory = 'S';
// Any other flag character makes the entry optional too.
inline constexpr char kRequired = '1', kOptional = '0';
inline constexpr size_t kNameOffset = 2;
} // namespace path_entry

// The condition of a version-specific option line: the pattern mark followed by a pattern, or a
// minimum and a maximum feature version joined by the range separator.
namespace version_line {
inline constexpr char kPatternMark = '*', kRangeSeparator = '-';
} // namespace version_line

// The executable type (ids::kExecutableType).
namespace executable_type {
inline constexpr int kConsole = 0;
inline constexpr int kGui = 1;              // javaw.exe and message boxes
inline constexpr int kAutoStartService = 4; // a console launcher whose plain install starts automatically
inline constexpr int kConsoleWithDialogs = 5;
} // namespace executable_type

// The launcher flavour (the first character of ids::kLauncherFlavour).
namespace flavour {
inline constexpr char kMorix = 'e', kVantarock = 'i';
} // namespace flavour

// The service's account (ids::kServiceAccount): one of the built-in accounts by its short name, or a
// user account as DOMAIN\\user (".\\user" for an account of the machine itself).
namespace service_account {
inline constexpr const char* kLocalSystem = "LocalSystem";
inline constexpr const char* kLocalService = "LocalService";
inline constexpr const char* kNetworkService = "NetworkService";
// The longest account name and password that /install passes on (the system's own limits are lower).
inline constexpr size_t kMaxNameLength = 256;
inline constexpr size_t kMaxPasswordLength = 256;
} // namespace service_account

// The system's recovery (ids::kServiceRecoveryDelay and the two after it), in seconds and restarts.
namespace service_recovery {
inline constexpr int64_t kMaxDelaySeconds = 24 * 60 * 60;
inline constexpr int64_t kMaxResetSeconds = 365LL * 24 * 60 * 60;
inline constexpr int64_t kMaxRestarts = 100;
inline constexpr int64_t kDefaultDelaySeconds = 60;
inline constexpr int64_t kDefaultResetSeconds = 24 * 60 * 60;
} // namespace service_recovery
// The service host's restart policy and output logs (ids::kServiceRestart*, ids::kServiceLog*): the
// bounds that the builder checks and the launcher holds to, and the defaults of what a table leaves out.
namespace service_host {
inline constexpr char kExitCodeSeparator = ',';
inline constexpr char kEnvironmentSeparator = '\n';
inline constexpr int64_t kDefaultRestartDelaySeconds = 5;
inline constexpr int64_t kDefaultRestartMaxDelaySeconds = 60;
inline constexpr int64_t kDefaultRestartLimit = 5;
inline constexpr int64_t kDefaultRestartWindowSeconds = 600;
inline constexpr int64_t kMaxRestartDelaySeconds = 3600;
inline constexpr int64_t kMaxRestartLimit = 1000;
inline constexpr int64_t kMaxRestartWindowSeconds = 7 * 24 * 3600;
inline constexpr size_t kMaxSuccessCodes = 32;
inline constexpr int64_t kDefaultLogMaxSize = 10 * 1024 * 1024;
inline constexpr int64_t kMinLogMaxSize = 1024;
inline constexpr int64_t kMaxLogMaxSize = 2147483647;
inline constexpr int64_t kDefaultLogKeep = 5;
inline constexpr int64_t kMaxLogKeep = 100;
inline constexpr size_t kMaxEnvironmentEntries = 100;
} // namespace service_host

} // namespace morix
