#include "inspect.h"

#include "encoding.h"

#include "morix/text_encoding.h"

#include <cstdio>

namespace morix::builder {
namespace {

// A value in double quotes, with control characters and quotes escaped so that one entry stays on
// one line.
std::string quoted(std::string_view utf8) {
    return quotedText(utf8, [](unsigned char b) {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\x%02X", b);
        return std::string(escape);
    });
}

} // namespace

void printPayload(std::ostream& out, const payload::Payload& p, uint64_t offset) {
    out << "payload at offset " << offset << "\n";
    out << "strings (" << p.strings.size() << "):\n";
    for (const auto& [id, value] : p.strings) {
        out << "  " << id << " = " << quoted(payload::cp1252ToUtf8(value)) << "\n";
    }
    out << "wide strings (" << p.wideStrings.size() << "):\n";
    for (const auto& [id, value] : p.wideStrings) {
        out << "  " << id << " = " << quoted(payload::utf16ToUtf8(value)) << "\n";
    }
    out << "message sets (" << p.messageSets.size() << "):\n";
    for (const payload::MessageSet& set : p.messageSets) {
        out << "  " << quoted(payload::cp1252ToUtf8(set.locale)) << " (" << set.texts.size() << " texts)\n";
        for (const auto& [id, text] : set.texts) {
            out << "    " << id << " = " << quoted(payload::utf16ToUtf8(text)) << "\n";
        }
    }
    out << "included files (" << p.files.size() << "):\n";
    for (const payload::IncludedFile& file : p.files) {
        out << "  " << payload::cp1252ToUtf8(file.name) << " (" << file.content.size() << " bytes)\n";
    }
}

} // namespace morix::builder
