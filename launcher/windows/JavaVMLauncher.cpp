#include "windows/JavaVMLauncher.h"

#include "common/handles.h"
#include "common/text.h"
#include "config/extract.h"
#include "config/payload.h"
#include "config/paths.h"
#include "config/temp_cleanup.h"
#include "discovery/vm_library.h"
#include "frame/fatal.h"
#include "frame/log.h"
#include "frame/process_state.h"
#include "frame/startup.h"
#include "instance/single_instance.h"
#include "windows/class_data.h"
#include "windows/variables.h"
#include "windows/vm_thread.h"

#include "morix/config_ids.h"
#include "morix/config_values.h"
#include "morix/message_ids.h"

#include <windows.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <utility>

namespace morix {

JavaVM* javaVm = nullptr;
JNIEnv* jniEnv = nullptr;

namespace {

constexpr const char* kSplashClass = "com/morix/runtime/WinLauncher";
constexpr const char* kSplashSignature =
    "(ZZLjava/lang/String;IILjava/lang/String;IILjava/lang/String;IILjava/lang/String;II)V";
constexpr const char* kInstallerCommonClass = "com/vantarock/runtime/installer/platform/win32/Common";
constexpr const char* kLocaleOption = "-Dsun.locale.formatasdefault=";
// The smallest stack the VM thread gets when one is configured.
constexpr unsigned kMinimumStackSize = 0x10000;

using LogErrorFunction = void (*)(const wchar_t*, ...);
using RegisterNativesFunction = int (*)(JNIEnv*, HMODULE, LogErrorFunction);

// A JNI local reference, deleted with its owner. The VM thread runs main for the life of the application,
// so a reference it made and left would never be freed.
template <typename Reference>
class LocalRef {
public:
    LocalRef(JNIEnv* env, Reference reference) : env_(env), reference_(reference) {}
    LocalRef(LocalRef&& other) noexcept
        : env_(other.env_), reference_(std::exchange(other.reference_, nullptr)) {}
    LocalRef(const LocalRef&) = delete;
    LocalRef& operator=(const LocalRef&) = delete;
    LocalRef& operator=(LocalRef&&) = delete;
    ~LocalRef() {
        if (reference_) {
            env_->DeleteLocalRef(reference_);
        }
    }

