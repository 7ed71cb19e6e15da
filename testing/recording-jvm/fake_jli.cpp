// A stand-in jli.dll for tests with the recording jvm.dll: "@FILE" becomes one argument per line of FILE
// (blank lines and lines starting with "#" skipped, spaces around a line removed); anything else stays.
#include <jni.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct JliList {
    char** elements;
    size_t size;
    size_t capacity;
};

char* copyOf(const std::string& text) {
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

} // namespace

extern "C" __declspec(dllexport) void JNICALL JLI_InitArgProcessing(jboolean, jboolean) {}

extern "C" __declspec(dllexport) JliList* JNICALL JLI_PreprocessArg(const char* argument, jboolean) {
    if (argument[0] != '@' || argument[1] == '@') {
        return nullptr;
    }
    std::FILE* file = std::fopen(argument + 1, "r");
    if (!file) {
        return nullptr;
    }
    std::vector<std::string> lines;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, file)) {
        std::string line = buffer;
        size_t first = line.find_first_not_of(" \t\r\n");
        if (first == std::string::npos || line[first] == '#') {
            continue;
        }
        lines.push_back(line.substr(first, line.find_last_not_of(" \t\r\n") - first + 1));
    }
    std::fclose(file);
    auto* list = static_cast<JliList*>(std::malloc(sizeof(JliList)));
    list->size = lines.size();
    list->capacity = lines.size();
    list->elements = static_cast<char**>(std::malloc(sizeof(char*) * (lines.size() + 1)));
    for (size_t i = 0; i < lines.size(); ++i) {
        list->elements[i] = copyOf(lines[i]);
    }
    return list;
}

extern "C" __declspec(dllexport) void JNICALL JLI_MemFree(void* pointer) {
    std::free(pointer);
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
