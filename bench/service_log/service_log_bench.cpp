// The service host's output log against a child that writes its file itself: the same child program
// writes 100 MB of lines to its standard output, once into a file it was handed, once into the host's
// pipe, which the host's own reading code writes to a rotating service log (10 MB files, 5 kept). Pairs
// are measured A B A B ...; the ratio of each pair, their median, minimum and maximum are printed.
//
//   service-log-bench.exe WORKDIR PAIRS       the figures
//   service-log-bench.exe --writer MEGABYTES  the child: writes the lines to its standard output
#include "common/handles.h"
#include "common/process.h"
#include "service/service_log.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using namespace morix;

namespace {

constexpr DWORD kTimeoutMs = 10 * 60 * 1000;

int writeLines(int megabytes) {
    std::string chunk;
    for (int i = 0; chunk.size() < 64 * 1024 - 100; ++i) {
        chunk += "a line of service output, number " + std::to_string(i) + ", as an application prints it\n";
    }
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    const unsigned long long total = static_cast<unsigned long long>(megabytes) << 20;
    for (unsigned long long written = 0; written < total;) {
        DWORD n = 0;
        if (!WriteFile(out, chunk.data(), static_cast<DWORD>(chunk.size()), &n, nullptr) || n == 0) {
            return 1;
        }
        written += n;
    }
    return 0;
}

std::wstring ownPath() {
    std::wstring path(MAX_PATH * 4, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path;
}

double nowMs() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The writer with its standard output on `output`; the time until it has ended.
double runWriter(HANDLE output, const std::function<void()>& whileRunning = {}) {
    ProcessStart start;
    start.commandLine = L"\"" + ownPath() + L"\" --writer 100";
    start.inheritHandles = true;
    start.standardHandles = true;
    start.output = output;
    start.error = output;
    const double begin = nowMs();
    SystemError error;
    ChildProcess child = startProcess(start, error);
    if (!child) {
        std::fprintf(stderr, "%s failed with error %lu\n", error.call, error.code);
        return 0;
    }
    if (whileRunning) {
        whileRunning();
    }
    WaitForSingleObject(child.process.get(), kTimeoutMs);
    return nowMs() - begin;
}

double direct(const std::wstring& work) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const std::wstring file = work + L"\\direct.log";
    UniqueHandle out(CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    const double ms = runWriter(out.get());
    out.reset();
    DeleteFileW(file.c_str());
    return ms;
}

// Through a pipe into the host's reader and log, until the log holds everything.
double throughHost(const std::wstring& work) {
    const std::wstring logs = work + L"\\logs";
    for (int n = 0; n <= 5; ++n) {
        DeleteFileW(serviceLogFile(logs, n).c_str());
    }
    ServiceLog log({logs, 10 << 20, 5, false});
    Pipe pipe;
    if (createPipe(pipe, ChildEnd::Write, kLoggedOutputPipeSize) || !log.open()) {
        std::fprintf(stderr, "no pipe or log\n");
        return 0;
    }
    UniqueHandle readEnd = std::move(pipe.read);
    std::thread reader([&] { pumpOutput(readEnd.get(), &log); });
    const double begin = nowMs();
    runWriter(pipe.write.get(), [&] { pipe.write.reset(); });
    reader.join();
    return nowMs() - begin;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && std::wstring(argv[1]) == L"--writer") {
        return writeLines(_wtoi(argv[2]));
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: service-log-bench WORKDIR [PAIRS]\n");
        return 2;
    }
    const std::wstring work = argv[1];
    const int pairs = argc > 2 ? std::max(1, _wtoi(argv[2])) : 5;
    std::vector<double> ratios;
    double directTotal = 0, hostTotal = 0;
    for (int i = 0; i < pairs; ++i) {
        const double a = direct(work);
        const double b = throughHost(work);
        directTotal += a;
        hostTotal += b;
        if (a > 0 && b > 0) {
            ratios.push_back(b / a);
        }
    }
    std::sort(ratios.begin(), ratios.end());
    if (ratios.empty()) {
        std::printf("service output log, 100 MB: no figures\n");
        return 1;
    }
    std::printf("service output log, 100 MB: through the host vs the child's own file: ratio median %.2f "
                "(min %.2f, max %.2f), %.0f ms vs %.0f ms on average, %d pairs\n",
                ratios[ratios.size() / 2], ratios.front(), ratios.back(), hostTotal / pairs,
                directTotal / pairs, pairs);
    return 0;
}
