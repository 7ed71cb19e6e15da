// The floor of a Java run: the least a Windows program can do to run a main class. It loads the given
// jvm.dll, creates the VM with the class path and the options given, calls main with the arguments given
// and destroys the VM.
// usage: floor-jvm.exe [-J<option>]... JVM_DLL CLASS_PATH MAIN_CLASS [ARGUMENT]...
//        (the class name with slashes; options such as -J-XX:SharedArchiveFile=... go to the VM as they are)
#include "common/handles.h"

#include <jni.h>
#include <windows.h>

#include <string>
#include <vector>

using CreateJavaVm = jint(JNICALL*)(JavaVM**, void**, void*);

namespace {

std::string narrow(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string result(size > 0 ? size : 1, '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, result.data(), size, nullptr, nullptr);
    result.resize(result.size() - 1);
    return result;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> options;
    int next = 1;
    for (; next < argc && argv[next][0] == L'-' && argv[next][1] == L'J'; ++next) {
        options.push_back(narrow(argv[next] + 2));
    }
    if (argc - next < 3) {
        return 2;
    }
    const wchar_t* jvmDll = argv[next];
    options.push_back("-Djava.class.path=" + narrow(argv[next + 1]));
    const std::string mainClassName = narrow(argv[next + 2]);
    next += 3;
    // The VM stays loaded until the process ends, as in any program that ran one.
    morix::UniqueModule jvm(LoadLibraryW(jvmDll));
    auto create = morix::lookupFunction<CreateJavaVm>(jvm.get(), "JNI_CreateJavaVM");
    if (create == nullptr) {
        return 3;
    }
    std::vector<JavaVMOption> vmOptions;
    for (std::string& option : options) {
        vmOptions.push_back({option.data(), nullptr});
    }
    JavaVMInitArgs arguments{};
    arguments.version = JNI_VERSION_1_8;
    arguments.nOptions = static_cast<jint>(vmOptions.size());
    arguments.options = vmOptions.data();
    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    if (create(&vm, reinterpret_cast<void**>(&env), &arguments) != JNI_OK) {
        return 4;
    }
    int result = 0;
    jclass mainClass = env->FindClass(mainClassName.c_str());
    jmethodID main =
        mainClass ? env->GetStaticMethodID(mainClass, "main", "([Ljava/lang/String;)V") : nullptr;
    if (main != nullptr) {
        jobjectArray mainArguments =
            env->NewObjectArray(argc - next, env->FindClass("java/lang/String"), nullptr);
        for (int i = next; i < argc; ++i) {
            env->SetObjectArrayElement(
                mainArguments, i - next,
                env->NewString(reinterpret_cast<const jchar*>(argv[i]), static_cast<jsize>(wcslen(argv[i]))));
        }
        env->CallStaticVoidMethod(mainClass, main, mainArguments);
    }
    if (main == nullptr || env->ExceptionCheck()) {
        env->ExceptionDescribe();
        result = 1;
    }
    vm->DestroyJavaVM();
    jvm.release();
    return result;
}
