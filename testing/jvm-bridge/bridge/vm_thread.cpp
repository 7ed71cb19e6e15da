#include "vm_thread.h"

#include "diagnostics.h"

#include <cerrno>

namespace morix::bridge {
namespace {

std::atomic<bool> jvmDestroyed{false};

} // namespace

void VmThread::markJvmDestroyed() {
    jvmDestroyed = true;
}

VmThread* VmThread::start(size_t stackSize, std::function<jint(JNIEnv**)> attach, jint* result) {
    VmThread* thread = new VmThread;
    thread->attach_ = std::move(attach);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, stackSize);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t id;
    int error = pthread_create(&id, &attributes, &VmThread::main, thread);
    pthread_attr_destroy(&attributes);
    if (error != 0) {
        trace("cannot start a JVM thread (errno %d)", error);
        *result = JNI_ENOMEM;
        return nullptr;
    }
    std::unique_lock guard(thread->lock_);
    thread->changed_.wait(guard, [thread] { return thread->attached_; });
    *result = thread->attachResult_;
    return *result == JNI_OK ? thread : nullptr;
}

void* VmThread::main(void* self) {
    VmThread& thread = *static_cast<VmThread*>(self);
    jint result = thread.attach_(&thread.env_);
    std::unique_lock guard(thread.lock_);
    thread.attachResult_ = result;
    thread.attached_ = true;
    thread.changed_.notify_all();
    while (result == JNI_OK && !thread.ended_) {
        thread.changed_.wait(guard, [&thread] { return thread.task_ != nullptr; });
        const std::function<void(JNIEnv*)>* task = thread.task_;
        guard.unlock();
        (*task)(thread.env_);
        guard.lock();
        thread.task_ = nullptr;
        thread.taskDone_ = true;
        thread.ended_ = thread.last_;
        thread.changed_.notify_all();
    }
    return nullptr;
}

void VmThread::execute(const std::function<void(JNIEnv*)>& task, bool last) {
    std::lock_guard oneCaller(callers_);
    std::unique_lock guard(lock_);
    if (ended_ || jvmDestroyed) {
        fail("a JNI call after its thread was detached or the JVM destroyed");
    }
    task_ = &task;
    taskDone_ = false;
    last_ = last;
    changed_.notify_all();
    changed_.wait(guard, [this] { return taskDone_; });
}

jint VmThread::runLast(const std::function<jint(JNIEnv*)>& call) {
    jint result = JNI_ERR;
    execute([&](JNIEnv* env) { result = call(env); }, true);
    return result;
}

} // namespace morix::bridge