    Reference get() const { return reference_; }
    explicit operator bool() const { return reference_ != nullptr; }

private:
    JNIEnv* env_;
    Reference reference_;
};

const char* launcherClass() {
    return launcherFlavour == flavour::kVantarock ? "com/vantarock/runtime/launcher/WinLauncher"
                                                  : "com/morix/runtime/WinLauncher";
}

// An exception raised while another one is being described has no one left to report to.
void clearPendingException(JNIEnv* env) {
    if (env->ExceptionCheck()) {
        env->ExceptionClear();
    }
}

// Narrow configuration text (ANSI code page) as a Java string: NewStringUTF wants UTF-8.
jstring newStringFromAnsi(JNIEnv* env, const std::string& text) {
    return env->NewStringUTF(wideToUtf8(narrowToWide(text)).c_str());
}

std::wstring javaStringText(JNIEnv* env, jstring text) {
    std::wstring result;
    const jsize length = env->GetStringLength(text);
    const jchar* characters = env->GetStringChars(text, nullptr);
    if (characters) {
        result.assign(reinterpret_cast<const wchar_t*>(characters), static_cast<size_t>(length));
        env->ReleaseStringChars(text, characters);
    }
    return result;
}

// The Java side's exception for a failure it has already explained on the error output (a main class
// that is not there): its trace is for the log only.
bool explainedByJavaSide(JNIEnv* env, jthrowable exception) {
    const LocalRef type(env, env->FindClass("com/morix/runtime/MissingMainClass"));
    clearPendingException(env);
    return type && env->IsInstanceOf(exception, type.get());
}

// The text of a Java method without arguments that returns a string, or none.
std::optional<std::wstring> callTextMethod(JNIEnv* env, jobject object, const char* name) {
    const LocalRef type(env, env->GetObjectClass(object));
    jmethodID method = type ? env->GetMethodID(type.get(), name, "()Ljava/lang/String;") : nullptr;
    const LocalRef text(env, method ? static_cast<jstring>(env->CallObjectMethod(object, method)) : nullptr);
    clearPendingException(env);
    if (!text) {
        return std::nullopt;
    }
    return javaStringText(env, text.get());
}

// True when no exception is pending; otherwise logs it (and prints its stack trace when asked, unless
// the Java side has explained it already: then the trace goes to the log).
bool reportJavaException(JNIEnv* env, bool describe) {
    const LocalRef exception(env, env->ExceptionOccurred());
    if (!exception) {
        return true;
    }
    logError(L"an exception occurred");
    // No JNI call may run while an exception is pending: it is cleared, looked at, and for describing
    // thrown again (describing clears it once more).
    env->ExceptionClear();
    const bool explained = explainedByJavaSide(env, exception.get());
    if (describe && !explained && env->Throw(exception.get()) == 0) {
        env->ExceptionDescribe();
    }
    clearPendingException(env);
    if (std::optional<std::wstring> text = callTextMethod(env, exception.get(), "toString")) {
        logError(L"%s", text->c_str());
    }
    if (explained) {
        if (std::optional<std::wstring> trace = callTextMethod(env, exception.get(), "trace")) {
            logMessage(L"%s", trace->c_str());
        }
    }
    return false;
}

// Optional steps go on without what failed, but the failure's exception reaches the log before it is
// cleared.
void logPendingException(JNIEnv* env) {
    reportJavaException(env, false);
}

void initSplashSettings(JNIEnv* env) {
    const LocalRef splashClass(env, env->FindClass(kSplashClass));
    if (!splashClass) {
        logError(L"could not find main class for splash properties");
        logPendingException(env);
        return;
    }
    jclass splash = splashClass.get();
    jmethodID method = env->GetStaticMethodID(splash, "initAwtSplashConfig", kSplashSignature);
    if (!method) {
        logError(L"could not find method for splash properties");
        logPendingException(env);
        return;
    }
    // The variadic call takes the references themselves; their owners delete them afterwards.
    std::vector<LocalRef<jstring>> ownedTexts;
    jstring texts[ids::kSplashCount];
    for (int i = 0; i < ids::kSplashCount; ++i) {
        texts[i] = newStringFromAnsi(env, getConfigString(ids::kSplashText[i], kSplashTextCapacity));
        ownedTexts.emplace_back(env, texts[i]);
    }
    env->CallStaticVoidMethod(
        splash, method, JNI_TRUE, getConfigInt(ids::kSplashSecondFlag) != 0 ? JNI_TRUE : JNI_FALSE, texts[0],
        getConfigInt(ids::kSplashFirst[0]), getConfigInt(ids::kSplashSecond[0]), texts[1],
        getConfigInt(ids::kSplashFirst[1]), getConfigInt(ids::kSplashSecond[1]), texts[2],
        getConfigInt(ids::kSplashFirst[2]), getConfigInt(ids::kSplashSecond[2]), texts[3],
        getConfigInt(ids::kSplashFirst[3]), getConfigInt(ids::kSplashSecond[3]));
    logPendingException(env);
}

bool initFromLauncher(JNIEnv* env, bool flag) {
    const LocalRef common(env, env->FindClass(kInstallerCommonClass));
    if (!common) {
        logError(L"did not find %S", kInstallerCommonClass);
        logPendingException(env);
        return false;
    }
    jmethodID method = env->GetStaticMethodID(common.get(), "initFromLauncher", "(Z)V");
    if (!method) {
        logError(L"did not find initMethod");
        logPendingException(env);
        return false;
    }
    env->CallStaticVoidMethod(common.get(), method, flag ? JNI_TRUE : JNI_FALSE);
    logPendingException(env);
    return true;
}

void loadRuntimeNatives(JNIEnv* env) {
    logMessage(L"load helper dll");
    std::wstring path = resolvePathWide(getConfigStringWide(ids::kInstallationDirectory, 4000), false);
    if (path.empty() || path.back() != L'\\') {
        path += L'\\';
    }
    path += L".vantarock\\vrkinst.dll";
    // The runtime's native library stays loaded for the life of the process.
    HMODULE module = LoadLibraryW(path.c_str());
    logMessage(L"helper dll %p %s", static_cast<void*>(module), path.c_str());
    if (!module) {
        return;
    }
    auto registerNatives = lookupFunction<RegisterNativesFunction>(module, "registerNatives");
    if (!registerNatives) {
        logError(L"did not find register natives in helper dll");
        return;
    }
    if (initFromLauncher(env, true) && !registerNatives(env, module, logError)) {
        logError(L"registering helper dll failed");
        initFromLauncher(env, false);
    }
}

// A Java string of wide text; null (with an exception pending) when the VM has no memory for it.
jstring newJavaString(JNIEnv* env, const std::wstring& text) {
    return env->NewString(reinterpret_cast<const jchar*>(text.c_str()), static_cast<jsize>(text.size()));
}

// The exact wide launcher path replaces the narrow value given as a VM option, where the ANSI code page
// could not carry it (the VM reads its options in that code page). Otherwise the option is exact already,
// and the calls are saved.
void setModuleNameProperty(JNIEnv* env) {
    if (narrowToWide(getExecutablePath()) == getExecutablePathWide()) {
        logMessage(L"morix.moduleName is exact in its VM option");
        return;
    }
    const LocalRef system(env, env->FindClass("java/lang/System"));
    if (!system) {
        logError(L"could not get system class");
        logPendingException(env);
        return;
    }
    jmethodID setProperty = env->GetStaticMethodID(
        system.get(), "setProperty", "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;");
    if (!setProperty) {
        logError(L"could not get method for module name init");
        logPendingException(env);
        return;
    }
    const std::wstring& path = getExecutablePathWide();
    const LocalRef value(env, newJavaString(env, path));
    const LocalRef key(env, value ? newJavaString(env, L"morix.moduleName") : nullptr);
    if (!value || !key) {
        logError(L"could not create string for init module name");
        logPendingException(env);
        return;
    }
    logMessage(L"setting morix.moduleName to %s", path.c_str());
    const LocalRef previous(env,
                            env->CallStaticObjectMethod(system.get(), setProperty, key.get(), value.get()));
    logPendingException(env);
}

// The arguments of main; none (with an exception pending) when the VM has no memory for them.
LocalRef<jobjectArray> newStringArray(JNIEnv* env, const std::vector<std::wstring>& values) {
    logMessage(L"param count: %d", static_cast<int>(values.size()));
    const LocalRef stringClass(env, env->FindClass("java/lang/String"));
    if (!stringClass) {
        return {env, nullptr};
    }
    LocalRef array(env, env->NewObjectArray(static_cast<jsize>(values.size()), stringClass.get(), nullptr));
    if (!array) {
        return array;
    }
    for (size_t i = 0; i < values.size(); ++i) {
        logMessage(L"param %d: %s", static_cast<int>(i), values[i].c_str());
        const LocalRef element(env, newJavaString(env, values[i]));
        if (!element) {
            return {env, nullptr};
        }
        env->SetObjectArrayElement(array.get(), static_cast<jsize>(i), element.get());
    }
    return array;
}

bool callMain(JNIEnv* env, const ArgumentList& arguments) {
    const char* className = launcherClass();
    logMessage(L"main class: %S", className);
    const LocalRef launcher(env, env->FindClass(className));
    if (!launcher) {
        logError(L"could not find main class");
        fatalErrorById(messages::kLauncherClass, nullptr);
    }
    jmethodID main = env->GetStaticMethodID(launcher.get(), "main", "([Ljava/lang/String;)V");
    if (!main) {
        logError(L"could not find main method");
        fatalErrorById(messages::kMainMethod, nullptr);
    }
    const LocalRef parameters = newStringArray(env, buildMainArguments(arguments));
    if (!parameters) {
        // Out of memory in the VM: main must not run with a missing argument.
        logError(L"could not create the arguments of main");
        reportJavaException(env, true);
        return false;
    }
    logMessage(L"calling main");
    env->CallStaticVoidMethod(launcher.get(), main, parameters.get());
    logMessage(L"main returned");
    return reportJavaException(env, true);
}

DWORD WINAPI vmThread(void* parameter) {
    auto* request = static_cast<LaunchRequest*>(parameter);
    logMessage(L"Creating JVM");
    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    if (createJavaVM(&vm, reinterpret_cast<void**>(&env), &request->vmArgs.initArgs) != JNI_OK) {
        logError(L"could not initialize JVM");
        return 0;
    }
    javaVm = vm;
    jniEnv = env;
    logMessage(L"JVM created");
    if (getConfigInt(ids::kSplashEnabled) != 0) {
        initSplashSettings(env);
    }
    if (launcherFlavour == flavour::kVantarock) {
        loadRuntimeNatives(env);
    }
    setModuleNameProperty(env);
    if (!callMain(env, request->arguments)) {
        logError(L"could not call main");
        return 0;
    }
    logMessage(L"dest JVM");
    javaVm->DestroyJavaVM();
    finishClassDataArchive();
    logMessage(L"launch done");
    return 1;
}

// Called by the VM at the very end of System.exit and Runtime.halt, after the shutdown hooks; it must end
// the process itself.
void JNICALL vmExitHook(jint code) {
    logMessage(L"JVM exits with %d", static_cast<int>(code));
    finishClassDataArchive();
    cleanUpAppTempDir();
    std::fflush(nullptr);
    ExitProcess(static_cast<UINT>(code));
}

void addExitHook(VmArguments& vmArgs) {
    vmArgs.jvmOptions.push_back({const_cast<char*>("exit"), reinterpret_cast<void*>(&vmExitHook)});
    vmArgs.initArgs.nOptions = static_cast<jint>(vmArgs.jvmOptions.size());
    vmArgs.initArgs.options = vmArgs.jvmOptions.data();
}

std::string environmentValue(const char* name) {
    const DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
    if (size == 0) {
        return {};
    }
    std::string value(size, '\0');
    const DWORD length = GetEnvironmentVariableA(name, value.data(), size);
    value.resize(length < size ? length : 0);
    return value;
}

} // namespace

int64_t parseMemorySize(const std::string& text) {
    long long value = 0;
    if (std::sscanf(text.c_str(), "%lld", &value) != 1) {
        return -1;
    }
    size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
        ++digits;
    }
    const std::string unit = text.substr(digits);
    if (unit.empty()) {
        return value;
    }
    if (unit.size() != 1) {
        return -1;
    }
    int shift = 0;
    switch (unit[0]) {
    case 'K':
    case 'k':
        shift = 10;
        break;
    case 'M':
    case 'm':
        shift = 20;
        break;
    case 'G':
    case 'g':
        shift = 30;
        break;
    case 'T':
    case 't':
        shift = 40;
        break;
    default:
        return -1;
    }
    if (value < 0 || value > (LLONG_MAX >> shift)) {
        return -1;
    }
    return value << shift;
}

