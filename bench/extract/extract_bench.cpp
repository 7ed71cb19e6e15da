// Extraction against CopyFileW: this program carries included files in its own payload (bench/run builds
// one copy per set of files with morix-build) and measures, pair by pair, the launcher's extractFiles of
// them against CopyFileW of the same bytes, each into a fresh directory of the temporary root.
// usage: extract-bench.exe NAME PAIRS REFERENCE_DIRECTORY   (the directory holds the files unmasked)
#include "../driver/figures.h"
#include "common/handles.h"
#include "common/text.h"
#include "config/extract.h"
#include "config/payload.h"
#include "config/temp_cleanup.h"
#include "config/temp_root.h"

#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

using namespace morix;
using namespace morix::bench;

namespace {

double nowMs() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

std::vector<std::wstring> filesOf(const std::wstring& directory) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    UniqueFindHandle find(FindFirstFileW((directory + L"\\*").c_str(), &entry));
    for (bool more = find.valid(); more && names.size() < 100000; more = FindNextFileW(find.get(), &entry)) {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            names.push_back(entry.cFileName);
        }
    }
    return names;
}

// The copy side writes its files into one flat directory.
void removeCopies(const std::wstring& directory) {
    for (const std::wstring& name : filesOf(directory)) {
        DeleteFileW((directory + L"\\" + name).c_str());
    }
    RemoveDirectoryW(directory.c_str());
}

// The copy side: a fresh directory, as extraction makes one, and CopyFileW of every file into it.
double copyAll(const std::wstring& reference, const std::vector<std::wstring>& names,
               const std::wstring& target) {
    const double start = nowMs();
    CreateDirectoryW(target.c_str(), nullptr);
    for (const std::wstring& name : names) {
        if (!CopyFileW((reference + L"\\" + name).c_str(), (target + L"\\" + name).c_str(), FALSE)) {
            std::printf("  CopyFileW of %ls failed (error %lu)\n", name.c_str(), GetLastError());
        }
    }
    return nowMs() - start;
}

double extractAll() {
    const double start = nowMs();
    const int result = extractFiles();
    const double ms = nowMs() - start;
    if (result != 0) {
        std::printf("  extractFiles failed with %d\n", result);
    }
    // Removed as a run removes it at its end.
    cleanUpAppTempDir();
    return ms;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: extract-bench.exe NAME PAIRS REFERENCE_DIRECTORY\n");
        return 2;
    }
    const std::wstring name = argv[1];
    const int pairCount = std::max(1, _wtoi(argv[2]));
    const std::wstring reference = argv[3];
    loadPayload();
    const std::vector<std::wstring> names = filesOf(reference);
    std::wstring target = getTempRootWide(false);
    if (!target.empty() && target.back() == L'\\') {
        target.pop_back();
    }
    target += L"\\morix-bench-copy";
    Pairs pairs;
    for (int i = -1; i < pairCount; ++i) {
        const double copy = copyAll(reference, names, target);
        removeCopies(target);
        const double extract = extractAll();
        if (i >= 0) {
            pairs.add(copy, extract);
        }
    }
    const Spread throughput = spreadOf(pairs.ratios());
    printPairs("extract " + std::string(name.begin(), name.end()) + ": extractFiles vs CopyFileW", pairs);
    std::printf("  throughput extractFiles/CopyFileW: median %.2f [%.2f, %.2f]\n", 1 / throughput.median,
                1 / throughput.max, 1 / throughput.min);
    return 0;
}
