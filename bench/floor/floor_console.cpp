// The floor of a console command: a program that prints one line, as the launcher's usage does, and ends.
#include <cstdio>

int main() {
    std::printf("Usage: floor-console.exe /help\n");
    std::fflush(stdout);
    return 0;
}