unsigned vmThreadStackSize(const VmOptionList& options) {
    unsigned stackSize = 0;
    for (const std::string& option : options) {
        if (option.starts_with("-Xss")) {
            const int64_t size = parseMemorySize(option.substr(4));
            if (size > 0) {
                stackSize = static_cast<unsigned>(size & 0xFFFFFFFF);
            }
        }
    }
    if (stackSize > 0 && stackSize < kMinimumStackSize) {
        stackSize = kMinimumStackSize;
    }
    return stackSize;
}

std::vector<std::string> buildLauncherProperties() {
    std::vector<std::string> properties;
    if (!semaphoreName.empty()) {
        properties.push_back("-Dmorix.semaphoreName=" + semaphoreName);
    }
    if (launcherFlavour == flavour::kVantarock) {
        properties.push_back("-Dmorix.isVantarock=true");
    }
    if (serviceMode) {
        properties.push_back("-Dmorix.isService=true");
    }
    properties.push_back("-Dmorix.moduleName=" + getExecutablePath());
    properties.push_back("-Dsun.java.command=" + getExecutablePath());
    properties.push_back("-Dmorix.tempDir=" + appTempDir);
    properties.push_back(
        formatNarrow("-Dmorix.unextractedPosition=%d", static_cast<int>(unextractedPosition)));
    // The whole PATH: a cut value would end in a broken directory name.
    properties.push_back("-Djava.library.path=" + environmentValue("PATH"));
    if (std::getenv("MANPATH") == nullptr) {
        properties.push_back(
            formatNarrow("-Dmorix.consoleCodepage=cp%d", static_cast<int>(GetConsoleOutputCP())));
    }
    return properties;
}

