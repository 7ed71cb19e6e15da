#include "bridged_env.h"

#include "call_arguments.h"
#include "diagnostics.h"
#include "jni_slots.h"
#include "stdio_relay.h"
#include "winelib.h"

#include <array>
#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace morix::bridge {
namespace {

// Runs a call on the env's partner thread; the JVM's output reaches the Windows handles before the call
// returns, so that it comes before what the caller writes next.
template <typename Call>
decltype(auto) onVmThread(JNIEnv* env, Call&& call) {
    struct FlushAfter {
        ~FlushAfter() { flushRelayedOutput(); }
    } flush;
    return reinterpret_cast<BridgedEnv*>(env)->thread->run(std::forward<Call>(call));
}

// Parameter kinds of every method ID handed out, for the variadic and va_list call forms. Never destroyed.
struct MethodParameters {
    std::mutex lock;
    std::unordered_map<jmethodID, std::string> kinds;
};

MethodParameters& methodParameters() {
    static MethodParameters& parameters = *new MethodParameters;
    return parameters;
}

void rememberParameters(jmethodID method, const char* descriptor) {
    if (method == nullptr || descriptor == nullptr) {
        return;
    }
    std::optional<std::string> kinds = parameterKinds(descriptor);
    if (!kinds) {
        return;
    }
    MethodParameters& parameters = methodParameters();
    std::lock_guard guard(parameters.lock);
    parameters.kinds[method] = *kinds;
}

std::string parametersOf(jmethodID method) {
    MethodParameters& parameters = methodParameters();
    std::lock_guard guard(parameters.lock);
    auto found = parameters.kinds.find(method);
    if (found == parameters.kinds.end()) {
        fail("a Call*Method with its arguments in a list got method ID %p, which GetMethodID or "
             "GetStaticMethodID did not return",
             static_cast<void*>(method));
    }
    return found->second;
}

// ---- classes, objects, exceptions, references

MORIX_WINAPI jint getVersion(JNIEnv* env) {
    return onVmThread(env, [](JNIEnv* real) { return real->GetVersion(); });
}

MORIX_WINAPI jclass findClass(JNIEnv* env, const char* name) {
    return onVmThread(env, [&](JNIEnv* real) { return real->FindClass(name); });
}

MORIX_WINAPI jclass getObjectClass(JNIEnv* env, jobject object) {
    return onVmThread(env, [&](JNIEnv* real) { return real->GetObjectClass(object); });
}

MORIX_WINAPI jthrowable exceptionOccurred(JNIEnv* env) {
    return onVmThread(env, [](JNIEnv* real) { return real->ExceptionOccurred(); });
}

MORIX_WINAPI jboolean exceptionCheck(JNIEnv* env) {
    return onVmThread(env, [](JNIEnv* real) { return real->ExceptionCheck(); });
}

MORIX_WINAPI jint throwObject(JNIEnv* env, jthrowable exception) {
    return onVmThread(env, [&](JNIEnv* real) { return real->Throw(exception); });
}

MORIX_WINAPI jboolean isInstanceOf(JNIEnv* env, jobject object, jclass type) {
    return onVmThread(env, [&](JNIEnv* real) { return real->IsInstanceOf(object, type); });
}

MORIX_WINAPI void exceptionDescribe(JNIEnv* env) {
    onVmThread(env, [](JNIEnv* real) { real->ExceptionDescribe(); });
}

MORIX_WINAPI void exceptionClear(JNIEnv* env) {
    onVmThread(env, [](JNIEnv* real) { real->ExceptionClear(); });
}

MORIX_WINAPI void deleteLocalRef(JNIEnv* env, jobject object) {
    onVmThread(env, [&](JNIEnv* real) { real->DeleteLocalRef(object); });
}

MORIX_WINAPI jobject newGlobalRef(JNIEnv* env, jobject object) {
    return onVmThread(env, [&](JNIEnv* real) { return real->NewGlobalRef(object); });
}

MORIX_WINAPI void deleteGlobalRef(JNIEnv* env, jobject object) {
    onVmThread(env, [&](JNIEnv* real) { real->DeleteGlobalRef(object); });
}

// ---- methods

MORIX_WINAPI jmethodID getMethodId(JNIEnv* env, jclass type, const char* name, const char* descriptor) {
    jmethodID method =
        onVmThread(env, [&](JNIEnv* real) { return real->GetMethodID(type, name, descriptor); });
    rememberParameters(method, descriptor);
    return method;
}

MORIX_WINAPI jmethodID getStaticMethodId(JNIEnv* env, jclass type, const char* name, const char* descriptor) {
    jmethodID method =
        onVmThread(env, [&](JNIEnv* real) { return real->GetStaticMethodID(type, name, descriptor); });
    rememberParameters(method, descriptor);
    return method;
}

// The three forms of one Call<Type>Method or CallStatic<Type>Method: all end in the jvalue-array form of
// the real JNIEnv, which `ArraySlot` names.
template <typename Result, typename Target>
using ArraySlot = Result (JNICALL* JNINativeInterface_::*)(JNIEnv*, Target, jmethodID, const jvalue*);

template <typename Result, typename Target, ArraySlot<Result, Target> Slot>
struct CallForms {
    static Result call(JNIEnv* env, Target target, jmethodID method, const jvalue* arguments) {
        return onVmThread(
            env, [&](JNIEnv* real) { return (real->functions->*Slot)(real, target, method, arguments); });
    }

