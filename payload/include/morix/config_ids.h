// The configuration ids of the payload, by name: the launcher reads each of them through these names and
// the builder's key table sets them through the same ones, so that an id's number is written only here.
// The values that an id holds follow the grammars of config_values.h. Portable: no Windows types.
#pragma once

#include <cstdint>

namespace morix::ids {

// The application and its Java side.
inline constexpr int32_t kClassPath = 121;         // path entries (config_values.h)
inline constexpr int32_t kMainClass = 122;         // a binary name, or module/class with kMainClassInModule
inline constexpr int32_t kMainClassInModule = 133; // non-zero: the main class lives in a named module
inline constexpr int32_t kModulePath = 132;        // path entries
inline constexpr int32_t kProgramArguments = 124;  // split like a command line
inline constexpr int32_t kWorkingDirectory = 146;  // relative to the launcher's directory
inline constexpr int32_t kInstallationDirectory = 10003;    // relative to the launcher's directory
inline constexpr int32_t kNativeLibraryDirectories = 10004; // ";"-separated
inline constexpr int32_t kIncludedFileCount = 2002;
inline constexpr int32_t kIncludedFileNames = 2003; // ";"-separated, in the order of the records

// The launcher process.
inline constexpr int32_t kExecutableType = 107;   // one of executable_type (config_values.h)
inline constexpr int32_t kLauncherFlavour = 2001; // its first character: one of flavour
inline constexpr int32_t kReducePath = 10010;
inline constexpr int32_t kRemoveJavaOptionVariables = 10012;
inline constexpr int32_t kLongTempPath = 10009;
// Non-zero: a command line without a command word runs the application in process, as /run does.
inline constexpr int32_t kRunWithoutCommand = 30000;

// Where System.out and System.err go: a flag that switches the file on, and the file.
inline constexpr int32_t kRedirectStdout = 102;
inline constexpr int32_t kStdoutFile = 103;
inline constexpr int32_t kRedirectStderr = 104;
inline constexpr int32_t kStderrFile = 105;
inline constexpr int32_t kAppendOutput = 106;

// The Java runtime: bounds, search sequence and validation.
inline constexpr int32_t kMinVersion = 126;
inline constexpr int32_t kMaxVersion = 127;
inline constexpr int32_t kSearchSequence = 128; // search entries (config_values.h)
inline constexpr int32_t kAllowBeta = 130;
inline constexpr int32_t kRequireJdk = 131;
inline constexpr int32_t kPreviousInstallationsAppId = 160; // the application id of earlier installations
inline constexpr int32_t kBundledRuntimesOnly = 165;
inline constexpr int32_t kPreferredVm = 152;
inline constexpr int32_t kAddDllDirectories = 154;

// The JVM's options.
inline constexpr int32_t kVmOptions = 123; // split like a command line
inline constexpr int32_t kReadVmOptionsFile = 166;
inline constexpr int32_t kJArgumentsAreVmOptions = 125;
// Non-zero: the VM starts from an application class-data archive kept in the user's cache, made by the
// first run that has none.
inline constexpr int32_t kClassDataSharing = 30200;
// Version-specific option lines: a count, then for line i a condition and its options.
inline constexpr int32_t kVersionLineCount = 10200;
constexpr int32_t versionLineCondition(int32_t line) {
    return kVersionLineCount + 1 + 2 * line;
}
constexpr int32_t versionLineOptions(int32_t line) {
    return kVersionLineCount + 2 + 2 * line;
}

// The splash-screen settings handed to the Java side: a flag, a second flag, and four texts each with
// two integers, in the order of initAwtSplashConfig's arguments.
inline constexpr int32_t kSplashEnabled = 108;
inline constexpr int32_t kSplashSecondFlag = 163;
inline constexpr int32_t kSplashCount = 4;
inline constexpr int32_t kSplashText[kSplashCount] = {10111, 10114, 10118, 10121};
inline constexpr int32_t kSplashFirst[kSplashCount] = {10109, 10113, 10116, 10120};
inline constexpr int32_t kSplashSecond[kSplashCount] = {10110, 10115, 10117, 10122};

// The Windows service.
inline constexpr int32_t kServiceName = 101;
inline constexpr int32_t kServiceDependencies = 149;  // ","-separated
inline constexpr int32_t kServiceDescription = 20017; // a wide string

// The service's administration, our own ids (30100 to 30149): what /install registers beyond the name.
// A wide string: LocalSystem, LocalService, NetworkService or DOMAIN\user.
inline constexpr int32_t kServiceAccount = 30100;
inline constexpr int32_t kServiceDisplayName = 30101;  // wide; the service name when absent
inline constexpr int32_t kServiceDelayedStart = 30102; // "1": an automatic start is a delayed one
// The system's recovery: present when configured. The restart delay and the reset period in seconds;
// the number of restarts before the system gives up ("0" or absent: every failure restarts).
inline constexpr int32_t kServiceRecoveryDelay = 30103;
inline constexpr int32_t kServiceRecoveryReset = 30104;
inline constexpr int32_t kServiceRecoveryRestarts = 30105;
// The service host's own settings (ids of our own, 30150 to 30199). Absent: the host as before.
// Restart of a child that ends without a stop request: the first delay and the longest (seconds), the
// number of restarts within the window (seconds), and the exit codes that end the service cleanly.
inline constexpr int32_t kServiceRestartDelay = 30150;
inline constexpr int32_t kServiceRestartMaxDelay = 30151;
inline constexpr int32_t kServiceRestartLimit = 30152;
inline constexpr int32_t kServiceRestartWindow = 30153;
inline constexpr int32_t kServiceRestartSuccessCodes = 30154; // ","-separated decimal exit codes
// The child's environment: "NAME=value" entries, one per line (a wide string, launcher variables
// expanded by the host).
inline constexpr int32_t kServiceEnvironment = 30160;
// The child's standard output and error in rotating files: the directory (relative to the launcher),
// the size at which a file is rotated (bytes), the number of rotated files kept, and rotation by day.
inline constexpr int32_t kServiceLogDirectory = 30170;
inline constexpr int32_t kServiceLogMaxSize = 30171;
inline constexpr int32_t kServiceLogKeep = 30172;
inline constexpr int32_t kServiceLogDaily = 30173;

// Single instance.
inline constexpr int32_t kSingleInstance = 10005;
inline constexpr int32_t kGlobalSemaphore = 158;
inline constexpr int32_t kRaiseWindows = 10008;

} // namespace morix::ids