std::vector<std::wstring> buildMainArguments(const ArgumentList& arguments) {
    std::vector<std::wstring> values;
    values.push_back(getConfigInt(ids::kExecutableType) == executable_type::kGui ? L"true" : L"false");
    values.push_back((getConfigInt(ids::kMainClassInModule) != 0 ? L"/" : L"") +
                     getConfigStringWide(ids::kMainClass));
    for (const auto& [enabled, pathId] : {std::pair{ids::kRedirectStdout, ids::kStdoutFile},
                                          std::pair{ids::kRedirectStderr, ids::kStderrFile}}) {
        std::wstring path;
        if (getConfigInt(enabled) != 0) {
            path = getConfigStringWide(pathId);
            expandVariables(path, false);
            // An unknown variable stays in the text; such a value goes to the Java side unchanged.
            if (!path.starts_with(L"$")) {
                path = resolveFullPathWide(path, false, true);
            }
        }
        values.push_back(path);
    }
    values.push_back(getConfigInt(ids::kAppendOutput) != 0 ? L"true" : L"false");
    if (!arguments.empty()) {
        values.push_back(arguments[0]);
    }
    std::wstring configured = getConfigStringWide(ids::kProgramArguments, kArgumentsCapacity);
    expandVariables(configured, false, kArgumentsCapacity);
    ArgumentList configuredTokens;
    splitCommandLine(configured, configuredTokens);
    values.insert(values.end(), configuredTokens.begin(), configuredTokens.end());
    const bool javaArgumentsAreOptions = getConfigInt(ids::kJArgumentsAreVmOptions) != 0;
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::wstring& argument = arguments[i];
        if ((javaArgumentsAreOptions && argument.starts_with(L"-J")) ||
            argument.starts_with(widenBytes(kLocaleOption))) {
            continue;
        }
        values.push_back(argument);
    }
    return values;
}

bool launchProgram(const ArgumentList& arguments) {
    logMessage(L"launching program");
    const std::vector<std::string> properties = buildLauncherProperties();
    // The request lives as long as the VM may use it: the process.
    auto* request = new LaunchRequest{arguments, {}};
    assembleVmOptions(request->vmArgs, properties, arguments);
    addExitHook(request->vmArgs);
    const unsigned stackSize = vmThreadStackSize(request->vmArgs.options);
    logMessage(L"used stack size %d", static_cast<int>(stackSize));
    return runOnVmThread(vmThread, request, stackSize) != 0;
}

} // namespace morix
