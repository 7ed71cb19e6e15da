#include "stdio_relay.h"

#include "diagnostics.h"
#include "winelib.h"

#include "common/handles.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <mutex>
#include <vector>

namespace morix::bridge {
namespace {

constexpr size_t kChunkSize = 65536;

struct OutputRelay {
    int source;    // read end of the Unix pipe, non-blocking
    HANDLE target; // the Windows handle, owned by the process's standard handles
    bool open = true;
    bool broken = false; // the Windows side stopped taking data: what comes is read and dropped
};

// The output relays of the process. Never destroyed: threads may use them while the process ends.
struct OutputRelays {
    std::mutex lock;
    std::vector<OutputRelay> relays;
    UniqueHandle finished{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

OutputRelays& outputRelays() {
    static OutputRelays& relays = *new OutputRelays;
    return relays;
}

bool usable(HANDLE handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

bool writeAll(HANDLE target, const char* data, size_t size) {
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(target, data, static_cast<DWORD>(size), &written, nullptr) || written == 0) {
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

bool writeAll(int descriptor, const char* data, size_t size) {
    while (size > 0) {
        ssize_t written = write(descriptor, data, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// Moves what the relay's pipe holds now to its Windows handle. Called with the lock held.
void drain(OutputRelay& relay) {
    static char chunk[kChunkSize];
    while (relay.open) {
        ssize_t count = read(relay.source, chunk, sizeof chunk);
        if (count > 0) {
            if (!relay.broken && !writeAll(relay.target, chunk, static_cast<size_t>(count))) {
                trace("output relay to handle %p broken (error %u)", relay.target,
                      static_cast<unsigned>(GetLastError()));
                relay.broken = true;
            }
        } else if (count < 0 && errno == EINTR) {
            continue;
        } else if (count < 0 && errno == EAGAIN) {
            return;
        } else {
            close(relay.source);
            relay.open = false;
        }
    }
}

DWORD WINAPI pollOutputRelays(void*) {
    OutputRelays& relays = outputRelays();
    for (;;) {
        std::vector<pollfd> waiting;
        {
            std::lock_guard guard(relays.lock);
            for (const OutputRelay& relay : relays.relays) {
                if (relay.open) {
                    waiting.push_back({relay.source, POLLIN, 0});
                }
            }
        }
        if (waiting.empty()) {
            break;
        }
        if (poll(waiting.data(), waiting.size(), -1) < 0 && errno != EINTR) {
            trace("poll of the output relays failed: errno %d", errno);
            break;
        }
        flushRelayedOutput();
    }
    SetEvent(relays.finished.get());
    return 0;
}

struct WindowsHeapFree {
    void operator()(char* memory) const { HeapFree(GetProcessHeap(), 0, memory); }
};

struct InputRelay {
    HANDLE source;
    int target; // write end of the Unix pipe
};

DWORD WINAPI relayInput(void* parameter) {
    InputRelay relay = *static_cast<InputRelay*>(parameter);
    delete static_cast<InputRelay*>(parameter);
    // Wine's server reads only into memory that Wine maps, like the Windows heap; into the C library's heap
    // a read fails with ERROR_INVALID_USER_BUFFER.
    std::unique_ptr<char, WindowsHeapFree> chunk(
        static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, kChunkSize)));
    DWORD count = 0;
    while (chunk && ReadFile(relay.source, chunk.get(), kChunkSize, &count, nullptr) && count > 0) {
        if (!writeAll(relay.target, chunk.get(), count)) {
            break;
        }
    }
    trace("input relay ends (error %u)", static_cast<unsigned>(GetLastError()));
    close(relay.target);
    return 0;
}

int openNull(int flags) {
    return open("/dev/null", flags | O_CLOEXEC);
}

int unixDescriptorOf(HANDLE handle, unsigned int access) {
    int descriptor = -1;
    return wine_server_handle_to_fd(handle, access, &descriptor, nullptr) == 0 ? descriptor : -1;
}

// The write end of a Unix pipe whose data goes to `target`.
int relayOutputTo(HANDLE target) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        fail("cannot create a pipe for the standard output relay (errno %d)", errno);
    }
    fcntl(ends[0], F_SETFL, O_NONBLOCK);
    OutputRelays& relays = outputRelays();
    std::lock_guard guard(relays.lock);
    relays.relays.push_back({ends[0], target});
    trace("relaying descriptor %d to Windows handle %p", ends[1], target);
    return ends[1];
}

// The read end of a Unix pipe that a Windows thread fills from `source`.
int relayInputFrom(HANDLE source) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        fail("cannot create a pipe for the standard input relay (errno %d)", errno);
    }
    UniqueHandle thread(CreateThread(nullptr, 0, relayInput, new InputRelay{source, ends[1]}, 0, nullptr));
    if (!thread) {
        fail("cannot start the standard input relay (error %u)", static_cast<unsigned>(GetLastError()));
    }
    trace("relaying Windows handle %p to descriptor %d", source, ends[0]);
    return ends[0];
}

bool sameObject(HANDLE first, HANDLE second) {
    if (first == second) {
        return true;
    }
    using Compare = BOOL(WINAPI*)(HANDLE, HANDLE);
    static const Compare compare =
        lookupFunction<Compare>(GetModuleHandleW(L"kernelbase.dll"), "CompareObjectHandles");
    return compare != nullptr && compare(first, second);
}

int inputDescriptor(HANDLE input) {
    if (!usable(input)) {
        return openNull(O_RDONLY);
    }
    int descriptor = unixDescriptorOf(input, FILE_READ_DATA);
    return descriptor >= 0 ? descriptor : relayInputFrom(input);
}

int outputDescriptor(HANDLE output) {
    if (!usable(output)) {
        return openNull(O_WRONLY);
    }
    int descriptor = unixDescriptorOf(output, FILE_WRITE_DATA);
    return descriptor >= 0 ? descriptor : relayOutputTo(output);
}

} // namespace

StandardDescriptors standardDescriptors() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    StandardDescriptors descriptors{inputDescriptor(input), outputDescriptor(output), -1};
    descriptors[2] = usable(output) && usable(error) && sameObject(output, error)
                         ? fcntl(descriptors[1], F_DUPFD_CLOEXEC, 3)
                         : outputDescriptor(error);
    bool relaying;
    {
        OutputRelays& relays = outputRelays();
        std::lock_guard guard(relays.lock);
        relaying = !relays.relays.empty();
    }
    if (relaying) {
        UniqueHandle poller(CreateThread(nullptr, 0, pollOutputRelays, nullptr, 0, nullptr));
        if (!poller) {
            fail("cannot start the standard output relay (error %u)", static_cast<unsigned>(GetLastError()));
        }
    } else {
        SetEvent(outputRelays().finished.get());
    }
    return descriptors;
}

void bindStandardDescriptors() {
    StandardDescriptors descriptors = standardDescriptors();
    for (int target = 0; target < 3; ++target) {
        if (descriptors[target] >= 0 && descriptors[target] != target) {
            dup2(descriptors[target], target);
            close(descriptors[target]);
        }
    }
}

void flushRelayedOutput() {
    OutputRelays& relays = outputRelays();
    std::lock_guard guard(relays.lock);
    for (OutputRelay& relay : relays.relays) {
        drain(relay);
    }
}

void flushRelayedOutputAtExit() {
    OutputRelays& relays = outputRelays();
    std::unique_lock guard(relays.lock, std::try_to_lock);
    if (!guard.owns_lock()) {
        return;
    }
    for (OutputRelay& relay : relays.relays) {
        drain(relay);
    }
}

bool waitForRelayedOutput(DWORD timeoutMs) {
    return WaitForSingleObject(outputRelays().finished.get(), timeoutMs) == WAIT_OBJECT_0;
}

} // namespace morix::bridge
