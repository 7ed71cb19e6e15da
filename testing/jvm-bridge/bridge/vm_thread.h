// A Linux thread attached to the JVM that makes the JNI calls of one Windows thread. HotSpot cannot run
// JNI calls on Wine's threads (it misjudges their stacks), so every Windows thread that uses JNI gets
// such a partner, and a call waits while its partner runs it.
#pragma once

#include <jni.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <pthread.h>
#include <type_traits>
#include <utility>

namespace morix::bridge {

class VmThread {
public:
    // Starts a thread with the given stack size whose first act is `attach` (creating the JVM or
    // attaching to it), which returns a JNI result and the thread's JNIEnv. On any result but JNI_OK the
    // thread has ended, and null is returned with the result. VmThreads are never freed.
    static VmThread* start(size_t stackSize, std::function<jint(JNIEnv**)> attach, jint* result);

    // Runs `call` with the thread's JNIEnv on the thread and returns its result.
    template <typename Call>
    auto run(Call&& call) -> std::invoke_result_t<Call, JNIEnv*> {
        using Result = std::invoke_result_t<Call, JNIEnv*>;
        if constexpr (std::is_void_v<Result>) {
            execute([&](JNIEnv* env) { call(env); }, false);
        } else {
            Result result{};
            execute([&](JNIEnv* env) { result = call(env); }, false);
            return result;
        }
    }

    // Runs `call` as the thread's last one (detaching it or destroying the JVM); the thread ends after it.
    jint runLast(const std::function<jint(JNIEnv*)>& call);

    // After DestroyJavaVM no thread may call into the JVM any more.
    static void markJvmDestroyed();

private:
    VmThread() = default;
    static void* main(void* self);
    void execute(const std::function<void(JNIEnv*)>& task, bool last);

    std::function<jint(JNIEnv**)> attach_;
    JNIEnv* env_ = nullptr;
    jint attachResult_ = JNI_ERR;
    bool attached_ = false;

    std::mutex callers_; // one call at a time
    std::mutex lock_;
    std::condition_variable changed_;
    const std::function<void(JNIEnv*)>* task_ = nullptr;
    bool taskDone_ = false;
    bool last_ = false;
    bool ended_ = false;
};

} // namespace morix::bridge
