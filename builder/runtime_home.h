// The Java runtime home that an application image carries: whether the launcher could use it. The
// launcher runs bin/java.exe to learn the runtime's version and loads jvm.dll from a VM directory below
// bin into its own process, so that DLL must be of the launcher's own bitness.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace morix::builder {

inline constexpr uint16_t kMachineX86 = 0x14C;
inline constexpr uint16_t kMachineX64 = 0x8664;

struct RuntimeNeeds {
    uint16_t machine = kMachineX86; // the launcher template's
    bool javaw = false;             // a GUI launcher runs javaw.exe
    bool jdk = false;               // runtime.require_jdk: the home must hold lib/tools.jar
    std::string preferredVm;        // runtime.preferred_vm, tried before the usual VM directories
};

// The machine of a DLL: a PE image's, or a Winelib ELF object's (which Wine loads as a DLL) given as the
// PE machine of the same processor; 0 for another processor; none for a file that is neither.
std::optional<uint16_t> dllMachine(const std::filesystem::path& file);

// "32-bit (x86)", "64-bit (x64)", ...
std::string machineName(uint16_t machine);

// Why the launcher could not use the runtime home, or none when it could.
std::optional<std::string> runtimeHomeProblem(const std::filesystem::path& home, const RuntimeNeeds& needs);

} // namespace morix::builder
