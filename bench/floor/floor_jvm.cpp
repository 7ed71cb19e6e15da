// The floor of a Java run: the least a Windows program can do to run a main class. It loads the given
// jvm.dll, creates the VM with nothing but the class path, calls main and destroys the VM.
// usage: floor-jvm.exe JVM_DLL CLASS_PATH MAIN_CLASS   (the class name with slashes)
#include "common/handles.h"

#include <jni.h>
#include <windows.h>

#include <string>

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
    if (argc != 4) {
        return 2;
    }
    // The VM stays loaded until the process ends, as in any program that ran one.
    morix::UniqueModule jvm(LoadLibraryW(argv[1]));
    auto create = morix::lookupFunction<CreateJavaVm>(jvm.get(), "JNI_CreateJavaVM");
    if (create == nullptr) {
        return 3;
    }
    std::string classPath = "-Djava.class.path=" + narrow(argv[2]);
    JavaVMOption option{};
    option.optionString = classPath.data();
    JavaVMInitArgs arguments{};
    arguments.version = JNI_VERSION_1_8;
    arguments.nOptions = 1;
    arguments.options = &option;
    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    if (create(&vm, reinterpret_cast<void**>(&env), &arguments) != JNI_OK) {
        return 4;
    }
    int result = 0;
    jclass mainClass = env->FindClass(narrow(argv[3]).c_str());
    jmethodID main =
        mainClass ? env->GetStaticMethodID(mainClass, "main", "([Ljava/lang/String;)V") : nullptr;
    if (main != nullptr) {
        jobjectArray noArguments = env->NewObjectArray(0, env->FindClass("java/lang/String"), nullptr);
        env->CallStaticVoidMethod(mainClass, main, noArguments);
    }
    if (main == nullptr || env->ExceptionCheck()) {
        env->ExceptionDescribe();
        result = 1;
    }
    vm->DestroyJavaVM();
    jvm.release();
    return result;
}