    static MORIX_WINAPI Result withArray(JNIEnv* env, Target target, jmethodID method,
                                         const jvalue* arguments) {
        return call(env, target, method, arguments);
    }

    static MORIX_WINAPI Result withList(JNIEnv* env, Target target, jmethodID method,
                                        WindowsVaList arguments) {
        std::vector<jvalue> values = readWindowsArguments(parametersOf(method), arguments);
        return call(env, target, method, values.data());
    }

    static MORIX_WINAPI_VARIADIC Result variadic(JNIEnv* env, Target target, jmethodID method, ...) {
        WindowsVaList arguments;
        MORIX_WINDOWS_VA_START(arguments, method);
        std::vector<jvalue> values = readWindowsArguments(parametersOf(method), arguments);
        MORIX_WINDOWS_VA_END(arguments);
        return call(env, target, method, values.data());
    }
};

// ---- strings and arrays

MORIX_WINAPI jstring newString(JNIEnv* env, const jchar* characters, jsize length) {
    return onVmThread(env, [&](JNIEnv* real) { return real->NewString(characters, length); });
}

MORIX_WINAPI jstring newStringUtf(JNIEnv* env, const char* text) {
    return onVmThread(env, [&](JNIEnv* real) { return real->NewStringUTF(text); });
}

MORIX_WINAPI jsize getStringLength(JNIEnv* env, jstring text) {
    return onVmThread(env, [&](JNIEnv* real) { return real->GetStringLength(text); });
}

MORIX_WINAPI jsize getStringUtfLength(JNIEnv* env, jstring text) {
    return onVmThread(env, [&](JNIEnv* real) { return real->GetStringUTFLength(text); });
}

MORIX_WINAPI const jchar* getStringChars(JNIEnv* env, jstring text, jboolean* isCopy) {
    return onVmThread(env, [&](JNIEnv* real) { return real->GetStringChars(text, isCopy); });
}

MORIX_WINAPI void releaseStringChars(JNIEnv* env, jstring text, const jchar* characters) {
    onVmThread(env, [&](JNIEnv* real) { real->ReleaseStringChars(text, characters); });
}

MORIX_WINAPI const char* getStringUtfChars(JNIEnv* env, jstring text, jboolean* isCopy) {
    return onVmThread(env, [&](JNIEnv* real) { return real->GetStringUTFChars(text, isCopy); });
}

MORIX_WINAPI void releaseStringUtfChars(JNIEnv* env, jstring text, const char* characters) {
    onVmThread(env, [&](JNIEnv* real) { real->ReleaseStringUTFChars(text, characters); });
}

MORIX_WINAPI jsize getArrayLength(JNIEnv* env, jarray array) {
    return onVmThread(env, [&](JNIEnv* real) { return real->GetArrayLength(array); });
}

MORIX_WINAPI jobjectArray newObjectArray(JNIEnv* env, jsize length, jclass type, jobject initial) {
    return onVmThread(env, [&](JNIEnv* real) { return real->NewObjectArray(length, type, initial); });
}

MORIX_WINAPI jobject getObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index) {
    return onVmThread(env, [&](JNIEnv* real) { return real->GetObjectArrayElement(array, index); });
}

MORIX_WINAPI void setObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index, jobject value) {
    onVmThread(env, [&](JNIEnv* real) { real->SetObjectArrayElement(array, index, value); });
}

// ---- the table

template <size_t Slot>
MORIX_WINAPI void unbridged() {
    fail("JNI function %s (slot %zu) is not bridged", envSlotName(Slot), Slot);
}

template <size_t... Slots>
std::array<const void*, kEnvSlotCount> unbridgedTable(std::index_sequence<Slots...>) {
    return {reinterpret_cast<const void*>(&unbridged<Slots>)...};
}

#define MORIX_SLOT(member) (offsetof(JNINativeInterface_, member) / sizeof(void*))

