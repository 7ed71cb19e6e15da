// libFuzzer target for the payload library's readers: the payload format and the PE layout that
// locates it. Besides never failing on any input, a payload that reads must write back into bytes that
// read as the same payload.
#include "morix/payload.h"
#include "morix/pe_image.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

bool samePayload(const morix::payload::Payload& a, const morix::payload::Payload& b) {
    if (a.reserved1 != b.reserved1 || a.reserved2 != b.reserved2 || a.reserved3 != b.reserved3 ||
        a.strings != b.strings || a.wideStrings != b.wideStrings ||
        a.messageSets.size() != b.messageSets.size() || a.files.size() != b.files.size()) {
        return false;
    }
    for (size_t i = 0; i < a.messageSets.size(); ++i) {
        if (a.messageSets[i].locale != b.messageSets[i].locale ||
            a.messageSets[i].texts != b.messageSets[i].texts) {
            return false;
        }
    }
    for (size_t i = 0; i < a.files.size(); ++i) {
        if (a.files[i].name != b.files[i].name || a.files[i].content != b.files[i].content) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const morix::payload::ParseResult result = morix::payload::parse(bytes);
    if (result.payload) {
        if (result.end > size || result.filesOffset > result.end) {
            std::abort();
        }
        const morix::payload::ParseResult again =
            morix::payload::parse(morix::payload::serialize(*result.payload));
        if (!again.payload || !samePayload(*result.payload, *again.payload)) {
            std::abort();
        }
    } else if (result.error.empty()) {
        std::abort();
    }
    // The same bytes as a launcher template.
    std::string error;
    if (morix::payload::findPayloadStart(bytes, &error)) {
        if (!morix::payload::attachPayload(bytes, morix::payload::Payload{}, &error)) {
            std::abort();
        }
    } else if (error.empty()) {
        std::abort();
    }
    return 0;
}
