// bridge-driver: a Windows program that drives a jvm.dll through the Invocation API the way the launcher
// does (the VM on a thread of its own, options in the ANSI code page, main called with a String array),
// plus the checks that the bridge's tests need. Test support only.
//
//   bridge-driver [options] JVM_DLL MAIN_CLASS [ARGUMENT...]
//
//   --option TEXT      a JVM option
//   --jli DLL          expand "@" options through this jli.dll before the JVM is created
//   --strict           JNI_CreateJavaVM with ignoreUnrecognized false
//   --call FORM        call main in the variadic (default), list or array form
//   --probe            before main: every parameter kind and every return kind in every call form
//   --faults           before main: access violations in Windows code, caught by Wine's exception handling
//   --attach           before main: a second Windows thread attaches and calls Java while this one waits
//                      in Java
//   --unbridged        before main: call DefineClass, which the bridge does not serve
//   --unset NAME       remove an environment variable before the JVM is created
//   --ctrl-file FILE   a console control handler that writes the event into FILE and keeps the process
//
// An ARGUMENT starting with "utf:" reaches main through NewStringUTF (without the prefix), every other
// through NewString. Lines of its own start with "driver: ". Exit code: 0 when main and DestroyJavaVM
// returned, 1 when the main class is missing or main threw, 90 for bad usage, 91 when jvm.dll does not
// load, 92 when JNI_CreateJavaVM fails.
#include "common/handles.h"

#include <jni.h>
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

using morix::UniqueHandle;
using morix::UniqueModule;

namespace {

constexpr int kUsageError = 90;
constexpr int kLoadError = 91;
constexpr int kCreateError = 92;
constexpr jint kSeed = 7;

struct Options {
    std::wstring jvmDll;
    std::wstring jliDll;
    std::string mainClass;
    std::vector<std::string> vmOptions;
    std::vector<std::wstring> arguments;
    std::wstring callForm = L"variadic";
    std::wstring controlFile;
    bool strict = false;
    bool probe = false;
    bool faults = false;
    bool attach = false;
    bool unbridged = false;
};

std::string utf8(const std::wstring& text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                   nullptr, nullptr);
    std::string result(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size, nullptr,
                        nullptr);
    return result;
}

// JVM options are narrow strings in the ANSI code page, as the launcher passes them.
std::string ansi(const std::wstring& text) {
    int size = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                   nullptr);
    std::string result(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), result.data(), size, nullptr,
                        nullptr);
    return result;
}

// Straight to the standard output handle, unbuffered, so that the order with the JVM's output is exact.
void say(const std::string& line) {
    std::string text = "driver: " + line + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written,
              nullptr);
}

std::string format(const char* pattern, ...) {
    char text[1024];
    va_list arguments;
    va_start(arguments, pattern);
    std::vsnprintf(text, sizeof text, pattern, arguments);
    va_end(arguments);
    return text;
}

std::optional<Options> parseOptions(int argc, wchar_t** argv) {
    Options options;
    int i = 1;
    for (; i < argc && std::wstring(argv[i]).starts_with(L"--"); ++i) {
        std::wstring name = argv[i];
        bool hasValue = i + 1 < argc;
        if (name == L"--option" && hasValue) {
            options.vmOptions.push_back(ansi(argv[++i]));
        } else if (name == L"--jli" && hasValue) {
            options.jliDll = argv[++i];
        } else if (name == L"--call" && hasValue) {
            options.callForm = argv[++i];
        } else if (name == L"--unset" && hasValue) {
            SetEnvironmentVariableW(argv[++i], nullptr);
        } else if (name == L"--ctrl-file" && hasValue) {
            options.controlFile = argv[++i];
        } else if (name == L"--strict") {
            options.strict = true;
        } else if (name == L"--probe") {
            options.probe = true;
        } else if (name == L"--faults") {
            options.faults = true;
        } else if (name == L"--attach") {
            options.attach = true;
        } else if (name == L"--unbridged") {
            options.unbridged = true;
        } else {
            return std::nullopt;
        }
    }
    if (i + 2 > argc) {
        return std::nullopt;
    }
    options.jvmDll = argv[i++];
    options.mainClass = utf8(argv[i++]);
    for (char& c : options.mainClass) {
        c = c == '.' ? '/' : c;
    }
    options.arguments.assign(argv + i, argv + argc);
    return options;
}

