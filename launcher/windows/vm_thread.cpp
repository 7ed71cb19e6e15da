#include "windows/vm_thread.h"

#include "common/handles.h"
#include "frame/log.h"

#include <memory>
#include <utility>

namespace morix {

namespace {

// A launcher that has not handed over the VM routine by then is still unpacking or validating runtimes;
// the waiting thread ends, and the VM gets a thread of its own.
constexpr DWORD kHandOverLimitMs = 10 * 60 * 1000;

enum : LONG { kWaiting, kHandedOver, kGivenUp };

struct WaitingThread {
    UniqueHandle thread;
    UniqueHandle handOver; // manual reset: set once, for the routine or for giving up
    LPTHREAD_START_ROUTINE routine = nullptr;
    void* parameter = nullptr;
    // Moves once, away from kWaiting: to kHandedOver by the launcher, or to kGivenUp by either side.
    volatile LONG state = kWaiting;
};

// Lives as long as the process: the thread may still be reading it when the launcher is done with it.
WaitingThread* waiting = nullptr;

DWORD WINAPI awaitRoutine(void* parameter) {
    auto* slot = static_cast<WaitingThread*>(parameter);
    WaitForSingleObject(slot->handOver.get(), kHandOverLimitMs);
    // Gives up unless the launcher has moved the state on (a wait that timed out may just have missed it);
    // the routine and its parameter were written before the state moved to kHandedOver.
    if (InterlockedCompareExchange(&slot->state, kGivenUp, kWaiting) != kHandedOver) {
        return 0;
    }
    return slot->routine(slot->parameter);
}

// The waiting thread's handle once the routine is its to run; null when there is none or it gave up.
HANDLE handOver(LPTHREAD_START_ROUTINE routine, void* parameter, unsigned stackSize) {
    if (waiting == nullptr) {
        return nullptr;
    }
    WaitingThread* slot = std::exchange(waiting, nullptr);
    const bool fits = stackSize == 0;
    if (fits) {
        slot->routine = routine;
        slot->parameter = parameter;
    }
    const LONG before = InterlockedCompareExchange(&slot->state, fits ? kHandedOver : kGivenUp, kWaiting);
    if (!SetEvent(slot->handOver.get())) {
        // The thread then finds the routine when its wait ends.
        logError(L"SetEvent error %lu for the VM thread", GetLastError());
    }
    if (before != kWaiting || !fits) {
        logMessage(fits ? L"the waiting VM thread had ended" : L"the VM thread needs a stack of its own");
        return nullptr;
    }
    return slot->thread.get();
}

DWORD exitCodeAfterEnd(HANDLE thread) {
    WaitForSingleObject(thread, INFINITE);
    DWORD exitCode = 0;
    GetExitCodeThread(thread, &exitCode);
    return exitCode;
}

} // namespace

void prestartVmThread() {
    if (waiting != nullptr) {
        return;
    }
    auto slot = std::make_unique<WaitingThread>();
    slot->handOver.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!slot->handOver) {
        logError(L"CreateEventW error %lu for the VM thread", GetLastError());
        return;
    }
    slot->thread.reset(
        CreateThread(nullptr, 0, awaitRoutine, slot.get(), STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (!slot->thread) {
        logError(L"CreateThread error %lu for the VM thread", GetLastError());
        return;
    }
    waiting = slot.release();
}

DWORD runOnVmThread(LPTHREAD_START_ROUTINE routine, void* parameter, unsigned stackSize) {
    if (HANDLE thread = handOver(routine, parameter, stackSize)) {
        return exitCodeAfterEnd(thread);
    }
    UniqueHandle thread(
        CreateThread(nullptr, stackSize, routine, parameter, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (!thread) {
        logError(L"CreateThread error %lu, the VM runs on the launcher's thread", GetLastError());
        return routine(parameter);
    }
    return exitCodeAfterEnd(thread.get());
}

} // namespace morix
