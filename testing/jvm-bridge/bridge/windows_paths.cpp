#include "windows_paths.h"

#include "winelib.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <vector>

namespace morix::bridge {
namespace {

// A path has at most this many components that do not exist yet.
constexpr int kMaxMissingComponents = 256;

// Wine's Unix name of an existing file or directory, with its symbolic links resolved; empty if none.
std::string existingUnixPath(const std::u16string& windowsPath) {
    char* unixName = wine_get_unix_file_name(windowsText(windowsPath));
    if (unixName == nullptr) {
        return {};
    }
    char resolved[PATH_MAX];
    bool exists = realpath(unixName, resolved) != nullptr;
    HeapFree(GetProcessHeap(), 0, unixName);
    return exists ? std::string(resolved) : std::string();
}

bool isSeparator(char16_t c) {
    return c == u'\\' || c == u'/';
}

bool isDriveRoot(const std::u16string& path) {
    return path.size() <= 3 && path.size() >= 2 && path[1] == u':';
}

} // namespace

std::u16string widen(std::string_view text, unsigned codePage) {
    if (text.empty()) {
        return {};
    }
    int size = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::u16string wide(static_cast<size_t>(std::max(size, 0)), u'\0');
    if (size > 0) {
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()),
                            reinterpret_cast<WCHAR*>(wide.data()), size);
    }
    return wide;
}

std::string toUtf8(std::u16string_view text) {
    if (text.empty()) {
        return {};
    }
    const WCHAR* data = reinterpret_cast<const WCHAR*>(text.data());
    int length = static_cast<int>(text.size());
    int size = WideCharToMultiByte(CP_UTF8, 0, data, length, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(std::max(size, 0)), '\0');
    if (size > 0) {
        WideCharToMultiByte(CP_UTF8, 0, data, length, utf8.data(), size, nullptr, nullptr);
    }
    return utf8;
}

std::string unixPathOf(std::u16string_view windowsPath) {
    std::u16string existing(windowsPath);
    std::vector<std::u16string> missing;
    while (!existing.empty() && missing.size() < kMaxMissingComponents) {
        std::string resolved = existingUnixPath(existing);
        if (!resolved.empty()) {
            for (auto component = missing.rbegin(); component != missing.rend(); ++component) {
                if (resolved.back() != '/') {
                    resolved += '/';
                }
                resolved += toUtf8(*component);
            }
            return resolved;
        }
        size_t cut = existing.find_last_of(u"\\/");
        if (isDriveRoot(existing) || existing == u".") {
            break;
        }
        if (cut == std::u16string::npos) {
            // The first component of a relative path: the rest hangs off the working directory.
            missing.push_back(existing);
            existing.assign(1, u'.');
            continue;
        }
        if (cut + 1 < existing.size()) {
            missing.push_back(existing.substr(cut + 1));
        }
        // Keep the separator of a drive root ("C:\"): "C:" alone means that drive's working directory.
        existing.resize(cut == 2 && existing[1] == u':' ? cut + 1 : cut);
        while (existing.size() > 3 && isSeparator(existing.back())) {
            existing.pop_back();
        }
    }
    // Nothing of it exists, not even its drive: keep the text, with Unix separators.
    std::string text = toUtf8(windowsPath);
    for (char& c : text) {
        if (c == '\\') {
            c = '/';
        }
    }
    return text;
}

std::string driveDirectory() {
    char* drive = wine_get_unix_file_name(L"C:\\");
    if (drive == nullptr) {
        return {};
    }
    std::string path = drive;
    HeapFree(GetProcessHeap(), 0, drive);
    while (!path.empty() && path.back() == '/') {
        path.pop_back();
    }
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

TextMapping ansiTextMapping() {
    return {
        // Paths come in the code page of the file functions, which a program may switch to OEM.
        [](std::string_view path) { return unixPathOf(widen(path, AreFileApisANSI() ? CP_ACP : CP_OEMCP)); },
        [](std::string_view text) { return toUtf8(widen(text, CP_ACP)); },
    };
}

TextMapping utf8TextMapping() {
    return {
        [](std::string_view path) { return unixPathOf(widen(path, CP_UTF8)); },
        [](std::string_view text) { return std::string(text); },
    };
}

} // namespace morix::bridge