// ---- JDK argument files through jli.dll, as the launcher expands them

struct JliList {
    char** elements;
    size_t size;
    size_t capacity;
};

std::vector<std::string> expandArgumentFiles(const std::vector<std::string>& options,
                                             const std::wstring& jliDll) {
    UniqueModule jli(LoadLibraryW(jliDll.c_str()));
    auto init = morix::lookupFunction<void (*)(jboolean, jboolean)>(jli.get(), "JLI_InitArgProcessing");
    auto preprocess =
        morix::lookupFunction<JliList* (*)(const char*, jboolean)>(jli.get(), "JLI_PreprocessArg");
    auto release = morix::lookupFunction<void (*)(void*)>(jli.get(), "JLI_MemFree");
    if (!init || !preprocess || !release) {
        say(format("cannot use jli.dll (error %lu)", GetLastError()));
        return options;
    }
    init(!options.empty(), JNI_FALSE);
    std::vector<std::string> expanded;
    for (const std::string& option : options) {
        JliList* list = preprocess(option.c_str(), JNI_TRUE);
        if (list == nullptr) {
            expanded.push_back(option);
            continue;
        }
        for (size_t i = 0; i < list->size; ++i) {
            say(format("argument file gives %s", list->elements[i]));
            expanded.emplace_back(list->elements[i]);
        }
        release(list->elements);
        release(list);
    }
    // Like the launcher, the library stays loaded.
    jli.release();
    return expanded;
}

// ---- Java calls

std::string javaText(JNIEnv* env, jstring text) {
    if (text == nullptr) {
        return "(null)";
    }
    jsize length = env->GetStringLength(text);
    const jchar* characters = env->GetStringChars(text, nullptr);
    std::wstring wide(reinterpret_cast<const wchar_t*>(characters), static_cast<size_t>(length));
    env->ReleaseStringChars(text, characters);
    return utf8(wide);
}

// Describes and clears a pending exception: its toString() and the stack trace on standard error.
bool reportException(JNIEnv* env, const char* what) {
    if (!env->ExceptionCheck()) {
        return false;
    }
    jthrowable exception = env->ExceptionOccurred();
    env->ExceptionDescribe();
    env->ExceptionClear();
    jclass type = env->GetObjectClass(exception);
    jmethodID toString = env->GetMethodID(type, "toString", "()Ljava/lang/String;");
    jstring text = static_cast<jstring>(env->CallObjectMethod(exception, toString));
    say(std::string(what) + " threw: " + javaText(env, text));
    env->DeleteLocalRef(text);
    env->DeleteLocalRef(type);
    env->DeleteLocalRef(exception);
    return true;
}

void callStaticVoidWithList(JNIEnv* env, jclass type, jmethodID method, ...) {
    va_list arguments;
    va_start(arguments, method);
    env->CallStaticVoidMethodV(type, method, arguments);
    va_end(arguments);
}

jobject callStaticObjectWithList(JNIEnv* env, jclass type, jmethodID method, ...) {
    va_list arguments;
    va_start(arguments, method);
    jobject result = env->CallStaticObjectMethodV(type, method, arguments);
    va_end(arguments);
    return result;
}

jobject callObjectWithList(JNIEnv* env, jobject target, jmethodID method, ...) {
    va_list arguments;
    va_start(arguments, method);
    jobject result = env->CallObjectMethodV(target, method, arguments);
    va_end(arguments);
    return result;
}

