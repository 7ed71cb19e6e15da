#include "executable_resources.h"

namespace morix::builder {

bool applyExecutableTable(const toml::table&, std::string&, std::vector<Diagnostic>&) {
    // The resources are not written yet; the launcher keeps the template's own.
    return true;
}

} // namespace morix::builder
