// The bridged runtime for tests: a Windows Java runtime home whose programs run the Linux OpenJDK inside
// Wine (built under bin\bridged-jdk of each Windows tree from testing/jvm-bridge, for the tree's bitness).
// A test lays one out wherever it needs a Java runtime, and the launcher finds, validates and loads it
// like any other:
// bin\java.exe -version prints the real JDK's version, bin\server\jvm.dll creates a real JVM in the
// calling process, bin\jli.dll expands argument files.
//
//     TestDirectory dir;
//     std::wstring home = dir.file(L"jre");
//     installBridgedRuntime(home);   // home\bin\java.exe, javaw.exe, jli.dll, server\jvm.dll
//
// Windows paths in the JVM's class path, module path and library path options become Unix paths; other
// option texts and all main arguments reach Java unchanged (as UTF-8). Java runs on Linux: os.name,
// file.separator and path.separator are Linux values, and the Java side resolves the launcher's Windows
// paths through the system property morix.windowsDrives, which the bridge sets. The runtime jar of Morix
// (bin\morix-runtime.jar) is built in the same tree.
#pragma once

#include <string>

namespace morix::test {

// Copies the bridged runtime to `home` (created with its parents as needed). Throws when the build tree
// has no bridged runtime.
void installBridgedRuntime(const std::wstring& home);

// The Unix path of a Windows path, for files that Java (which runs on Linux behind the bridge) opens
// itself; empty when Wine knows no Unix path for it.
std::wstring unixPath(const std::wstring& windowsPath);

// The files of a runtime home, relative to it.
inline constexpr const wchar_t* kBridgedRuntimeFiles[] = {L"bin\\java.exe", L"bin\\javaw.exe",
                                                          L"bin\\jli.dll", L"bin\\server\\jvm.dll"};

} // namespace morix::test
