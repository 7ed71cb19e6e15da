// Harness self-check: a Windows program that never ends must be killed at the wrapper's time limit.
#include <windows.h>

int main() {
    for (;;) {
        Sleep(1000);
    }
}
