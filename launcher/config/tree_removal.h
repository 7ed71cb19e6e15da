// Removal in a temporary root that other users can write to. Every step is wide and works on handles: an
// entry is opened without following a link in its last part, checked on that handle, and deleted through
// that same handle. The check is twofold because systems differ: Windows opens a link itself and shows
// its reparse bit, Wine opens what the link points at; so the handle must show no reparse bit to be
// entered, and its final path must be exactly the path the walk built, which also catches a link that was
// followed after all and anything swapped in between the listing and the open.
#pragma once

#include "common/handles.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace morix {

// What one removal may spend, however many directories it takes on: entries touched and time, checked
// before each entry. Once either is spent, the rest is left for later.
class RemovalBudget {
public:
    RemovalBudget(int entries, ULONGLONG milliseconds);

    // Counts one entry; false, counting nothing, once the entries or the time are spent.
    bool take();
    bool spent() const { return spent_; }
    int touched() const { return touched_; }
    int limit() const { return limit_; }
    ULONGLONG elapsedMs() const;

private:
    int limit_;
    int touched_ = 0;
    ULONGLONG start_;
    ULONGLONG deadline_;
    bool spent_ = false;
};

// An entry opened for removal, with what its handle says about it.
struct RemovalEntry {
    UniqueHandle handle;
    DWORD attributes = 0;
    uint64_t lastWriteTime = 0; // FILETIME value
};

enum class EntryCheck {
    opened,    // exactly the expected path, with the attributes of the handle
    gone,      // not there (any more)
    inUse,     // open elsewhere without the sharing that this open asked for
    elsewhere, // the handle reaches another path: a link that was followed, or a swap
    failed,    // any other error, logged with the call and its code
};

// Opens `path` (a final path, as built from finalDirectoryPath and plain child names) to delete it or to
// enter it. `claim` opens it with no sharing at all: that open succeeds only when nobody else has the file
// open, and keeps everybody else off it while the handle lives.
EntryCheck openForRemoval(const std::wstring& path, RemovalEntry& entry, bool claim = false);

// The final path of a directory that is taken as it is (the temporary root), or empty (logged).
std::wstring finalDirectoryPath(const std::wstring& path);

// True for a name that the walk may append to a path: not empty, not "." or "..", without "\", "/", ":".
bool isPlainChildName(std::wstring_view name);

// Deletes an opened entry through its handle, then closes it. A read-only file loses that attribute first,
// unless it has other names, whose attributes are the same: then it stays.
bool deleteThroughHandle(RemovalEntry& entry, const std::wstring& path);

// Removes everything below an opened and checked directory whose final path is `path`, except the
// top-level entry named `keep`: links are unlinked where the system shows them as links, never entered.
// True when nothing else is left; false when something stays (in use, a link that only a follower could
// remove, a name no path can hold, the budget spent). With `logSteps`, every step is logged.
bool removeDirectoryContents(const RemovalEntry& directory, const std::wstring& path, std::wstring_view keep,
                             RemovalBudget& budget, bool logSteps);

} // namespace morix
