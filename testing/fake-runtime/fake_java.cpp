// A stand-in java.exe (and javaw.exe) for runtime discovery tests. Its behaviour comes from fake-java.cfg
// beside it, so one binary serves every fake runtime:
//   version=11.0.5      the version it reports
//   form=openjdk|java|other
//   exit=N              its exit code
//   hang=1              never ends (until killed)
// Every run appends one line to java-runs.log beside it, with the JVM option variables it saw.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

namespace {

std::string directoryOfSelf() {
    char path[MAX_PATH * 4];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string self(path, length);
    return self.substr(0, self.find_last_of('\\') + 1);
}

std::map<std::string, std::string> readConfig(const std::string& file) {
    std::map<std::string, std::string> config;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        size_t equals = line.find('=');
        if (equals != std::string::npos) {
            config[line.substr(0, equals)] = line.substr(equals + 1);
        }
    }
    return config;
}

std::string variable(const char* name) {
    char value[4096];
    DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length == 0 ? std::string("<unset>") : std::string(value, length < sizeof value ? length : 0);
}

} // namespace

int main() {
    const std::string directory = directoryOfSelf();
    std::map<std::string, std::string> config = readConfig(directory + "fake-java.cfg");
    {
        std::ofstream runs(directory + "java-runs.log", std::ios::app);
        runs << "run _JAVA_OPTIONS=" << variable("_JAVA_OPTIONS")
             << " JAVA_TOOL_OPTIONS=" << variable("JAVA_TOOL_OPTIONS")
             << " JDK_JAVA_OPTIONS=" << variable("JDK_JAVA_OPTIONS") << " args=" << GetCommandLineA() << "\n";
    }
    if (config["hang"] == "1") {
        for (;;) {
            Sleep(1000);
        }
    }
    const std::string version = config.count("version") ? config["version"] : "11.0.5";
    const std::string form = config.count("form") ? config["form"] : "openjdk";
    if (form == "openjdk") {
        std::fprintf(stderr, "openjdk version \"%s\" 2019-10-15\n", version.c_str());
        std::fprintf(stderr, "OpenJDK Runtime Environment (build %s)\n", version.c_str());
    } else if (form == "java") {
        std::fprintf(stderr, "java version \"%s\"\n", version.c_str());
        std::fprintf(stderr, "Java(TM) SE Runtime Environment (build %s)\n", version.c_str());
    } else {
        std::fprintf(stderr, "%s\n", version.c_str());
    }
    return std::atoi(config["exit"].c_str());
}
