// The Windows standard handles of the process as Unix descriptors 0, 1 and 2, which is where the Linux
// JDK reads and writes. A handle with a Unix descriptor behind it (a file, a terminal) is used directly.
// Wine's pipes have none: their data is relayed by Windows threads through Unix pipes, in order, and an
// output that shares one object with the other (stdout and stderr on one pipe) shares one Unix pipe so
// that its lines keep their order. An absent handle reads and writes /dev/null.
#pragma once

#include <windows.h>

#include <array>

namespace morix::bridge {

// Descriptors for 0, 1 and 2, owned by the caller.
using StandardDescriptors = std::array<int, 3>;

// Descriptors that stand for this process's Windows standard handles. Relays start at once.
StandardDescriptors standardDescriptors();

// Puts them in place as descriptors 0, 1 and 2 of this process, for the JVM inside it.
void bindStandardDescriptors();

// Copies what waits in the output relays to the Windows handles now. Called after every call into the
// JVM, so that its output comes before what the caller writes next. Windows threads only.
void flushRelayedOutput();

// The same while the process ends: other threads are gone, maybe holding the relays, which are then left.
void flushRelayedOutputAtExit();

// Waits until the output relays have reached the end of their data (a child holding the other ends has
// ended) or the time is up. Windows threads only.
bool waitForRelayedOutput(DWORD timeoutMs);

} // namespace morix::bridge