// Every parameter kind through the three call forms, static and instance.
void probeArguments(JNIEnv* env, jclass type) {
    const char* descriptor = "(IJDFZCSB[Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;";
    jmethodID staticProbe = env->GetStaticMethodID(type, "probe", descriptor);
    jmethodID instanceProbe = env->GetMethodID(type, "probeInstance", descriptor);
    jmethodID create = env->GetStaticMethodID(type, "instance", "()Lcom/morix/bridgecheck/BridgeCheck;");
    if (!staticProbe || !instanceProbe || !create) {
        reportException(env, "probe lookup");
        return;
    }
    jobject object = env->CallStaticObjectMethod(type, create);
    jstring tail = env->NewStringUTF("tail");
    jint i = -7;
    jlong j = 0x123456789ALL;
    jdouble d = 2.5;
    jfloat f = 1.25f;
    jboolean z = JNI_TRUE;
    jchar c = 0x263A;
    jshort s = -3;
    jbyte b = 0x7f;
    jobject none = nullptr;
    jvalue values[10];
    values[0].i = i;
    values[1].j = j;
    values[2].d = d;
    values[3].f = f;
    values[4].z = z;
    values[5].c = c;
    values[6].s = s;
    values[7].b = b;
    values[8].l = none;
    values[9].l = tail;
    jobject results[6] = {
        env->functions->CallStaticObjectMethod(env, type, staticProbe, i, j, d, f, z, c, s, b, none, tail),
        callStaticObjectWithList(env, type, staticProbe, i, j, d, f, z, c, s, b, none, tail),
        env->CallStaticObjectMethodA(type, staticProbe, values),
        env->functions->CallObjectMethod(env, object, instanceProbe, i, j, d, f, z, c, s, b, none, tail),
        callObjectWithList(env, object, instanceProbe, i, j, d, f, z, c, s, b, none, tail),
        env->CallObjectMethodA(object, instanceProbe, values),
    };
    const char* names[6] = {"static variadic",   "static list",   "static array",
                            "instance variadic", "instance list", "instance array"};
    for (int k = 0; k < 6; ++k) {
        say(std::string("probe ") + names[k] + "=" + javaText(env, static_cast<jstring>(results[k])));
    }
    reportException(env, "probe");
}

// The slots of one return kind in the function table. The C++ members of JNIEnv call the va_list slots
// even for variadic calls, so the variadic slots are called through the table itself.
template <typename Result, typename Target>
using VariadicSlot = Result(JNICALL*)(JNIEnv*, Target, jmethodID, ...);
template <typename Result, typename Target>
using ListSlot = Result(JNICALL*)(JNIEnv*, Target, jmethodID, va_list);
template <typename Result, typename Target>
using ArraySlot = Result(JNICALL*)(JNIEnv*, Target, jmethodID, const jvalue*);

template <typename Result>
struct ReturnSlots {
    VariadicSlot<Result, jclass> JNINativeInterface_::*staticVariadic;
    ListSlot<Result, jclass> JNINativeInterface_::*staticList;
    ArraySlot<Result, jclass> JNINativeInterface_::*staticArray;
    VariadicSlot<Result, jobject> JNINativeInterface_::*instanceVariadic;
    ListSlot<Result, jobject> JNINativeInterface_::*instanceList;
    ArraySlot<Result, jobject> JNINativeInterface_::*instanceArray;
};

#define MORIX_RETURN_SLOTS(Name)                                                                             \
    ReturnSlots<decltype(std::declval<JNIEnv>().Call##Name##MethodA(nullptr, nullptr, nullptr))> {           \
        &JNINativeInterface_::CallStatic##Name##Method, &JNINativeInterface_::CallStatic##Name##MethodV,     \
            &JNINativeInterface_::CallStatic##Name##MethodA, &JNINativeInterface_::Call##Name##Method,       \
            &JNINativeInterface_::Call##Name##MethodV, &JNINativeInterface_::Call##Name##MethodA             \
    }

template <typename Result, typename Target>
Result callWithList(JNIEnv* env, ListSlot<Result, Target> JNINativeInterface_::*slot, Target target,
                    jmethodID method, ...) {
    struct Arguments {
        va_list list;
        ~Arguments() { va_end(list); }
    } arguments;
    va_start(arguments.list, method);
    return (env->functions->*slot)(env, target, method, arguments.list);
}

