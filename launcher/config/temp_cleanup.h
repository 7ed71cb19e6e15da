// Nothing a run puts into the temporary root outlives it, and nothing else is ever removed. A run owns
// its directory through two files it holds open for its whole life, so that no other process may delete
// them while it lives: the marker beside the directory (deleted on close) and the owner file inside it
// (kept on close, so that it shows the directory's owner has ended). The directory is removed in this
// process where Windows allows it; a file still open (a jar on the class path stays open until the
// process ends) hands the directory to a copy of the launcher that waits for this process to end and then
// removes it. What a killed or crashed run leaves is removed by the next start, a bounded amount per
// start: a directory goes only when its owner file, or for directories of older launchers its signed
// marker, exists and nobody holds it; one without either goes only once it is old. Removal never leaves
// the directory's own tree (config/tree_removal.h).
#pragma once

#include "config/tree_removal.h"
#include "frame/command_line.h"

#include <string>
#include <string_view>

namespace morix {

// The first argument that makes the launcher the cleanup helper instead of running anything.
inline constexpr const wchar_t* kCleanupArgument = L"__mrx_cleanup";
// The file inside a run's directory that the run holds open.
inline constexpr const wchar_t* kOwnerFileName = L".morix-owner";

// The cleanup helper's exit codes.
inline constexpr int kHelperRemoved = 0;
inline constexpr int kHelperRefused = 1;      // not a leftover of this user's temporary root: nothing touched
inline constexpr int kHelperLeftSome = 2;     // in use, owned, or a link inside: left for a later start
inline constexpr int kHelperOwnerRunning = 3; // the owner did not end within the helper's wait

// Opens the marker file as this run's owner record, signs it, and keeps it open until the process ends;
// false when it cannot be held.
bool holdTempMarker(const std::string& marker);
// Creates the owner file inside the run's new directory and keeps it open until the process ends.
bool holdTempDirOwner(const std::string& directory);

// Removes appTempDir (with every level below it) and releases the marker. When something in it cannot
// be removed yet, starts the cleanup helper for it. Clears appTempDir either way.
void cleanUpAppTempDir();

// Removes the directories and markers in the temporary root that no running process owns, within one
// budget of entries and time per start (the rest waits for the next start). Logs what it spent.
void removeStaleTempDirs();

// True when the last part of a path has the form of the launcher's temporary directories
// ("mrx<hex>.tmp_dir<number>").
bool isAppTempDirName(std::wstring_view path);
// The marker that owns a temporary directory: the path up to "_dir".
std::wstring markerOfAppTempDir(const std::wstring& directory);

enum class LeftoverOutcome {
    removed,  // the directory and its marker are gone
    kept,     // a living process owns it, an older launcher may, or it is not the launcher's at all
    leftSome, // an orphan, of which something stays (in use, a link inside, the budget spent)
};
// Removes the directory `name` in `root` (a directory taken as it is) when it is a leftover: a real
// directory of the launcher's form whose owner file exists and nobody holds; without one, whose signed
// marker exists and nobody holds; without either, that has not changed for a long time.
LeftoverOutcome removeLeftover(const std::wstring& root, std::wstring_view name, RemovalBudget& budget);

// The helper, started with kCleanupArgument, the owner's process id, its creation time and the
// directory: checks that the directory is a leftover in this user's temporary root, waits for the owner
// to end, then removes it. Returns one of the helper's exit codes.
int runCleanupHelper(const ArgumentList& arguments);

} // namespace morix
