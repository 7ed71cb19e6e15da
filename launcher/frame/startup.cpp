#include "frame/startup.h"

#include "config/extract.h"
#include "config/payload.h"

namespace morix {

char launcherFlavour = '\0';

void initLauncher() {
    // A fatal error during start-up must remove nothing.
    appTempDir.clear();
    loadPayload();
    launcherFlavour = getConfigString(2001, 2)[0];
}

} // namespace morix
