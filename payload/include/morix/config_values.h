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
inline constexpr char kDirectory = 'R';             // a runtime home; tried again as written when relative
inline constexpr char kDirectoryWithFallback = 'B'; // the same, tried again as written in any case
inline constexpr char kLegacyDirectory = 'A';       // read like kDirectory; the builder writes R
inline constexpr char kEnvironment = 'E';           // a variable that holds a runtime home
inline constexpr char kSearchPath = 'S';            // java.exe on PATH; the text is not used
inline constexpr char kRegistry = 'Y';              // the registry's runtimes; the text is not used
} // namespace search_entry

// Class path and module path entries (ids::kClassPath, ids::kModulePath): a kind letter, a required
// flag, and the name from the third character on.
namespace path_entry {
inline constexpr char kArchive = 'A';       // a file or directory, or a ";"-list of them
inline constexpr char kDirectory = 'D';     // the same; the builder writes it for a directory
inline constexpr char kEnvironment = 'E';   // the value of a variable
inline constexpr char kScanDirectory = 'S'; // every .jar, then every .zip in a directory
inline constexpr char kRequired = '1';      // any other flag character makes the entry optional
inline constexpr char kOptional = '0';
inline constexpr size_t kNameOffset = 2;
} // namespace path_entry

// The condition of a version-specific option line: the pattern mark followed by a pattern, or a
// minimum and a maximum feature version joined by the range separator.
namespace version_line {
inline constexpr char kPatternMark = '*';
inline constexpr char kRangeSeparator = '-';
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
inline constexpr char kMorix = 'e';
inline constexpr char kVantarock = 'i';
} // namespace flavour

} // namespace morix
