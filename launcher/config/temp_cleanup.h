// Nothing a run puts into the temporary root outlives it. The run holds its marker file open (deleted on
// close, nobody else may delete it), so the marker exists and is held exactly as long as the owning
// process lives, however that process ends. The directory is removed in this process where Windows
// allows it; a file still open (a jar on the class path stays open until the process ends) hands the
// directory to a copy of the launcher that waits for this process to end and then removes it. What a
// killed or crashed run leaves is removed by the next start: a directory whose marker is gone, or is
// signed by its run and no longer held, belongs to nobody. Launchers built before the marker was held
// leave it unsigned and unheld for their whole run: such a directory is never removed.
#pragma once

#include "frame/command_line.h"

#include <string>

namespace morix {

// The first argument that makes the launcher the cleanup helper instead of running anything.
inline constexpr const wchar_t* kCleanupArgument = L"__mrx_cleanup";

// Opens the marker file as this run's owner record, signs it, and keeps it open until the process ends;
// false when it cannot be held.
bool holdTempMarker(const std::string& marker);

// Removes appTempDir (with every level below it) and releases the marker. When something in it cannot
// be removed yet, starts the cleanup helper for it. Clears appTempDir either way.
void cleanUpAppTempDir();

// Removes the directories and markers in the temporary root that no running process owns, a bounded
// number in a bounded time.
void removeStaleTempDirs();

// True when a path names one of the launcher's temporary directories ("mrx....tmp_dir<number>").
bool isAppTempDirName(const std::string& path);
// The marker that owns a temporary directory: the path up to "_dir".
std::string markerOfAppTempDir(const std::string& directory);
// Removes a directory whose owner has ended: its marker (when signed and nobody holds it) and the whole
// tree. False while the owner lives, beside an unsigned marker, or when something could not be removed.
bool removeOrphanedTempDir(const std::string& directory);

// The helper, started with kCleanupArgument, the owner's process id, its creation time and the
// directory: waits for the owner to end, then removes the directory. Returns its exit code.
int runCleanupHelper(const ArgumentList& arguments);

} // namespace morix
