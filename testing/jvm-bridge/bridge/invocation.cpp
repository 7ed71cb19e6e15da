// jvm.dll's exports and its JavaVM: the Invocation API for Windows callers. The JVM is created on a Linux
// thread of its own, which then makes the JNI calls of the Windows thread that created it; other Windows
// threads get partners of their own when they attach.
#include "bridged_env.h"
#include "diagnostics.h"
#include "exit_hooks.h"
#include "jni_slots.h"
#include "linux_jdk.h"
#include "option_translation.h"
#include "signals.h"
#include "stdio_relay.h"
#include "vm_thread.h"
#include "windows_paths.h"
#include "winelib.h"

#include <dlfcn.h>

#include <array>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace morix::bridge {
namespace {

using CreateJavaVm = jint (*)(JavaVM**, void**, void*);
using GetDefaultArgs = jint (*)(void*);

// The stack of the Linux thread that creates the JVM and runs main; -Xss sets it instead (but not below
// the minimum), as it sets the stack of the launcher's VM thread on Windows.
constexpr size_t kDefaultStackSize = 8u << 20;
constexpr size_t kMinimumStackSize = 1u << 20;
// A 32-bit Wine process leaves the JVM too little contiguous address space for HotSpot's default heap
// (a quarter of the memory, 1 GB reserved): the bridge's default comes first, so that a caller's -Xmx,
// later in the list, still wins.
#if !defined(__x86_64__)
constexpr const char* kDefaultHeapOption = "-Xmx256m";
#endif
// Windows threads attached at the same time; more are refused as out of memory.
constexpr size_t kMaxAttachedThreads = 256;
// The bit that marks JVMTI versions in GetEnv; JVMTI is not bridged.
constexpr jint kJvmtiVersionMask = 0x30000000;

struct BridgedVm {
    const void* const* functions;
};

// The process's one JVM. Never destroyed: Linux threads may use it while the process ends.
struct VmState {
    std::mutex lock;
    JavaVM* real = nullptr;
    bool created = false;
    bool destroyed = false;
    std::map<DWORD, BridgedEnv*> attached; // by Windows thread id
    std::vector<std::string> optionTexts;
    std::vector<JavaVMOption> options;
    JavaVMInitArgs arguments{};
};

VmState& vmState() {
    static VmState& state = *new VmState;
    return state;
}

BridgedVm& bridgedVm();

BridgedEnv* attachedEnv(DWORD thread) {
    VmState& state = vmState();
    std::lock_guard guard(state.lock);
    auto found = state.attached.find(thread);
    return found == state.attached.end() ? nullptr : found->second;
}

void hookOption(std::vector<JavaVMOption>& options, const char* name, void* hook) {
    options.push_back({const_cast<char*>(name), hook});
}

// The caller's options for the Linux JVM: paths and encodings translated, the caller's own hooks (Windows
// functions the JVM could not call) replaced by the bridge's (which calls the caller's exit hook), and the
// drive directory for the Java side.
size_t translateOptions(const JavaVMInitArgs& given, VmState& state) {
    size_t stackSize = kDefaultStackSize;
    state.optionTexts.clear();
    std::string drives = driveDirectory();
    if (!drives.empty()) {
        state.optionTexts.push_back("-Dmorix.windowsDrives=" + drives);
    }
#if !defined(__x86_64__)
    state.optionTexts.push_back(kDefaultHeapOption);
#endif
    TextMapping mapping = ansiTextMapping();
    for (jint i = 0; i < given.nOptions; ++i) {
        const char* option = given.options[i].optionString;
        if (option == nullptr) {
            continue;
        }
        if (strcmp(option, "exit") == 0) {
            trace("the caller's exit hook runs after the bridge's");
            setCallerExitHook(given.options[i].extraInfo);
            continue;
        }
        if (strcmp(option, "abort") == 0 || strcmp(option, "vfprintf") == 0) {
            trace("the caller's %s hook is not used", option);
            continue;
        }
        state.optionTexts.push_back(translateVmOption(option, mapping));
        trace("option '%s' -> '%s'", option, state.optionTexts.back().c_str());
        if (std::optional<uint64_t> requested = stackSizeOption(option)) {
            // A size beyond this process's address space is kept whole, so that the thread cannot start.
            stackSize =
                std::max(static_cast<size_t>(std::min<uint64_t>(*requested, SIZE_MAX)), kMinimumStackSize);
        }
    }
    state.options.clear();
    for (std::string& text : state.optionTexts) {
        state.options.push_back({text.data(), nullptr});
    }
    hookOption(state.options, "exit", reinterpret_cast<void*>(&jvmExitHook));
    hookOption(state.options, "abort", reinterpret_cast<void*>(&jvmAbortHook));
    state.arguments = JavaVMInitArgs{given.version, static_cast<jint>(state.options.size()),
                                     state.options.data(), given.ignoreUnrecognized};
    return stackSize;
}

// ---- the JavaVM table

MORIX_WINAPI jint destroyJavaVm(JavaVM*) {
    VmState& state = vmState();
    BridgedEnv* env = attachedEnv(GetCurrentThreadId());
    VmThread* thread = env != nullptr ? env->thread : nullptr;
    jint result = JNI_OK;
    if (thread == nullptr) {
        // Like HotSpot, DestroyJavaVM attaches a thread that is not attached yet.
        thread = VmThread::start(
            kDefaultStackSize, [](JNIEnv**) { return JNI_OK; }, &result);
        if (thread == nullptr) {
            return result;
        }
    }
    result = thread->runLast([&state](JNIEnv*) { return state.real->DestroyJavaVM(); });
    // What the shutdown hooks printed comes before the caller's next output.
    flushRelayedOutput();
    trace("DestroyJavaVM returned %d", result);
    VmThread::markJvmDestroyed();
    std::lock_guard guard(state.lock);
    state.destroyed = true;
    state.attached.clear();
    return result;
}

jint attachThread(void** penv, void* arguments, bool daemon) {
    DWORD windowsThread = GetCurrentThreadId();
    if (BridgedEnv* env = attachedEnv(windowsThread)) {
        *penv = env;
        return JNI_OK;
    }
    VmState& state = vmState();
    {
        std::lock_guard guard(state.lock);
        if (state.attached.size() >= kMaxAttachedThreads) {
            return JNI_ENOMEM;
        }
    }
    jint result = JNI_ERR;
    VmThread* thread = VmThread::start(
        kDefaultStackSize,
        [&state, arguments, daemon](JNIEnv** env) {
            void** out = reinterpret_cast<void**>(env);
            return daemon ? state.real->AttachCurrentThreadAsDaemon(out, arguments)
                          : state.real->AttachCurrentThread(out, arguments);
        },
        &result);
    if (thread == nullptr) {
        return result;
    }
    BridgedEnv* env = newBridgedEnv(thread);
    std::lock_guard guard(state.lock);
    state.attached[windowsThread] = env;
    *penv = env;
    return JNI_OK;
}

MORIX_WINAPI jint attachCurrentThread(JavaVM*, void** penv, void* arguments) {
    return attachThread(penv, arguments, false);
}

MORIX_WINAPI jint attachCurrentThreadAsDaemon(JavaVM*, void** penv, void* arguments) {
    return attachThread(penv, arguments, true);
}

MORIX_WINAPI jint detachCurrentThread(JavaVM*) {
    VmState& state = vmState();
    BridgedEnv* env = attachedEnv(GetCurrentThreadId());
    if (env == nullptr) {
        return JNI_OK;
    }
    jint result = env->thread->runLast([&state](JNIEnv*) { return state.real->DetachCurrentThread(); });
    std::lock_guard guard(state.lock);
    state.attached.erase(GetCurrentThreadId());
    return result;
}

MORIX_WINAPI jint getEnv(JavaVM*, void** penv, jint version) {
    if (version & kJvmtiVersionMask) {
        fail("GetEnv for JVMTI (version 0x%x) is not bridged", static_cast<unsigned>(version));
    }
    BridgedEnv* env = attachedEnv(GetCurrentThreadId());
    if (env == nullptr) {
        *penv = nullptr;
        return JNI_EDETACHED;
    }
    VmState& state = vmState();
    jint result = env->thread->run([&state, version](JNIEnv*) {
        void* real = nullptr;
        return state.real->GetEnv(&real, version);
    });
    *penv = result == JNI_OK ? env : nullptr;
    return result;
}

template <size_t Slot>
MORIX_WINAPI void unbridgedVmFunction() {
    fail("JNI invocation function %s (slot %zu) is not bridged", vmSlotName(Slot), Slot);
}

template <size_t... Slots>
std::array<const void*, kVmSlotCount> vmTable(std::index_sequence<Slots...>) {
    std::array<const void*, kVmSlotCount> table{
        reinterpret_cast<const void*>(&unbridgedVmFunction<Slots>)...};
    auto bridge = [&table](size_t offset, auto function) {
        table[offset / sizeof(void*)] = reinterpret_cast<const void*>(function);
    };
    bridge(offsetof(JNIInvokeInterface_, DestroyJavaVM), &destroyJavaVm);
    bridge(offsetof(JNIInvokeInterface_, AttachCurrentThread), &attachCurrentThread);
    bridge(offsetof(JNIInvokeInterface_, DetachCurrentThread), &detachCurrentThread);
    bridge(offsetof(JNIInvokeInterface_, GetEnv), &getEnv);
    bridge(offsetof(JNIInvokeInterface_, AttachCurrentThreadAsDaemon), &attachCurrentThreadAsDaemon);
    return table;
}

BridgedVm& bridgedVm() {
    static const std::array<const void*, kVmSlotCount>& table =
        *new auto(vmTable(std::make_index_sequence<kVmSlotCount>()));
    static BridgedVm& vm = *new BridgedVm{table.data()};
    return vm;
}

// ---- creation

jint createJavaVm(JavaVM** pvm, void** penv, const JavaVMInitArgs& given) {
    VmState& state = vmState();
    {
        std::lock_guard guard(state.lock);
        if (state.created) {
            // HotSpot allows one JVM per process, and none after it was destroyed.
            return state.destroyed ? JNI_ERR : JNI_EEXIST;
        }
        state.created = true;
    }
    keepTraceOutput();
    auto create =
        reinterpret_cast<CreateJavaVm>(dlsym(openJdkLibrary("lib/server/libjvm.so"), "JNI_CreateJavaVM"));
    if (create == nullptr) {
        return JNI_ERR;
    }
    size_t stackSize = translateOptions(given, state);
    adoptWindowsEnvironment();
    bindStandardDescriptors();
    startExitWatcher();
    rememberWineSignalHandlers();

    jint result = JNI_ERR;
    VmThread* thread = VmThread::start(
        stackSize,
        [&state, create](JNIEnv** env) {
            return create(&state.real, reinterpret_cast<void**>(env), &state.arguments);
        },
        &result);
    flushRelayedOutput();
    trace("JNI_CreateJavaVM returned %d", result);
    if (thread == nullptr) {
        return result;
    }
    reclaimSignalsFromJvm();
    markJvmRunning();
    BridgedEnv* env = newBridgedEnv(thread);
    {
        std::lock_guard guard(state.lock);
        state.attached[GetCurrentThreadId()] = env;
    }
    *pvm = reinterpret_cast<JavaVM*>(&bridgedVm());
    *penv = env;
    return JNI_OK;
}

} // namespace
} // namespace morix::bridge

