#include "call_arguments.h"

namespace morix::bridge {
namespace {

// The index just after one field type that starts at `at`, or npos when none starts there.
size_t skipFieldType(std::string_view descriptor, size_t at) {
    while (at < descriptor.size() && descriptor[at] == '[') {
        ++at;
    }
    if (at >= descriptor.size()) {
        return std::string_view::npos;
    }
    switch (descriptor[at]) {
    case 'Z':
    case 'B':
    case 'C':
    case 'S':
    case 'I':
    case 'J':
    case 'F':
    case 'D':
        return at + 1;
    case 'L': {
        size_t end = descriptor.find(';', at);
        return end == std::string_view::npos || end == at + 1 ? std::string_view::npos : end + 1;
    }
    default:
        return std::string_view::npos;
    }
}

} // namespace

std::optional<std::string> parameterKinds(std::string_view descriptor) {
    if (descriptor.empty() || descriptor[0] != '(') {
        return std::nullopt;
    }
    std::string kinds;
    size_t at = 1;
    while (at < descriptor.size() && descriptor[at] != ')') {
        size_t next = skipFieldType(descriptor, at);
        if (next == std::string_view::npos) {
            return std::nullopt;
        }
        kinds += descriptor[at] == '[' ? 'L' : descriptor[at];
        at = next;
    }
    if (at >= descriptor.size()) {
        return std::nullopt;
    }
    // The return type: V or one field type, and nothing after it.
    if (at + 2 == descriptor.size() && descriptor[at + 1] == 'V') {
        return kinds;
    }
    return skipFieldType(descriptor, at + 1) == descriptor.size() ? std::optional(kinds) : std::nullopt;
}

std::vector<jvalue> readWindowsArguments(std::string_view kinds, WindowsVaList& arguments) {
    std::vector<jvalue> values(kinds.size());
    for (size_t i = 0; i < kinds.size(); ++i) {
        jvalue& value = values[i];
        switch (kinds[i]) {
        case 'Z':
            value.z = static_cast<jboolean>(__builtin_va_arg(arguments, int));
            break;
        case 'B':
            value.b = static_cast<jbyte>(__builtin_va_arg(arguments, int));
            break;
        case 'C':
            value.c = static_cast<jchar>(__builtin_va_arg(arguments, int));
            break;
        case 'S':
            value.s = static_cast<jshort>(__builtin_va_arg(arguments, int));
            break;
        case 'I':
            value.i = __builtin_va_arg(arguments, jint);
            break;
        case 'J':
            value.j = __builtin_va_arg(arguments, long long);
            break;
        case 'F':
            value.f = static_cast<jfloat>(__builtin_va_arg(arguments, double));
            break;
        case 'D':
            value.d = __builtin_va_arg(arguments, double);
            break;
        default:
            value.l = __builtin_va_arg(arguments, jobject);
            break;
        }
    }
    return values;
}

} // namespace morix::bridge
