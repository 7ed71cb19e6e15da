// Owners for Win32 and C runtime resources: each kind of handle has exactly one close path.
#pragma once

#include <windows.h>

#include <cstdio>
#include <utility>

namespace morix {

template <typename Traits>
class UniqueResource {
public:
    using Type = typename Traits::Type;

    UniqueResource() = default;
    explicit UniqueResource(Type value) : value_(value) {}
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    ~UniqueResource() { reset(); }

    Type get() const { return value_; }
    bool valid() const { return Traits::valid(value_); }
    explicit operator bool() const { return valid(); }

    // Gives up ownership, for resources that must outlive their owner (a module that stays loaded).
    Type release() { return std::exchange(value_, Traits::invalid()); }

    void reset(Type value = Traits::invalid()) {
        Type old = std::exchange(value_, value);
        if (Traits::valid(old)) {
            Traits::close(old);
        }
    }

    // For APIs that return the handle through an out parameter.
    Type* receive() {
        reset();
        return &value_;
    }

private:
    Type value_ = Traits::invalid();
};

struct KernelHandleTraits {
    using Type = HANDLE;
    static Type invalid() { return nullptr; }
    static bool valid(Type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(Type h) { CloseHandle(h); }
};

struct FindHandleTraits {
    using Type = HANDLE;
    static Type invalid() { return INVALID_HANDLE_VALUE; }
    static bool valid(Type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(Type h) { FindClose(h); }
};

struct RegistryKeyTraits {
    using Type = HKEY;
    static Type invalid() { return nullptr; }
    static bool valid(Type h) { return h != nullptr; }
    static void close(Type h) { RegCloseKey(h); }
};

struct ModuleTraits {
    using Type = HMODULE;
    static Type invalid() { return nullptr; }
    static bool valid(Type h) { return h != nullptr; }
    static void close(Type h) { FreeLibrary(h); }
};

struct ServiceHandleTraits {
    using Type = SC_HANDLE;
    static Type invalid() { return nullptr; }
    static bool valid(Type h) { return h != nullptr; }
    static void close(Type h) { CloseServiceHandle(h); }
};

struct CFileTraits {
    using Type = std::FILE*;
    static Type invalid() { return nullptr; }
    static bool valid(Type f) { return f != nullptr; }
    static void close(Type f) { std::fclose(f); }
};

struct MappedViewTraits {
    using Type = const void*;
    static Type invalid() { return nullptr; }
    static bool valid(Type view) { return view != nullptr; }
    static void close(Type view) { UnmapViewOfFile(view); }
};

using UniqueHandle = UniqueResource<KernelHandleTraits>;
using UniqueFindHandle = UniqueResource<FindHandleTraits>;
using UniqueRegKey = UniqueResource<RegistryKeyTraits>;
using UniqueModule = UniqueResource<ModuleTraits>;
using UniqueServiceHandle = UniqueResource<ServiceHandleTraits>;
using UniqueFile = UniqueResource<CFileTraits>;
using UniqueMappedView = UniqueResource<MappedViewTraits>;

// Exported functions looked up at run time, typed at the one place that names them.
template <typename Function>
Function lookupFunction(HMODULE module, const char* name) {
    if (module == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

} // namespace morix
