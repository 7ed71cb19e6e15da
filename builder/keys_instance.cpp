// [instance]: how many instances may run at once.
#include "key_converters.h"
#include "key_sections.h"

#include "morix/config_ids.h"

namespace morix::builder {

std::vector<Key> instanceKeys() {
    return {
        flagKey("instance", "single", ids::kSingleInstance,
                "Admit one running instance: a second start ends at once with exit code 0."),
        flagKey("instance", "global", ids::kGlobalSemaphore,
                "Count instances across all log-on sessions (Global\\ semaphore) instead of per session."),
        flagKey("instance", "raise_windows", ids::kRaiseWindows,
                "With single, bring the running instance's windows to the front before the second "
                "start ends."),
    };
}

} // namespace morix::builder