#define MORIX_CALL_FORMS(Type, Result)                                                                       \
    table[MORIX_SLOT(Call##Type##Method)] = reinterpret_cast<const void*>(                                   \
        &CallForms<Result, jobject, &JNINativeInterface_::Call##Type##MethodA>::variadic);                   \
    table[MORIX_SLOT(Call##Type##MethodV)] = reinterpret_cast<const void*>(                                  \
        &CallForms<Result, jobject, &JNINativeInterface_::Call##Type##MethodA>::withList);                   \
    table[MORIX_SLOT(Call##Type##MethodA)] = reinterpret_cast<const void*>(                                  \
        &CallForms<Result, jobject, &JNINativeInterface_::Call##Type##MethodA>::withArray);                  \
    table[MORIX_SLOT(CallStatic##Type##Method)] = reinterpret_cast<const void*>(                             \
        &CallForms<Result, jclass, &JNINativeInterface_::CallStatic##Type##MethodA>::variadic);              \
    table[MORIX_SLOT(CallStatic##Type##MethodV)] = reinterpret_cast<const void*>(                            \
        &CallForms<Result, jclass, &JNINativeInterface_::CallStatic##Type##MethodA>::withList);              \
    table[MORIX_SLOT(CallStatic##Type##MethodA)] = reinterpret_cast<const void*>(                            \
        &CallForms<Result, jclass, &JNINativeInterface_::CallStatic##Type##MethodA>::withArray);

std::array<const void*, kEnvSlotCount> bridgedTable() {
    std::array<const void*, kEnvSlotCount> table = unbridgedTable(std::make_index_sequence<kEnvSlotCount>());
    auto bridge = [&table](size_t slot, auto function) {
        table[slot] = reinterpret_cast<const void*>(function);
    };
    bridge(MORIX_SLOT(GetVersion), &getVersion);
    bridge(MORIX_SLOT(FindClass), &findClass);
    bridge(MORIX_SLOT(GetObjectClass), &getObjectClass);
    bridge(MORIX_SLOT(ExceptionOccurred), &exceptionOccurred);
    bridge(MORIX_SLOT(ExceptionCheck), &exceptionCheck);
    bridge(MORIX_SLOT(ExceptionDescribe), &exceptionDescribe);
    bridge(MORIX_SLOT(Throw), &throwObject);
    bridge(MORIX_SLOT(IsInstanceOf), &isInstanceOf);
    bridge(MORIX_SLOT(ExceptionClear), &exceptionClear);
    bridge(MORIX_SLOT(DeleteLocalRef), &deleteLocalRef);
    bridge(MORIX_SLOT(NewGlobalRef), &newGlobalRef);
    bridge(MORIX_SLOT(DeleteGlobalRef), &deleteGlobalRef);
    bridge(MORIX_SLOT(GetMethodID), &getMethodId);
    bridge(MORIX_SLOT(GetStaticMethodID), &getStaticMethodId);
    bridge(MORIX_SLOT(NewString), &newString);
    bridge(MORIX_SLOT(NewStringUTF), &newStringUtf);
    bridge(MORIX_SLOT(GetStringLength), &getStringLength);
    bridge(MORIX_SLOT(GetStringUTFLength), &getStringUtfLength);
    bridge(MORIX_SLOT(GetStringChars), &getStringChars);
    bridge(MORIX_SLOT(ReleaseStringChars), &releaseStringChars);
    bridge(MORIX_SLOT(GetStringUTFChars), &getStringUtfChars);
    bridge(MORIX_SLOT(ReleaseStringUTFChars), &releaseStringUtfChars);
    bridge(MORIX_SLOT(GetArrayLength), &getArrayLength);
    bridge(MORIX_SLOT(NewObjectArray), &newObjectArray);
    bridge(MORIX_SLOT(GetObjectArrayElement), &getObjectArrayElement);
    bridge(MORIX_SLOT(SetObjectArrayElement), &setObjectArrayElement);
    MORIX_CALL_FORMS(Object, jobject)
    MORIX_CALL_FORMS(Boolean, jboolean)
    MORIX_CALL_FORMS(Byte, jbyte)
    MORIX_CALL_FORMS(Char, jchar)
    MORIX_CALL_FORMS(Short, jshort)
    MORIX_CALL_FORMS(Int, jint)
    MORIX_CALL_FORMS(Long, jlong)
    MORIX_CALL_FORMS(Float, jfloat)
    MORIX_CALL_FORMS(Double, jdouble)
    MORIX_CALL_FORMS(Void, void)
    return table;
}

} // namespace

BridgedEnv* newBridgedEnv(VmThread* thread) {
    static const std::array<const void*, kEnvSlotCount>& table = *new auto(bridgedTable());
    return new BridgedEnv{table.data(), thread};
}

} // namespace morix::bridge
