// Harness self-check: a Windows program that crashes must fail its test.
#include <cstdio>

int main() {
    std::puts("about to crash");
    volatile int* nowhere = nullptr;
    *nowhere = 1;
    return 0;
}
