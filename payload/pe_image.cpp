#include "morix/pe_image.h"

#include "morix/pe_resources.h"

#include <algorithm>

namespace morix::payload {
namespace {

uint32_t readU32(std::string_view image, size_t offset) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
        v |= static_cast<uint32_t>(static_cast<uint8_t>(image[offset + i])) << (8 * i);
    }
    return v;
}

uint16_t readU16(std::string_view image, size_t offset) {
    return static_cast<uint16_t>(static_cast<uint8_t>(image[offset]) |
                                 (static_cast<uint8_t>(image[offset + 1]) << 8));
}

constexpr size_t kSectionHeaderSize = 40;

} // namespace

std::optional<uint64_t> findPayloadStart(std::string_view image, std::string* error) {
    auto fail = [error](const char* reason) -> std::optional<uint64_t> {
        if (error) {
            *error = reason;
        }
        return std::nullopt;
    };
    if (image.size() < 64 || image[0] != 'M' || image[1] != 'Z') {
        return fail("not a PE file (no MZ header)");
    }
    uint64_t peHeader = readU32(image, 0x3C);
    if (peHeader + 24 > image.size() || image.substr(peHeader, 4) != std::string_view("PE\0\0", 4)) {
        return fail("not a PE file (no PE signature)");
    }
    uint16_t sections = readU16(image, peHeader + 6);
    uint16_t optionalHeaderSize = readU16(image, peHeader + 20);
    if (sections == 0) {
        return fail("PE file without sections");
    }
    uint64_t table = peHeader + 24 + optionalHeaderSize;
    if (table + uint64_t{sections} * kSectionHeaderSize > image.size()) {
        return fail("PE section table runs past the end of the file");
    }
    uint64_t imageEnd = 0;
    uint64_t lastEnd = 0;
    for (uint16_t i = 0; i < sections; ++i) {
        uint64_t header = table + uint64_t{i} * kSectionHeaderSize;
        uint64_t rawSize = readU32(image, header + 16);
        uint64_t rawOffset = readU32(image, header + 20);
        uint64_t end = rawSize == 0 ? 0 : rawOffset + rawSize;
        imageEnd = std::max(imageEnd, end);
        if (i + 1 == sections) {
            lastEnd = rawOffset + rawSize;
        }
    }
    if (lastEnd > image.size()) {
        return fail("PE file is shorter than its last section");
    }
    if (lastEnd < imageEnd) {
        return fail("the last section header does not end the image: a payload there would overwrite it");
    }
    return lastEnd;
}

std::optional<std::string> attachPayload(std::string_view templateImage, const Payload& payload,
                                         std::string* error) {
    std::optional<uint64_t> start = findPayloadStart(templateImage, error);
    if (!start) {
        return std::nullopt;
    }
    std::string launcher(templateImage.substr(0, static_cast<size_t>(*start)));
    launcher += serialize(payload);
    // The checksum covers the whole file, the payload included.
    refreshChecksum(launcher);
    return launcher;
}

} // namespace morix::payload
