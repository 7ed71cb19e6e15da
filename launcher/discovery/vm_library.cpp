#include "discovery/vm_library.h"

namespace morix {

CreateJavaVMFunction createJavaVM = nullptr;
std::string jvmHome;
std::string jvmVersion;
std::string jvmBinDirectory;

} // namespace morix
