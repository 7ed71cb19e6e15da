// A recording stand-in for jvm.dll, for what a real JVM cannot be made to do on demand. It implements the
// JNI calls the launcher makes over objects of its own, writes a transcript of everything the launcher
// asks (options, classes and methods looked up, the arguments of main, the VM thread's stack
// reservation, the VM's destruction) to the file named by MORIX_TRANSCRIPT, and follows a script in
// MORIX_RECORDING_JVM, a ";"-list of:
//   create-fails            JNI_CreateJavaVM returns an error
//   missing-class=NAME      FindClass of NAME (slashed) fails with a pending NoClassDefFoundError
//   missing-method=NAME     GetStaticMethodID of NAME fails with a pending NoSuchMethodError
//   main-throws             main ends with a pending exception
//   main-exits=N            main ends the process with exit code N, as System.exit(N) does
//   array-fails             NewObjectArray fails with a pending OutOfMemoryError
//   main-sleeps=MS          main takes that long
//   throws=NAME             a call of the Java method NAME (not main) ends with a pending exception
// This library is the VM: it exports the invocation functions that jni.h declares.
#define _JNI_IMPLEMENTATION_
#include <jni.h>
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace {

struct Object {
    enum Kind { Class, String, Array, Throwable } kind;
    std::string name;    // class name (slashed) or throwable text
    std::u16string text; // string contents
    std::vector<Object*> elements;
};

struct Method {
    Object* owner;
    std::string name;
    std::string signature;
};

struct Script {
    bool createFails = false;
    std::set<std::string> missingClasses;
    std::set<std::string> missingMethods;
    bool mainThrows = false;
    int mainExits = -1;
    bool arrayFails = false;
    int mainSleeps = 0;
    std::set<std::string> throwingMethods;
};

Script script;
Object* pending = nullptr;
std::mutex transcriptLock;

std::string environment(const char* name) {
    char value[4096] = "";
    DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

void readScript() {
    std::string text = environment("MORIX_RECORDING_JVM");
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(';', start);
        std::string item = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        size_t equals = item.find('=');
        std::string key = item.substr(0, equals);
        std::string value = equals == std::string::npos ? "" : item.substr(equals + 1);
        if (key == "create-fails") {
            script.createFails = true;
        } else if (key == "missing-class") {
            script.missingClasses.insert(value);
        } else if (key == "missing-method") {
            script.missingMethods.insert(value);
        } else if (key == "main-throws") {
            script.mainThrows = true;
        } else if (key == "main-exits") {
            script.mainExits = std::atoi(value.c_str());
        } else if (key == "array-fails") {
            script.arrayFails = true;
        } else if (key == "main-sleeps") {
            script.mainSleeps = std::atoi(value.c_str());
        } else if (key == "throws") {
            script.throwingMethods.insert(value);
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
}

void record(const std::string& line) {
    std::lock_guard<std::mutex> lock(transcriptLock);
    std::string path = environment("MORIX_TRANSCRIPT");
    if (path.empty()) {
        return;
    }
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

std::string utf8(const std::u16string& text) {
    if (text.empty()) {
        return {};
    }
    const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    int size =
        WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

Object* newObject(Object::Kind kind, std::string name = {}) {
    return new Object{kind, std::move(name), {}, {}};
}

void raise(const std::string& text) {
    pending = newObject(Object::Throwable, text);
}

// The calling thread's stack reservation: every region of the allocation that holds its stack.
size_t stackReservation() {
    MEMORY_BASIC_INFORMATION region{};
    VirtualQuery(&region, &region, sizeof region);
    void* allocation = region.AllocationBase;
    size_t total = 0;
    auto* address = static_cast<char*>(allocation);
    for (int regions = 0; regions < 64; ++regions) {
        if (!VirtualQuery(address, &region, sizeof region) || region.AllocationBase != allocation) {
            break;
        }
        total += region.RegionSize;
        address += region.RegionSize;
    }
    return total;
}

std::vector<char> parameterKinds(const std::string& signature) {
    std::vector<char> kinds;
    size_t i = signature.find('(') + 1;
    while (i < signature.size() && signature[i] != ')') {
        char c = signature[i];
        if (c == '[') {
            while (signature[i] == '[') {
                ++i;
            }
            if (signature[i] == 'L') {
                i = signature.find(';', i);
            }
            kinds.push_back('L');
            ++i;
        } else if (c == 'L') {
            i = signature.find(';', i) + 1;
            kinds.push_back('L');
        } else {
            kinds.push_back(c);
            ++i;
        }
    }
    return kinds;
}

std::vector<jvalue> argumentsFromList(Method* method, va_list list) {
    std::vector<jvalue> values;
    for (char kind : parameterKinds(method->signature)) {
        jvalue value{};
        switch (kind) {
        case 'Z':
        case 'B':
        case 'C':
        case 'S':
        case 'I':
            value.i = va_arg(list, int);
            break;
        case 'J':
            value.j = va_arg(list, long long);
            break;
        case 'F':
        case 'D':
            value.d = va_arg(list, double);
            break;
        default:
            value.l = va_arg(list, jobject);
            break;
        }
        values.push_back(value);
    }
    return values;
}

std::string render(char kind, const jvalue& value) {
    switch (kind) {
    case 'Z':
        return value.i ? "true" : "false";
    case 'L': {
        auto* object = reinterpret_cast<Object*>(value.l);
        if (!object) {
            return "null";
        }
        return object->kind == Object::String ? "\"" + utf8(object->text) + "\"" : object->name;
    }
    default:
        return std::to_string(value.i);
    }
}

// Every Java method the launcher calls lands here.
jobject invoke(Object* target, Method* method, const std::vector<jvalue>& arguments) {
    std::string line = "call " + method->owner->name + "." + method->name;
    std::vector<char> kinds = parameterKinds(method->signature);
    for (size_t i = 0; i < kinds.size() && i < arguments.size(); ++i) {
        line += (i == 0 ? " " : ", ") + render(kinds[i], arguments[i]);
    }
    if (method->name == "main") {
        record("call " + method->owner->name + ".main");
        auto* array = reinterpret_cast<Object*>(arguments.at(0).l);
        for (size_t i = 0; array && i < array->elements.size(); ++i) {
            Object* element = array->elements[i];
            record("main-arg " + std::to_string(i) + " " +
                   (element ? utf8(element->text) : std::string("null")));
        }
        if (script.mainSleeps > 0) {
            Sleep(static_cast<DWORD>(script.mainSleeps));
        }
        if (script.mainExits >= 0) {
            record("exit " + std::to_string(script.mainExits));
            ExitProcess(static_cast<UINT>(script.mainExits));
        }
        if (script.mainThrows) {
            raise("java.lang.IllegalStateException: thrown by the stand-in main");
        }
        return nullptr;
    }
    record(line);
    if (script.throwingMethods.count(method->name)) {
        raise("java.lang.RuntimeException: thrown by " + method->name);
        return nullptr;
    }
    if (method->name == "toString" && target && target->kind == Object::Throwable) {
        Object* text = newObject(Object::String);
        text->text.assign(target->name.begin(), target->name.end());
        return reinterpret_cast<jobject>(text);
    }
    return nullptr;
}

// ---- the JNI functions the launcher uses

jint JNICALL getVersion(JNIEnv*) {
    return JNI_VERSION_1_8;
}

jclass JNICALL findClass(JNIEnv*, const char* name) {
    if (script.missingClasses.count(name)) {
        record(std::string("FindClass ") + name + " missing");
        raise(std::string("java.lang.NoClassDefFoundError: ") + name);
        return nullptr;
    }
    record(std::string("FindClass ") + name);
    return reinterpret_cast<jclass>(newObject(Object::Class, name));
}

jmethodID lookupMethod(jclass owner, const char* name, const char* signature, const char* call) {
    auto* ownerObject = reinterpret_cast<Object*>(owner);
    if (script.missingMethods.count(name)) {
        record(std::string(call) + " " + ownerObject->name + "." + name + signature + " missing");
        raise(std::string("java.lang.NoSuchMethodError: ") + name);
        return nullptr;
    }
    record(std::string(call) + " " + ownerObject->name + "." + name + signature);
    return reinterpret_cast<jmethodID>(new Method{ownerObject, name, signature});
}

jmethodID JNICALL getStaticMethodID(JNIEnv*, jclass owner, const char* name, const char* signature) {
    return lookupMethod(owner, name, signature, "GetStaticMethodID");
}

jmethodID JNICALL getMethodID(JNIEnv*, jclass owner, const char* name, const char* signature) {
    return lookupMethod(owner, name, signature, "GetMethodID");
}

jthrowable JNICALL exceptionOccurred(JNIEnv*) {
    return reinterpret_cast<jthrowable>(pending);
}
jboolean JNICALL exceptionCheck(JNIEnv*) {
    return pending ? JNI_TRUE : JNI_FALSE;
}
void JNICALL exceptionClear(JNIEnv*) {
    pending = nullptr;
}

jint JNICALL throwObject(JNIEnv*, jthrowable exception) {
    pending = reinterpret_cast<Object*>(exception);
    return 0;
}

// A throwable is an instance of the class its text names first, as Throwable.toString writes it.
jboolean JNICALL isInstanceOf(JNIEnv*, jobject object, jclass type) {
    const auto* target = reinterpret_cast<Object*>(object);
    std::string name = reinterpret_cast<Object*>(type)->name;
    for (char& c : name) {
        c = c == '/' ? '.' : c;
    }
    return target && target->kind == Object::Throwable && target->name.rfind(name, 0) == 0 ? JNI_TRUE
                                                                                           : JNI_FALSE;
}

void JNICALL exceptionDescribe(JNIEnv*) {
    if (pending) {
        record("ExceptionDescribe " + pending->name);
        std::fprintf(stderr, "Exception in thread \"main\" %s\n\tat the stand-in\n", pending->name.c_str());
        std::fflush(stderr);
        pending = nullptr;
    }
}

void JNICALL deleteLocalRef(JNIEnv*, jobject) {}

jclass JNICALL getObjectClass(JNIEnv*, jobject object) {
    auto* target = reinterpret_cast<Object*>(object);
    return reinterpret_cast<jclass>(newObject(Object::Class, target && target->kind == Object::Throwable
                                                                 ? "java/lang/Throwable"
                                                                 : "java/lang/Object"));
}

jstring JNICALL newString(JNIEnv*, const jchar* characters, jsize length) {
    Object* text = newObject(Object::String);
    text->text.assign(reinterpret_cast<const char16_t*>(characters), static_cast<size_t>(length));
    return reinterpret_cast<jstring>(text);
}

jstring JNICALL newStringUTF(JNIEnv*, const char* bytes) {
    Object* text = newObject(Object::String);
    int size = MultiByteToWideChar(CP_UTF8, 0, bytes, -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(size > 0 ? size - 1 : 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes, -1, wide.data(), size);
    text->text.assign(wide.begin(), wide.end());
    return reinterpret_cast<jstring>(text);
}

jsize JNICALL getStringLength(JNIEnv*, jstring text) {
    return static_cast<jsize>(reinterpret_cast<Object*>(text)->text.size());
}

const jchar* JNICALL getStringChars(JNIEnv*, jstring text, jboolean* isCopy) {
    if (isCopy) {
        *isCopy = JNI_FALSE;
    }
    return reinterpret_cast<const jchar*>(reinterpret_cast<Object*>(text)->text.c_str());
}

void JNICALL releaseStringChars(JNIEnv*, jstring, const jchar*) {}

jobjectArray JNICALL newObjectArray(JNIEnv*, jsize length, jclass, jobject initial) {
    if (script.arrayFails) {
        record("NewObjectArray fails");
        raise("java.lang.OutOfMemoryError: stand-in");
        return nullptr;
    }
    Object* array = newObject(Object::Array);
    array->elements.assign(static_cast<size_t>(length), reinterpret_cast<Object*>(initial));
    return reinterpret_cast<jobjectArray>(array);
}

void JNICALL setObjectArrayElement(JNIEnv*, jobjectArray array, jsize index, jobject value) {
    reinterpret_cast<Object*>(array)->elements.at(static_cast<size_t>(index)) =
        reinterpret_cast<Object*>(value);
}

jsize JNICALL getArrayLength(JNIEnv*, jarray array) {
    return static_cast<jsize>(reinterpret_cast<Object*>(array)->elements.size());
}

void JNICALL callStaticVoidMethodV(JNIEnv*, jclass owner, jmethodID method, va_list list) {
    invoke(reinterpret_cast<Object*>(owner), reinterpret_cast<Method*>(method),
           argumentsFromList(reinterpret_cast<Method*>(method), list));
}

void JNICALL callStaticVoidMethod(JNIEnv* env, jclass owner, jmethodID method, ...) {
    va_list list;
    va_start(list, method);
    callStaticVoidMethodV(env, owner, method, list);
    va_end(list);
}

void JNICALL callStaticVoidMethodA(JNIEnv*, jclass owner, jmethodID method, const jvalue* values) {
    auto* m = reinterpret_cast<Method*>(method);
    invoke(reinterpret_cast<Object*>(owner), m,
           std::vector<jvalue>(values, values + parameterKinds(m->signature).size()));
}

jobject JNICALL callStaticObjectMethodV(JNIEnv*, jclass owner, jmethodID method, va_list list) {
    auto* m = reinterpret_cast<Method*>(method);
    std::vector<jvalue> arguments = argumentsFromList(m, list);
    if (m->name == "setProperty" && arguments.size() == 2) {
        auto* key = reinterpret_cast<Object*>(arguments[0].l);
        auto* value = reinterpret_cast<Object*>(arguments[1].l);
        record("setProperty " + utf8(key->text) + "=" + utf8(value->text));
        if (script.throwingMethods.count(m->name)) {
            raise("java.lang.RuntimeException: thrown by " + m->name);
        }
        return nullptr;
    }
    return invoke(reinterpret_cast<Object*>(owner), m, arguments);
}

jobject JNICALL callStaticObjectMethod(JNIEnv* env, jclass owner, jmethodID method, ...) {
    va_list list;
    va_start(list, method);
    jobject result = callStaticObjectMethodV(env, owner, method, list);
    va_end(list);
    return result;
}

jobject JNICALL callObjectMethodV(JNIEnv*, jobject target, jmethodID method, va_list list) {
    auto* m = reinterpret_cast<Method*>(method);
    return invoke(reinterpret_cast<Object*>(target), m, argumentsFromList(m, list));
}

jobject JNICALL callObjectMethod(JNIEnv* env, jobject target, jmethodID method, ...) {
    va_list list;
    va_start(list, method);
    jobject result = callObjectMethodV(env, target, method, list);
    va_end(list);
    return result;
}

template <size_t Slot>
void JNICALL unbridged() {
    std::fprintf(stderr, "recording jvm: JNI function slot %u is not implemented\n",
                 static_cast<unsigned>(Slot));
    std::fflush(stderr);
    ExitProcess(99);
}

template <size_t... Slot>
void fillTraps(void** table, std::index_sequence<Slot...>) {
    ((table[Slot] = reinterpret_cast<void*>(&unbridged<Slot>)), ...);
}

JNINativeInterface_ envTable;
JNIEnv_ environmentObject;
JNIInvokeInterface_ vmTable;
JavaVM_ vmObject;

jint JNICALL destroyJavaVM(JavaVM*) {
    record("DestroyJavaVM");
    return JNI_OK;
}

jint JNICALL getEnv(JavaVM*, void** env, jint) {
    *env = &environmentObject;
    return JNI_OK;
}

jint JNICALL attachCurrentThread(JavaVM*, void** env, void*) {
    *env = &environmentObject;
    return JNI_OK;
}

jint JNICALL detachCurrentThread(JavaVM*) {
    return JNI_OK;
}

void buildTables() {
    constexpr size_t slots = sizeof(JNINativeInterface_) / sizeof(void*);
    fillTraps(reinterpret_cast<void**>(&envTable), std::make_index_sequence<slots>{});
    envTable.GetVersion = getVersion;
    envTable.FindClass = findClass;
    envTable.ExceptionOccurred = exceptionOccurred;
    envTable.ExceptionDescribe = exceptionDescribe;
    envTable.Throw = throwObject;
    envTable.IsInstanceOf = isInstanceOf;
    envTable.ExceptionClear = exceptionClear;
    envTable.ExceptionCheck = exceptionCheck;
    envTable.DeleteLocalRef = deleteLocalRef;
    envTable.GetObjectClass = getObjectClass;
    envTable.GetMethodID = getMethodID;
    envTable.GetStaticMethodID = getStaticMethodID;
    envTable.NewString = newString;
    envTable.NewStringUTF = newStringUTF;
    envTable.GetStringLength = getStringLength;
    envTable.GetStringChars = getStringChars;
    envTable.ReleaseStringChars = releaseStringChars;
    envTable.NewObjectArray = newObjectArray;
    envTable.SetObjectArrayElement = setObjectArrayElement;
    envTable.GetArrayLength = getArrayLength;
    envTable.CallStaticVoidMethod = callStaticVoidMethod;
    envTable.CallStaticVoidMethodV = callStaticVoidMethodV;
    envTable.CallStaticVoidMethodA = callStaticVoidMethodA;
    envTable.CallStaticObjectMethod = callStaticObjectMethod;
    envTable.CallStaticObjectMethodV = callStaticObjectMethodV;
    envTable.CallObjectMethod = callObjectMethod;
    envTable.CallObjectMethodV = callObjectMethodV;
    environmentObject.functions = &envTable;

    constexpr size_t vmSlots = sizeof(JNIInvokeInterface_) / sizeof(void*);
    fillTraps(reinterpret_cast<void**>(&vmTable), std::make_index_sequence<vmSlots>{});
    vmTable.DestroyJavaVM = destroyJavaVM;
    vmTable.GetEnv = getEnv;
    vmTable.AttachCurrentThread = attachCurrentThread;
    vmTable.DetachCurrentThread = detachCurrentThread;
    vmObject.functions = &vmTable;
}

} // namespace

extern "C" jint JNICALL JNI_CreateJavaVM(JavaVM** vm, void** env, void* arguments) {
    readScript();
    auto* init = static_cast<JavaVMInitArgs*>(arguments);
    // Hooks (options with a function as extra information) are recorded apart from the option texts.
    long texts = 0;
    for (jint i = 0; i < init->nOptions; ++i) {
        texts += init->options[i].extraInfo == nullptr ? 1 : 0;
    }
    char header[128];
    std::snprintf(header, sizeof header, "create version=0x%lx options=%ld ignoreUnrecognized=%d",
                  static_cast<long>(init->version), texts, init->ignoreUnrecognized);
    record(header);
    for (jint i = 0; i < init->nOptions; ++i) {
        record(std::string(init->options[i].extraInfo == nullptr ? "option " : "hook ") +
               init->options[i].optionString);
    }
    record("stack " + std::to_string(stackReservation()));
    if (script.createFails) {
        record("create fails");
        return JNI_ERR;
    }
    buildTables();
    *vm = &vmObject;
    *env = &environmentObject;
    return JNI_OK;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
