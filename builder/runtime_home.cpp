#include "runtime_home.h"

#include <fstream>
#include <vector>

namespace morix::builder {
namespace {

namespace fs = std::filesystem;

constexpr uint16_t kElfX86 = 3;
constexpr uint16_t kElfX64 = 62;
constexpr uint16_t kMachineArm64 = 0xAA64;
// A runtime's directories hold a few dozen entries; a name is looked for among this many at most.
constexpr size_t kMaxEntriesSearched = 10000;

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

bool sameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

// The entry of `dir` with this name in any case, as Windows finds it; a runtime copied from Windows
// keeps whatever case its files were shipped with.
std::optional<fs::path> child(const fs::path& dir, const std::string& name) {
    std::error_code ec;
    if (fs::exists(dir / name, ec)) {
        return dir / name;
    }
    size_t seen = 0;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end && seen < kMaxEntriesSearched;
         it.increment(ec), ++seen) {
        if (sameName(it->path().filename().string(), name)) {
            return it->path();
        }
    }
    return std::nullopt;
}

// The file at a relative path of "/"-separated names below `dir`.
std::optional<fs::path> find(const fs::path& dir, const std::string& relative) {
    fs::path at = dir;
    size_t start = 0;
    while (start <= relative.size()) {
        const size_t slash = relative.find('/', start);
        const std::string part = relative.substr(start, slash == std::string::npos ? slash : slash - start);
        std::optional<fs::path> next = part == ".." ? std::optional(at / "..") : child(at, part);
        if (!next) {
            return std::nullopt;
        }
        at = *next;
        if (slash == std::string::npos) {
            break;
        }
        start = slash + 1;
    }
    return at;
}

uint16_t read16(const std::string& bytes, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(bytes[at]) | static_cast<uint8_t>(bytes[at + 1]) << 8);
}

} // namespace

std::optional<uint16_t> dllMachine(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::string head(64, '\0');
    if (!in.read(head.data(), static_cast<std::streamsize>(head.size()))) {
        return std::nullopt;
    }
    if (head.compare(0, 4,
                     "\x7f"
                     "ELF") == 0) {
        const uint16_t machine = read16(head, 18);
        return machine == kElfX86 ? kMachineX86 : machine == kElfX64 ? kMachineX64 : 0;
    }
    if (head.compare(0, 2, "MZ") != 0) {
        return std::nullopt;
    }
    const uint32_t pe = read16(head, 0x3C) | static_cast<uint32_t>(read16(head, 0x3E)) << 16;
    std::string header(6, '\0');
    in.seekg(pe);
    if (!in.read(header.data(), static_cast<std::streamsize>(header.size())) ||
        header.compare(0, 4, "PE\0\0", 4)) {
        return std::nullopt;
    }
    return read16(header, 4);
}

std::string machineName(uint16_t machine) {
    switch (machine) {
    case kMachineX86:
        return "32-bit (x86)";
    case kMachineX64:
        return "64-bit (x64)";
    case kMachineArm64:
        return "ARM64";
    default:
        return "for another processor";
    }
}

std::optional<std::string> runtimeHomeProblem(const fs::path& home, const RuntimeNeeds& needs) {
    std::error_code ec;
    if (!fs::is_directory(home, ec)) {
        return home.string() + " is not a directory";
    }
    const std::string where = "the runtime " + home.string();
    // The launcher takes jre/bin/java.exe when the home has one (a JDK of the old layout), else bin/java.exe.
    std::string binDir = "jre/bin";
    if (needs.jdk && !find(home, "lib/tools.jar")) {
        return where + " has no lib/tools.jar, and runtime.require_jdk accepts only a JDK that has one";
    }
    std::optional<fs::path> java = find(home, binDir + "/java.exe");
    if (!java && !needs.jdk) {
        binDir = "bin";
        java = find(home, binDir + "/java.exe");
    }
    if (!java) {
        return where + " has no " + binDir + "/java.exe, which the launcher runs to learn its version";
    }
    if (needs.javaw && !find(home, binDir + "/javaw.exe")) {
        return where + " has no " + binDir + "/javaw.exe, which a launcher of type \"gui\" runs";
    }
    std::vector<std::string> vms = {"client", "server", "j9vm", "hotspot", "jrockit"};
    if (!needs.preferredVm.empty()) {
        vms.insert(vms.begin(), needs.preferredVm);
    }
    std::vector<std::string> tried;
    std::optional<std::string> otherBitness;
    for (const std::string& bin : {binDir, binDir + "/../jre/bin"}) {
        for (const std::string& vm : vms) {
            const std::string relative = bin + "/" + vm + "/jvm.dll";
            tried.push_back(relative);
            std::optional<fs::path> dll = find(home, relative);
            if (!dll) {
                continue;
            }
            std::optional<uint16_t> machine = dllMachine(*dll);
            if (machine == needs.machine) {
                return std::nullopt;
            }
            if (!otherBitness) {
                otherBitness =
                    machine ? relative + " is " + machineName(*machine) : relative + " is not a Windows DLL";
            }
        }
    }
    if (otherBitness) {
        return where + ": " + *otherBitness + ", and the " + machineName(needs.machine) +
               " launcher loads only a jvm.dll of its own bitness; give a " + machineName(needs.machine) +
               " Java runtime, or build the launcher from the other template";
    }
    std::string list;
    for (size_t i = 0; i < vms.size(); ++i) {
        list += (i == 0 ? "" : ", ") + tried[i];
    }
    return where + " has no jvm.dll (looked for " + list + " and the same below jre/bin)";
}

} // namespace morix::builder
