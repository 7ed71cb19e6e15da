// A runtime shipped with its class archives in Pack200 form (lib\X.jar.pack) is expanded with its own
// bin\unpack200.exe the first time it is tested; later launches find the .jar files and do nothing.
#pragma once

#include <string>

namespace morix {

void unpackPackedRuntime(const std::string& home);
void unpackDirectory(const std::string& home, const char* directory, bool& unpacked);
void unpackFile(const std::string& home, const std::string& packedPath);

} // namespace morix