// The six calls of one return kind (three forms, static and instance), each with the seed; their results.
template <typename Result>
auto callAllForms(JNIEnv* env, jclass type, jobject object, const char* name, const char* descriptor,
                  const ReturnSlots<Result>& slots) {
    jmethodID staticMethod = env->GetStaticMethodID(type, (std::string("static") + name).c_str(), descriptor);
    jmethodID instanceMethod = env->GetMethodID(type, (std::string("instance") + name).c_str(), descriptor);
    jvalue seed[1];
    seed[0].i = kSeed;
    const JNINativeInterface_* table = env->functions;
    if constexpr (std::is_void_v<Result>) {
        (table->*slots.staticVariadic)(env, type, staticMethod, kSeed);
        callWithList(env, slots.staticList, type, staticMethod, kSeed);
        (table->*slots.staticArray)(env, type, staticMethod, seed);
        (table->*slots.instanceVariadic)(env, object, instanceMethod, kSeed);
        callWithList(env, slots.instanceList, object, instanceMethod, kSeed);
        (table->*slots.instanceArray)(env, object, instanceMethod, seed);
    } else {
        return std::vector<Result>{
            (table->*slots.staticVariadic)(env, type, staticMethod, kSeed),
            callWithList(env, slots.staticList, type, staticMethod, kSeed),
            (table->*slots.staticArray)(env, type, staticMethod, seed),
            (table->*slots.instanceVariadic)(env, object, instanceMethod, kSeed),
            callWithList(env, slots.instanceList, object, instanceMethod, kSeed),
            (table->*slots.instanceArray)(env, object, instanceMethod, seed),
        };
    }
}

template <typename Result, typename Expected>
int countRight(const char* name, const std::vector<Result>& results, Expected expected) {
    int right = 0;
    for (size_t k = 0; k < results.size(); ++k) {
        if (results[k] == static_cast<Result>(expected)) {
            ++right;
        } else {
            say(format("%s call %zu returned a wrong value", name, k));
        }
    }
    return right;
}

// Every return kind through every call form: prints how many of the 60 calls returned the right value.
void probeReturnKinds(JNIEnv* env, jclass type) {
    jmethodID create = env->GetStaticMethodID(type, "instance", "()Lcom/morix/bridgecheck/BridgeCheck;");
    jobject object = env->CallStaticObjectMethod(type, create);
    int right = 0;
    right += countRight(
        "Boolean", callAllForms(env, type, object, "Boolean", "(I)Z", MORIX_RETURN_SLOTS(Boolean)), JNI_TRUE);
    right +=
        countRight("Byte", callAllForms(env, type, object, "Byte", "(I)B", MORIX_RETURN_SLOTS(Byte)), 21);
    right += countRight("Char", callAllForms(env, type, object, "Char", "(I)C", MORIX_RETURN_SLOTS(Char)),
                        0x263A + kSeed);
    right += countRight("Short", callAllForms(env, type, object, "Short", "(I)S", MORIX_RETURN_SLOTS(Short)),
                        -700);
    right += countRight("Int", callAllForms(env, type, object, "Int", "(I)I", MORIX_RETURN_SLOTS(Int)), 7000);
    right += countRight("Long", callAllForms(env, type, object, "Long", "(I)J", MORIX_RETURN_SLOTS(Long)),
                        70000000000LL);
    right += countRight("Float", callAllForms(env, type, object, "Float", "(I)F", MORIX_RETURN_SLOTS(Float)),
                        1.75f);
    right += countRight("Double",
                        callAllForms(env, type, object, "Double", "(I)D", MORIX_RETURN_SLOTS(Double)), 0.875);
    callAllForms(env, type, object, "Void", "(I)V", MORIX_RETURN_SLOTS(Void));
    for (jobject result :
         callAllForms(env, type, object, "Object", "(I)Ljava/lang/Object;", MORIX_RETURN_SLOTS(Object))) {
        right += javaText(env, static_cast<jstring>(result)) == "object 7" ? 1 : 0;
    }
    jint touched = env->CallStaticIntMethod(type, env->GetStaticMethodID(type, "touched", "()I"));
    right += touched == 6 * kSeed ? 6 : 0;
    say(format("return kinds: %d of 60 calls right", right));
    reportException(env, "return kinds");
}

