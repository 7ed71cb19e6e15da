#include "java_command.h"

#include "argument_files.h"
#include "diagnostics.h"
#include "linux_jdk.h"
#include "option_translation.h"
#include "stdio_relay.h"
#include "windows_paths.h"
#include "winelib.h"

#include <shellapi.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

extern char** environ;

namespace morix::bridge {
namespace {

// How long the output of an ended child may take to reach the Windows handles.
constexpr DWORD kOutputDrainMs = 10000;

std::vector<std::string> commandLineArguments() {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> result;
    for (int i = 1; arguments != nullptr && i < count; ++i) {
        result.push_back(toUtf8(reinterpret_cast<const char16_t*>(arguments[i])));
    }
    LocalFree(arguments);
    return result;
}

// Argument files expanded here rather than by the Linux java: their contents hold Windows paths too.
std::vector<std::string> expandArgumentFiles(const std::vector<std::string>& arguments,
                                             const TextMapping& mapping) {
    if (!initArgumentProcessing(JNI_FALSE, JNI_FALSE)) {
        return arguments;
    }
    std::vector<std::string> expanded;
    for (const std::string& argument : arguments) {
        JliList* list = preprocessArgument(argument.c_str(), JNI_TRUE, mapping.path);
        if (list == nullptr) {
            expanded.push_back(argument);
            continue;
        }
        for (size_t i = 0; i < list->size; ++i) {
            expanded.emplace_back(list->elements[i]);
        }
        releaseArguments(list->elements);
        releaseArguments(list);
    }
    return expanded;
}

// The environment of the child: this process's, with the JVM option variables as the Windows side has them.
std::vector<char*> childEnvironment() {
    adoptWindowsEnvironment();
    std::vector<char*> variables;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        variables.push_back(*variable);
    }
    variables.push_back(nullptr);
    return variables;
}

int spawnAndWait(const std::string& program, std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    std::vector<char*> environment = childEnvironment();

    StandardDescriptors descriptors = standardDescriptors();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int target = 0; target < 3; ++target) {
        posix_spawn_file_actions_adddup2(&actions, descriptors[target], target);
    }
    // Wine's signal dispositions and mask are no business of the Linux java.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    sigfillset(&signals);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t child = 0;
    int error = posix_spawn(&child, program.c_str(), &actions, &attributes, argv.data(), environment.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    for (int descriptor : descriptors) {
        close(descriptor);
    }
    if (error != 0) {
        trace("cannot start %s (errno %d)", program.c_str(), error);
        return 1;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!waitForRelayedOutput(kOutputDrainMs)) {
        trace("the child's output did not end within %u ms", static_cast<unsigned>(kOutputDrainMs));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

int runJavaCommand() {
    keepTraceOutput();
    TextMapping mapping = utf8TextMapping();
    std::vector<std::string> arguments =
        translateJavaArguments(expandArgumentFiles(commandLineArguments(), mapping), mapping);
    for (const std::string& argument : arguments) {
        trace("java argument '%s'", argument.c_str());
    }
    return spawnAndWait(linuxJavaHome() + "/bin/java", arguments);
}

} // namespace morix::bridge
