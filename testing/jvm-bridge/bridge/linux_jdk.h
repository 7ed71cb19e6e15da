// The Linux JDK behind the bridge, and the Unix side of the process prepared the way a Windows JVM would
// find its Windows side.
#pragma once

#include <string>

namespace morix::bridge {

// The JDK's home: MORIX_BRIDGE_JAVA_HOME, or the JDK the bridge was built with.
std::string linuxJavaHome();

// Loads a library of the JDK (a path below its home); null, with a trace line, when it cannot.
void* openJdkLibrary(const char* relativePath);

// What the JVM reads from the Unix side of the process, taken from its Windows side: the JVM option
// variables (a Windows program may have changed or removed them since the process started), the working
// directory, and a UTF-8 locale (texts reach the JDK as UTF-8).
void adoptWindowsEnvironment();

} // namespace morix::bridge
