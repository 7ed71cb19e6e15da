#include "service/service_environment.h"

#include "config/payload.h"
#include "frame/log.h"
#include "windows/variables.h"

#include "morix/config_ids.h"
#include "morix/config_values.h"

#include <windows.h>

namespace morix {

EnvironmentEntries parseServiceEnvironment(const std::wstring& text) {
    EnvironmentEntries entries;
    size_t start = 0;
    while (start < text.size() && entries.size() < service_host::kMaxEnvironmentEntries) {
        size_t end = text.find(static_cast<wchar_t>(service_host::kEnvironmentSeparator), start);
        if (end == std::wstring::npos) {
            end = text.size();
        }
        const std::wstring line = text.substr(start, end - start);
        const size_t equals = line.find(L'=');
        if (equals == std::wstring::npos || equals == 0) {
            logError(L"the service environment entry \"%s\" has no name; skipped", line.c_str());
        } else {
            entries.emplace_back(line.substr(0, equals), line.substr(equals + 1));
        }
        start = end + 1;
    }
    return entries;
}

size_t applyServiceEnvironment() {
    if (!configWideStrings.count(ids::kServiceEnvironment)) {
        return 0;
    }
    size_t set = 0;
    for (auto& [name, value] :
         parseServiceEnvironment(getConfigWideString(ids::kServiceEnvironment, kValueCapacity))) {
        expandVariables(value, false);
        if (SetEnvironmentVariableW(name.c_str(), value.c_str())) {
            ++set;
        } else {
            logError(L"SetEnvironmentVariableW %s failed with error %lu", name.c_str(), GetLastError());
        }
    }
    // The log decided at its first line whether to write: with MORIX_LOG among these it decides again.
    reconsiderLog();
    logMessage(L"the service environment set %d variables", static_cast<int>(set));
    return set;
}

} // namespace morix