using namespace morix::bridge;

// A process that ends without DestroyJavaVM (after System.exit the exit watcher flushes) still gets what
// Java wrote last.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void* processEnds) {
    if (reason == DLL_PROCESS_DETACH && processEnds != nullptr) {
        trace("the process ends");
        flushRelayedOutputAtExit();
    }
    return TRUE;
}

extern "C" MORIX_WINAPI jint bridgeCreateJavaVM(JavaVM** pvm, void** penv, void* arguments) {
    return createJavaVm(pvm, penv, *static_cast<const JavaVMInitArgs*>(arguments));
}

extern "C" MORIX_WINAPI jint bridgeGetDefaultJavaVMInitArgs(void* arguments) {
    keepTraceOutput();
    auto getDefaults = reinterpret_cast<GetDefaultArgs>(
        dlsym(openJdkLibrary("lib/server/libjvm.so"), "JNI_GetDefaultJavaVMInitArgs"));
    return getDefaults != nullptr ? getDefaults(arguments) : JNI_ERR;
}

extern "C" MORIX_WINAPI jint bridgeGetCreatedJavaVMs(JavaVM** vms, jsize capacity, jsize* count) {
    VmState& state = vmState();
    bool running;
    {
        std::lock_guard guard(state.lock);
        running = state.real != nullptr && !state.destroyed;
    }
    if (count != nullptr) {
        *count = running ? 1 : 0;
    }
    if (running && capacity > 0 && vms != nullptr) {
        vms[0] = reinterpret_cast<JavaVM*>(&bridgedVm());
    }
    return JNI_OK;
}
