// The VM thread started ahead: it runs the routine handed to it, and ends unused when the routine needs
// a stack of its own.
#include "windows/vm_thread.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

using namespace morix;

namespace {

struct Seen {
    DWORD thread = 0;
    size_t reservation = 0;
};

DWORD WINAPI record(void* parameter) {
    auto* seen = static_cast<Seen*>(parameter);
    seen->thread = GetCurrentThreadId();
    // The reservation is the run of regions that share the stack's allocation base.
    MEMORY_BASIC_INFORMATION region{};
    VirtualQuery(&region, &region, sizeof region);
    const void* base = region.AllocationBase;
    const char* next = static_cast<const char*>(base);
    for (int i = 0; i < 64 && VirtualQuery(next, &region, sizeof region) && region.AllocationBase == base;
         ++i) {
        seen->reservation += region.RegionSize;
        next += region.RegionSize;
    }
    return 7;
}

size_t threadsOfThisProcess() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    size_t count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more && count < 10000;
         more = Thread32Next(snapshot, &entry)) {
        count += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
    }
    CloseHandle(snapshot);
    return count;
}

// Waits at most ten seconds for the process to have the given number of threads.
bool threadCountBecomes(size_t expected) {
    for (int i = 0; i < 200; ++i) {
        if (threadsOfThisProcess() == expected) {
            return true;
        }
        Sleep(50);
    }
    return false;
}

} // namespace

TEST(VmThread, ThePrestartedThreadRunsTheRoutineAndAStackOfItsOwnGetsANewThread) {
    const size_t before = threadsOfThisProcess();
    prestartVmThread();
    Seen seen;
    EXPECT_EQ(runOnVmThread(record, &seen, 0), 7u);
    EXPECT_NE(seen.thread, GetCurrentThreadId());
    EXPECT_TRUE(threadCountBecomes(before));

    // Handed a routine that needs 8 MB, the waiting thread ends and a thread with that stack runs it.
    prestartVmThread();
    Seen own;
    EXPECT_EQ(runOnVmThread(record, &own, 8u << 20), 7u);
    EXPECT_NE(own.thread, GetCurrentThreadId());
    EXPECT_EQ(own.reservation, 8u << 20);
    EXPECT_TRUE(threadCountBecomes(before)) << threadsOfThisProcess() << " threads, " << before << " before";

    // Nothing started ahead: a thread of its own all the same.
    Seen fresh;
    EXPECT_EQ(runOnVmThread(record, &fresh, 0), 7u);
    EXPECT_NE(fresh.thread, GetCurrentThreadId());
}