// ---- a second Windows thread

struct Partner {
    JavaVM* vm;
    std::string mainClass;
};

DWORD WINAPI partnerThread(void* parameter) {
    Partner& partner = *static_cast<Partner*>(parameter);
    JavaVM* vm = partner.vm;
    void* env = nullptr;
    say(format("partner GetEnv before attaching: %ld", static_cast<long>(vm->GetEnv(&env, JNI_VERSION_1_8))));
    JNIEnv* attached = nullptr;
    JavaVMAttachArgs arguments{JNI_VERSION_1_8, const_cast<char*>("windows-partner"), nullptr};
    jint result = vm->AttachCurrentThread(reinterpret_cast<void**>(&attached), &arguments);
    jint again = vm->GetEnv(&env, JNI_VERSION_1_8);
    say(format("partner attached: %ld, GetEnv %ld, same env %d", static_cast<long>(result),
               static_cast<long>(again), env == attached));
    jclass type = attached->FindClass(partner.mainClass.c_str());
    jmethodID call =
        attached->GetStaticMethodID(type, "fromPartner", "(Ljava/lang/String;)Ljava/lang/String;");
    jstring text = attached->NewStringUTF("hello");
    jstring answer = static_cast<jstring>(attached->CallStaticObjectMethod(type, call, text));
    const char* characters = attached->GetStringUTFChars(answer, nullptr);
    say(std::string("partner got: ") + characters);
    attached->ReleaseStringUTFChars(answer, characters);
    say(format("partner detached: %ld", static_cast<long>(vm->DetachCurrentThread())));
    say(format("partner GetEnv after detaching: %ld", static_cast<long>(vm->GetEnv(&env, JNI_VERSION_1_8))));
    return 0;
}

void attachPartner(JavaVM* vm, JNIEnv* env, jclass type, const std::string& mainClass) {
    Partner partner{vm, mainClass};
    UniqueHandle thread(CreateThread(nullptr, 0, partnerThread, &partner, 0, nullptr));
    jmethodID await = env->GetStaticMethodID(type, "awaitPartner", "()Z");
    // This thread waits inside Java until the partner has called Java from its own thread.
    jboolean seen = env->CallStaticBooleanMethod(type, await);
    WaitForSingleObject(thread.get(), 30000);
    say(format("partner seen while waiting in Java: %s", seen ? "true" : "false"));
}

// ---- Windows-side checks

void provokeFaults() {
    int caught = 0;
    for (int k = 0; k < 3; ++k) {
        // Both read through a wild pointer and catch the access violation with Wine's exception handling.
        caught += IsBadReadPtr(reinterpret_cast<const void*>(0x10), 4) ? 1 : 0;
        caught += IsBadWritePtr(reinterpret_cast<void*>(0x20), 4) ? 1 : 0;
    }
    say(format("access violations caught: %d", caught));
}

std::wstring controlFile;

