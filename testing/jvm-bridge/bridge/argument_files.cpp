#include "argument_files.h"

#include "diagnostics.h"
#include "linux_jdk.h"
#include "stdio_relay.h"
#include "winelib.h"

#include <dlfcn.h>
#include <unistd.h>

namespace morix::bridge {
namespace {

struct Jli {
    void (*init)(jboolean, jboolean) = nullptr;
    JliList* (*preprocess)(const char*, jboolean) = nullptr;
    void (*release)(void*) = nullptr;
};

const Jli* jli() {
    static const Jli* const loaded = []() -> const Jli* {
        void* library = openJdkLibrary("lib/libjli.so");
        if (library == nullptr) {
            return nullptr;
        }
        Jli* functions = new Jli;
        functions->init =
            reinterpret_cast<void (*)(jboolean, jboolean)>(dlsym(library, "JLI_InitArgProcessing"));
        functions->preprocess =
            reinterpret_cast<JliList* (*)(const char*, jboolean)>(dlsym(library, "JLI_PreprocessArg"));
        functions->release = reinterpret_cast<void (*)(void*)>(dlsym(library, "JLI_MemFree"));
        if (!functions->init || !functions->preprocess || !functions->release) {
            trace("libjli lacks one of its argument functions");
            return nullptr;
        }
        return functions;
    }();
    return loaded;
}

// libjli would call exit(1) itself, on a thread that cannot end a Windows process.
[[noreturn]] void cannotOpen(const char* file) {
    std::string message = std::string("Error: could not open `") + file + "'\n";
    flushRelayedOutput();
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), message.data(), static_cast<DWORD>(message.size()), &written,
              nullptr);
    ExitProcess(1);
}

} // namespace

bool initArgumentProcessing(jboolean hasJavaArgs, jboolean disableArgFile) {
    if (jli() == nullptr) {
        return false;
    }
    jli()->init(hasJavaArgs, disableArgFile);
    return true;
}

JliList* preprocessArgument(const char* argument, jboolean expandSourceOption,
                            const std::function<std::string(std::string_view)>& windowsFile) {
    if (jli() == nullptr || argument == nullptr) {
        return nullptr;
    }
    std::string text = argument;
    if (text.size() > 1 && text[0] == '@' && text[1] != '@') {
        std::string file = windowsFile(std::string_view(text).substr(1));
        if (access(file.c_str(), R_OK) != 0) {
            cannotOpen(argument + 1);
        }
        text = "@" + file;
    }
    return jli()->preprocess(text.c_str(), expandSourceOption);
}

void releaseArguments(void* memory) {
    if (jli() != nullptr) {
        jli()->release(memory);
    }
}

} // namespace morix::bridge
