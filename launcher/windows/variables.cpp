#include "windows/variables.h"

#include "config/extract.h"
#include "config/paths.h"
#include "config/temp_root.h"
#include "discovery/vm_library.h"
#include "frame/log.h"

#include <windows.h>

#include <memory>

namespace morix {
namespace {

// Far above any real environment block; the walk over it is bounded like every other loop.
constexpr int kMaxEnvironmentEntries = 100000;

// A launcher variable's value: narrow values are widened through the ANSI code page when they go into
// wide text.
struct Value {
    bool narrow = false;
    std::string narrowText;
    std::wstring wideText;
};

Value narrowValue(std::string text) {
    return {true, std::move(text), {}};
}

Value wideValue(std::wstring text) {
    return {false, {}, std::move(text)};
}

template <typename String>
void cutTo(String& text, size_t capacity, bool& cut) {
    if (text.size() >= capacity) {
        text.resize(capacity == 0 ? 0 : capacity - 1);
        cut = true;
    }
}

// The single pass shared by the three forms; `logReplacement` writes the "expanding2" line.
template <typename String, typename Log>
bool replaceEvery(String& text, std::basic_string_view<typename String::value_type> name, const String& value,
                  size_t capacity, Log logReplacement) {
    bool cut = false;
    if (name.empty()) {
        return cut;
    }
    size_t position = text.find(name);
    while (position != String::npos) {
        text.replace(position, name.size(), value);
        cutTo(text, capacity, cut);
        logReplacement();
        // The inserted value is not searched again by this pass; later passes do see it.
        position += value.size();
        if (position >= text.size()) {
            break;
        }
        position = text.find(name, position);
    }
    return cut;
}

bool replaceWithValue(std::wstring& text, std::wstring_view name, const Value& value, size_t capacity) {
    return value.narrow ? replaceAll(text, name, std::string_view(value.narrowText), capacity)
                        : replaceAll(text, name, std::wstring_view(value.wideText), capacity);
}

template <typename Char>
std::basic_string<Char> upperAscii(std::basic_string<Char> text) {
    for (Char& c : text) {
        if (c >= Char('a') && c <= Char('z')) {
            c = static_cast<Char>(c - Char('a') + Char('A'));
        }
    }
    return text;
}

struct FreeWideEnvironment {
    void operator()(wchar_t* block) const { FreeEnvironmentStringsW(block); }
};

struct FreeNarrowEnvironment {
    void operator()(char* block) const { FreeEnvironmentStringsA(block); }
};

// Calls visit(name, value) for every "name=value" entry of the block, in block order. The name ends at
// the first "=", so a per-drive entry "=C:=C:\dir" has the empty name and the value "C:=C:\dir".
template <typename Char, typename Visit>
void forEachEnvironmentEntry(const Char* block, Visit visit) {
    if (block == nullptr) {
        return;
    }
    const Char* entry = block;
    for (int count = 0; *entry != Char(0) && count < kMaxEnvironmentEntries; ++count) {
        std::basic_string_view<Char> text(entry);
        size_t equals = text.find(Char('='));
        if (equals != std::basic_string_view<Char>::npos) {
            visit(text.substr(0, equals), text.substr(equals + 1));
        }
        entry += text.size() + 1;
    }
}

// The environment variables in "${name}" form, exactly and then with the name upper-cased.
bool expandEnvironment(std::wstring& text, size_t capacity) {
    bool cut = false;
    std::unique_ptr<wchar_t, FreeWideEnvironment> block(GetEnvironmentStringsW());
    forEachEnvironmentEntry<wchar_t>(block.get(), [&](std::wstring_view name, std::wstring_view value) {
        std::wstring pattern = L"${" + std::wstring(name) + L"}";
        cut |= replaceAll(text, pattern, value, capacity);
        cut |= replaceAll(text, upperAscii(pattern), value, capacity);
    });
    return cut;
}

bool expandEnvironment(std::string& text, size_t capacity) {
    bool cut = false;
    std::unique_ptr<char, FreeNarrowEnvironment> block(GetEnvironmentStringsA());
    forEachEnvironmentEntry<char>(block.get(), [&](std::string_view name, std::string_view value) {
        std::string pattern = "${" + std::string(name) + "}";
        cut |= replaceAll(text, pattern, value, capacity);
        cut |= replaceAll(text, upperAscii(pattern), value, capacity);
    });
    return cut;
}

enum ValueIndex { kDirectory, kTempDirectory, kSeparator, kJvmHome, kTempRoot };

// The launcher variables in the order of their passes; a value that holds a later pass's name is
// expanded by that pass.
struct FixedPass {
    const wchar_t* name;
    ValueIndex value;
};

constexpr FixedPass kFixedPasses[] = {
    {L"%MORIX_EXEDIR%", kDirectory},
    {L"%VANTAROCK_EXEDIR%", kDirectory},
    {L"%MORIX_TEMPDIR%", kTempDirectory},
    {L"%VANTAROCK_TEMPDIR%", kTempDirectory},
    {L"%MORIX_PATHLIST_SEPARATOR%", kSeparator},
    {L"%VANTAROCK_PATHLIST_SEPARATOR%", kSeparator},
    {L"%MORIX_JVM_HOME%", kJvmHome},
    {L"%VANTAROCK_JVM_HOME%", kJvmHome},
    {L"${MORIX_EXEDIR}", kDirectory},
    {L"${VANTAROCK_EXEDIR}", kDirectory},
    {L"${MORIX_TEMPDIR}", kTempDirectory},
    {L"${VANTAROCK_TEMPDIR}", kTempDirectory},
    {L"${MORIX_PATHLIST_SEPARATOR}", kSeparator},
    {L"${VANTAROCK_PATHLIST_SEPARATOR}", kSeparator},
    {L"${MORIX_JVM_HOME}", kJvmHome},
    {L"${VANTAROCK_JVM_HOME}", kJvmHome},
    {L"${launcher:sys.launcherDirectory}", kDirectory},
    {L"${launcher:sys.launcherTempDirectory}", kTempDirectory},
    {L"${launcher:sys.pathlistSeparator}", kSeparator},
    {L"${launcher:sys.jvmHome}", kJvmHome},
    {L"${launcher:sys.tempDir}", kTempRoot},
};

void logCut(size_t capacity) {
    logError(L"expanded text cut to %d characters", static_cast<int>(capacity == 0 ? 0 : capacity - 1));
}

} // namespace

bool replaceAll(std::wstring& text, std::wstring_view name, std::wstring_view value, size_t capacity) {
    const std::wstring inserted(value);
    return replaceEvery(text, name, inserted, capacity, [&] {
        logMessage(L"expanding2 %s to %s in %s.", std::wstring(name).c_str(), inserted.c_str(), text.c_str());
    });
}

bool replaceAll(std::wstring& text, std::wstring_view name, std::string_view value, size_t capacity) {
    const std::string narrowValueText(value);
    return replaceEvery(text, name, narrowToWide(value), capacity, [&] {
        logMessage(L"expanding2 %s to %S in %s.", std::wstring(name).c_str(), narrowValueText.c_str(),
                   text.c_str());
    });
}

bool replaceAll(std::string& text, std::string_view name, std::string_view value, size_t capacity) {
    const std::string inserted(value);
    return replaceEvery(text, name, inserted, capacity, [&] {
        logMessage(L"expanding2 %S to %S in %S.", std::string(name).c_str(), inserted.c_str(), text.c_str());
    });
}

void expandVariables(std::wstring& text, bool narrowSafe, size_t capacity) {
    Value values[] = {
        narrowSafe ? narrowValue(resolvePath("")) : wideValue(resolvePathWide(L"", false)),
        narrowValue(appTempDir),
        wideValue(L";"),
        narrowValue(jvmHome),
        {},
    };
    bool cut = false;
    for (const FixedPass& pass : kFixedPasses) {
        // The temporary root (one pass) is searched for only when a text refers to it: the search can
        // end the process, and an expansion that does not need it must not.
        if (pass.value == kTempRoot) {
            if (text.find(pass.name) == std::wstring::npos) {
                continue;
            }
            values[kTempRoot] = narrowSafe ? narrowValue(getTempRoot()) : wideValue(getTempRootWide(true));
        }
        cut |= replaceWithValue(text, pass.name, values[pass.value], capacity);
    }
    cut |= expandEnvironment(text, capacity);
    if (cut) {
        logCut(capacity);
    }
}

void expandVariablesNarrow(std::string& text, size_t capacity) {
    std::string values[] = {resolvePath(""), appTempDir, ";", jvmHome, {}};
    bool cut = false;
    for (const FixedPass& pass : kFixedPasses) {
        // The names are plain ASCII: their narrow form is the same text.
        const std::string name = narrowBytes(pass.name);
        if (pass.value == kTempRoot) {
            if (text.find(name) == std::string::npos) {
                continue;
            }
            values[kTempRoot] = getTempRoot();
        }
        cut |= replaceAll(text, name, values[pass.value], capacity);
    }
    cut |= expandEnvironment(text, capacity);
    if (cut) {
        logCut(capacity);
    }
}

} // namespace morix
