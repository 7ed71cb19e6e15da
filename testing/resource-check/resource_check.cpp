// morix-resource-check EXE: reads a launcher's resources the way Windows' own shell and loader do
// (version information, icons, the manifest's execution level) and prints what it found, one fact a
// line in UTF-8, for the tests to compare; and whether the header's checksum is the file's. Exit code 1 when
// a call fails.
#include "common/handles.h"

#include <windows.h>

#include <imagehlp.h>
#include <shellapi.h>

#include <string>
#include <vector>

namespace {

struct IconTraits {
    using Type = HICON;
    static Type invalid() { return nullptr; }
    static bool valid(Type h) { return h != nullptr; }
    static void close(Type h) { DestroyIcon(h); }
};
struct BitmapTraits {
    using Type = HBITMAP;
    static Type invalid() { return nullptr; }
    static bool valid(Type h) { return h != nullptr; }
    static void close(Type h) { DeleteObject(h); }
};
struct ActivationContextTraits {
    using Type = HANDLE;
    static Type invalid() { return INVALID_HANDLE_VALUE; }
    static bool valid(Type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(Type h) { ReleaseActCtx(h); }
};
using UniqueIcon = morix::UniqueResource<IconTraits>;
using UniqueBitmap = morix::UniqueResource<BitmapTraits>;
using UniqueActivationContext = morix::UniqueResource<ActivationContextTraits>;

int failures = 0;

void print(const std::string& line) {
    std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written,
              nullptr);
}

void failed(const char* call) {
    print(std::string(call) + " failed with error " + std::to_string(GetLastError()));
    ++failures;
}

std::string utf8(const wchar_t* text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    if (size > 1) {
        WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    }
    return out;
}

std::string version(DWORD ms, DWORD ls) {
    return std::to_string(HIWORD(ms)) + "." + std::to_string(LOWORD(ms)) + "." + std::to_string(HIWORD(ls)) +
           "." + std::to_string(LOWORD(ls));
}

void checkVersion(const wchar_t* file) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(file, &ignored);
    if (size == 0) {
        return failed("GetFileVersionInfoSizeW");
    }
    std::vector<char> block(size);
    if (!GetFileVersionInfoW(file, 0, size, block.data())) {
        return failed("GetFileVersionInfoW");
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) ||
        length < sizeof *fixed) {
        return failed("VerQueryValueW(\\)");
    }
    print("fixed file version " + version(fixed->dwFileVersionMS, fixed->dwFileVersionLS));
    print("fixed product version " + version(fixed->dwProductVersionMS, fixed->dwProductVersionLS));
    WORD* translation = nullptr;
    if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                        &length) ||
        length < 4) {
        return failed("VerQueryValueW(Translation)");
    }
    wchar_t table[16];
    wsprintfW(table, L"%04x%04x", translation[0], translation[1]);
    print("translation " + utf8(table));
    for (const wchar_t* key : {L"CompanyName", L"FileDescription", L"FileVersion", L"InternalName",
                               L"LegalCopyright", L"OriginalFilename", L"ProductName", L"ProductVersion"}) {
        std::wstring path = std::wstring(L"\\StringFileInfo\\") + table + L"\\" + key;
        wchar_t* value = nullptr;
        if (VerQueryValueW(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &length) && value) {
            print(utf8(key) + " = " + utf8(value));
        } else {
            print(utf8(key) + " missing");
        }
    }
}

int iconWidth(HICON icon) {
    ICONINFO info{};
    if (!GetIconInfo(icon, &info)) {
        return -1;
    }
    UniqueBitmap color(info.hbmColor);
    UniqueBitmap mask(info.hbmMask);
    BITMAP bitmap{};
    if (!GetObjectW(color ? color.get() : mask.get(), sizeof bitmap, &bitmap)) {
        return -1;
    }
    return bitmap.bmWidth;
}

void checkIcons(const wchar_t* file) {
    UINT count = ExtractIconExW(file, -1, nullptr, nullptr, 0);
    print("ExtractIconExW icons " + std::to_string(count));
    UniqueIcon large;
    UniqueIcon small;
    if (ExtractIconExW(file, 0, large.receive(), small.receive(), 1) == 0 || !large || !small) {
        return failed("ExtractIconExW");
    }
    print("ExtractIconExW large " + std::to_string(iconWidth(large.get())) + " small " +
          std::to_string(iconWidth(small.get())));

    morix::UniqueModule module(
        LoadLibraryExW(file, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    if (!module) {
        return failed("LoadLibraryExW");
    }
    for (int size : {16, 32, 48}) {
        UniqueIcon icon(
            static_cast<HICON>(LoadImageW(module.get(), MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, 0)));
        if (!icon) {
            return failed("LoadImageW");
        }
        print("LoadImageW " + std::to_string(size) + " gives " + std::to_string(iconWidth(icon.get())));
    }
}

void checkManifest(const wchar_t* file) {
    ACTCTXW request{};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.lpSource = file;
    request.lpResourceName = MAKEINTRESOURCEW(1);
    UniqueActivationContext context(CreateActCtxW(&request));
    if (!context) {
        return failed("CreateActCtxW");
    }
    ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION level{};
    SIZE_T needed = 0;
    if (!QueryActCtxW(0, context.get(), nullptr, RunlevelInformationInActivationContext, &level, sizeof level,
                      &needed)) {
        return failed("QueryActCtxW");
    }
    const char* names[] = {"unspecified", "asInvoker", "highestAvailable", "requireAdministrator"};
    print(std::string("execution level ") + (level.RunLevel < 4 ? names[level.RunLevel] : "unknown") +
          " ui access " + std::to_string(level.UiAccess));
}

// The loader ignores the checksum of programs, but tools that check images compare it.
void checkChecksum(wchar_t* file) {
    DWORD header = 0;
    DWORD computed = 0;
    if (MapFileAndCheckSumW(file, &header, &computed) != CHECKSUM_SUCCESS) {
        return failed("MapFileAndCheckSumW");
    }
    print(header == computed ? "checksum matches the file"
                             : "checksum " + std::to_string(header) + " in the header, " +
                                   std::to_string(computed) + " computed");
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        print("usage: morix-resource-check EXE");
        return 2;
    }
    checkVersion(argv[1]);
    checkIcons(argv[1]);
    checkManifest(argv[1]);
    checkChecksum(argv[1]);
    return failures == 0 ? 0 : 1;
}
