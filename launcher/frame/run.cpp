#include "frame/run.h"

#include "config/extract.h"
#include "config/temp_cleanup.h"
#include "discovery/vm_library.h"
#include "frame/fatal.h"
#include "frame/log.h"
#include "frame/process_state.h"
#include "instance/single_instance.h"
#include "windows/JavaVMLauncher.h"
#include "windows/vm_thread.h"

#include "morix/message_ids.h"

namespace morix {

void runInProcess(const ArgumentList& arguments, bool ignoreConsoleEvents) {
    // Its start-up overlaps the extraction and the runtime search.
    prestartVmThread();
    if (extractFiles() != 0) {
        fatalErrorByIdNarrow(messages::kInternalError, "16");
    }
    setNativeLibraryPath();
    if (ignoreConsoleEvents) {
        logMessage(L"registering ConsoleCtrlHandler");
        SetConsoleCtrlHandler(consoleCtrlHandler, TRUE);
    }
    checkSingleInstance();
    if (LoadDLL(true) && launchProgram(arguments)) {
        // The VM is destroyed and no Java code runs any more.
        cleanUpAppTempDir();
        return;
    }
    exitLauncher(1);
}

} // namespace morix
