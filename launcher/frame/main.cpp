// The launcher template's entry point. Console subsystem with a WinMain-style entry; the arguments are
// not used: the launcher reads its full wide command line itself.
#include "frame/entry.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return morix::launcherMain();
}