BOOL WINAPI recordControlEvent(DWORD event) {
    UniqueHandle file(CreateFileW(controlFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string text = format("console event %lu\n", event);
    DWORD written = 0;
    WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return TRUE;
}

// ---- the run

jobjectArray mainArguments(JNIEnv* env, const std::vector<std::wstring>& arguments) {
    jclass stringType = env->FindClass("java/lang/String");
    jobjectArray array = env->NewObjectArray(static_cast<jsize>(arguments.size()), stringType, nullptr);
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring& argument = arguments[i];
        jstring text = argument.starts_with(L"utf:")
                           ? env->NewStringUTF(utf8(argument.substr(4)).c_str())
                           : env->NewString(reinterpret_cast<const jchar*>(argument.data()),
                                            static_cast<jsize>(argument.size()));
        env->SetObjectArrayElement(array, static_cast<jsize>(i), text);
        env->DeleteLocalRef(text);
    }
    env->DeleteLocalRef(stringType);
    return array;
}

void callMain(JNIEnv* env, jclass type, jmethodID main, jobjectArray arguments, const std::wstring& form) {
    if (form == L"list") {
        callStaticVoidWithList(env, type, main, arguments);
    } else if (form == L"array") {
        jvalue value[1];
        value[0].l = arguments;
        env->CallStaticVoidMethodA(type, main, value);
    } else {
        env->functions->CallStaticVoidMethod(env, type, main, arguments);
    }
}

int runJava(const Options& options) {
    UniqueModule jvm(LoadLibraryW(options.jvmDll.c_str()));
    using CreateJavaVm = jint(JNICALL*)(JavaVM**, void**, void*);
    auto create = morix::lookupFunction<CreateJavaVm>(jvm.get(), "JNI_CreateJavaVM");
    if (create == nullptr) {
        say(format("cannot load %s (error %lu)", utf8(options.jvmDll).c_str(), GetLastError()));
        return kLoadError;
    }
    std::vector<std::string> optionTexts = options.vmOptions;
    if (!options.jliDll.empty()) {
        optionTexts = expandArgumentFiles(optionTexts, options.jliDll);
    }
    std::vector<JavaVMOption> vmOptions;
    for (std::string& text : optionTexts) {
        vmOptions.push_back({text.data(), nullptr});
    }
    JavaVMInitArgs vmArguments{JNI_VERSION_1_2, static_cast<jint>(vmOptions.size()), vmOptions.data(),
                               static_cast<jboolean>(options.strict ? JNI_FALSE : JNI_TRUE)};
    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    jint created = create(&vm, reinterpret_cast<void**>(&env), &vmArguments);
    if (created != JNI_OK) {
        say(format("JNI_CreateJavaVM failed: %ld", static_cast<long>(created)));
        return kCreateError;
    }
    // The JVM is used until the process ends.
    jvm.release();
    void* current = nullptr;
    jint version = env->GetVersion();
    jint getEnv = vm->GetEnv(&current, JNI_VERSION_1_8);
    say(format("JVM created, JNI version 0x%lx, GetEnv %ld, same env %d", static_cast<long>(version),
               static_cast<long>(getEnv), current == env));
    if (!options.controlFile.empty()) {
        controlFile = options.controlFile;
        SetConsoleCtrlHandler(recordControlEvent, TRUE);
    }

    jclass type = env->FindClass(options.mainClass.c_str());
    if (type == nullptr) {
        reportException(env, "FindClass");
        return 1;
    }
    if (options.faults) {
        provokeFaults();
    }
    if (options.probe) {
        probeArguments(env, type);
        probeReturnKinds(env, type);
    }
    if (options.attach) {
        attachPartner(vm, env, type, options.mainClass);
    }
    if (options.unbridged) {
        env->DefineClass("Nothing", nullptr, nullptr, 0);
        say("DefineClass returned");
    }
    jmethodID main = env->GetStaticMethodID(type, "main", "([Ljava/lang/String;)V");
    if (main == nullptr) {
        reportException(env, "GetStaticMethodID");
        return 1;
    }
    callMain(env, type, main, mainArguments(env, options.arguments), options.callForm);
    if (reportException(env, "main")) {
        return 1;
    }
    say("main returned, destroying the JVM");
    say(format("DestroyJavaVM returned %ld", static_cast<long>(vm->DestroyJavaVM())));
    return 0;
}

DWORD WINAPI vmThread(void* options) {
    return static_cast<DWORD>(runJava(*static_cast<const Options*>(options)));
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    std::optional<Options> options = parseOptions(argc, argv);
    if (!options) {
        say("usage: bridge-driver [options] JVM_DLL MAIN_CLASS [ARGUMENT...]");
        return kUsageError;
    }
    // Like the launcher: the JVM lives on a thread of its own, which this one waits for.
    UniqueHandle thread(
        CreateThread(nullptr, 8u << 20, vmThread, &*options, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    DWORD exitCode = kUsageError;
    WaitForSingleObject(thread.get(), INFINITE);
    GetExitCodeThread(thread.get(), &exitCode);
    return static_cast<int>(exitCode);
}
