#include "morix/pe_image.h"

#include "little_endian.h"

#include <algorithm>

namespace morix::payload {
namespace {

constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;

template <typename T>
std::optional<T> failWith(std::string* error, const char* reason) {
    if (error) {
        *error = reason;
    }
    return std::nullopt;
}

// The file header and the section table: enough to know where the image ends.
std::optional<PeLayout> readFileHeaders(std::string_view image, std::string* error) {
    if (image.size() < 64 || image[0] != 'M' || image[1] != 'Z') {
        return failWith<PeLayout>(error, "not a PE file (no MZ header)");
    }
    const uint64_t peHeader = readU32(image, 0x3C);
    if (peHeader + 24 > image.size() || image.substr(peHeader, 4) != std::string_view("PE\0\0", 4)) {
        return failWith<PeLayout>(error, "not a PE file (no PE signature)");
    }
    PeLayout layout;
    layout.machine = readU16(image, peHeader + 4);
    layout.sections = readU16(image, peHeader + 6);
    layout.optionalHeader = peHeader + 24;
    layout.sectionTable = layout.optionalHeader + readU16(image, peHeader + 20);
    if (layout.sections == 0) {
        return failWith<PeLayout>(error, "PE file without sections");
    }
    if (layout.sectionTable + uint64_t{layout.sections} * kSectionHeaderSize > image.size()) {
        return failWith<PeLayout>(error, "PE section table runs past the end of the file");
    }
    uint64_t imageEnd = 0;
    uint64_t lastEnd = 0;
    for (const SectionHeader& s : readSectionHeaders(image, layout)) {
        lastEnd = uint64_t{s.rawOffset} + s.rawSize;
        imageEnd = std::max(imageEnd, s.rawSize == 0 ? 0 : lastEnd);
    }
    if (lastEnd > image.size()) {
        return failWith<PeLayout>(error, "PE file is shorter than its last section");
    }
    if (lastEnd < imageEnd) {
        return failWith<PeLayout>(
            error, "the last section header does not end the image: a payload there would overwrite it");
    }
    layout.imageEnd = lastEnd;
    return layout;
}

uint64_t directoryOffset(const PeLayout& layout, uint32_t index) {
    return layout.optionalHeader + (layout.pe32Plus ? 112 : 96) + uint64_t{index} * 8;
}

} // namespace

std::optional<uint64_t> findPayloadStart(std::string_view image, std::string* error) {
    std::optional<PeLayout> layout = readFileHeaders(image, error);
    if (!layout) {
        return std::nullopt;
    }
    return layout->imageEnd;
}

std::optional<PeLayout> readPeLayout(std::string_view image, std::string* error) {
    std::optional<PeLayout> layout = readFileHeaders(image, error);
    if (!layout) {
        return std::nullopt;
    }
    const uint64_t optionalSize = layout->sectionTable - layout->optionalHeader;
    const uint16_t magic = optionalSize >= 2 ? readU16(image, layout->optionalHeader) : 0;
    layout->pe32Plus = magic == kPe32PlusMagic;
    const uint64_t directories = layout->pe32Plus ? 112 : 96;
    if ((magic != kPe32Magic && magic != kPe32PlusMagic) || optionalSize < directories) {
        return failWith<PeLayout>(error, "not a PE image (no usable optional header)");
    }
    layout->sectionAlignment = readU32(image, layout->optionalHeader + 32);
    layout->fileAlignment = readU32(image, layout->optionalHeader + 36);
    layout->sizeOfHeaders = readU32(image, layout->optionalHeader + 60);
    layout->checksum = readU32(image, layout->optionalHeader + 64);
    const uint32_t count = readU32(image, layout->optionalHeader + (layout->pe32Plus ? 108 : 92));
    layout->numberOfDirectories =
        static_cast<uint32_t>(std::min<uint64_t>(count, (optionalSize - directories) / 8));
    return layout;
}

std::vector<SectionHeader> readSectionHeaders(std::string_view image, const PeLayout& layout) {
    std::vector<SectionHeader> sections;
    for (uint16_t i = 0; i < layout.sections; ++i) {
        const uint64_t h = layout.sectionTable + uint64_t{i} * kSectionHeaderSize;
        SectionHeader s;
        s.name = std::string(image.substr(h, 8));
        s.name.erase(std::find(s.name.begin(), s.name.end(), '\0'), s.name.end());
        s.virtualSize = readU32(image, h + 8);
        s.virtualAddress = readU32(image, h + 12);
        s.rawSize = readU32(image, h + 16);
        s.rawOffset = readU32(image, h + 20);
        s.rest = std::string(image.substr(h + 24, 16));
        sections.push_back(std::move(s));
    }
    return sections;
}

void writeSectionHeader(std::string& image, const PeLayout& layout, size_t index, const SectionHeader& s) {
    const uint64_t h = layout.sectionTable + index * kSectionHeaderSize;
    std::string name = s.name;
    name.resize(8, '\0');
    image.replace(h, 8, name);
    writeU32(image, h + 8, s.virtualSize);
    writeU32(image, h + 12, s.virtualAddress);
    writeU32(image, h + 16, s.rawSize);
    writeU32(image, h + 20, s.rawOffset);
    image.replace(h + 24, 16, s.rest);
}

DataDirectory dataDirectory(std::string_view image, const PeLayout& layout, uint32_t index) {
    if (index >= layout.numberOfDirectories) {
        return {};
    }
    return {readU32(image, directoryOffset(layout, index)),
            readU32(image, directoryOffset(layout, index) + 4)};
}

void setDataDirectory(std::string& image, const PeLayout& layout, uint32_t index, DataDirectory entry) {
    if (index < layout.numberOfDirectories) {
        writeU32(image, directoryOffset(layout, index), entry.address);
        writeU32(image, directoryOffset(layout, index) + 4, entry.size);
    }
}

bool isSigned(std::string_view image) {
    std::optional<PeLayout> layout = readPeLayout(image, nullptr);
    return layout && dataDirectory(image, *layout, kCertificateDirectory).size != 0;
}

void dropSignature(std::string& image) {
    if (std::optional<PeLayout> layout = readPeLayout(image, nullptr)) {
        setDataDirectory(image, *layout, kCertificateDirectory, {});
    }
}

uint32_t peChecksum(std::string_view file, const PeLayout& layout) {
    const uint64_t field = layout.optionalHeader + 64;
    uint64_t sum = 0;
    for (uint64_t i = 0; i < file.size(); i += 2) {
        if (i == field || i == field + 2) {
            continue;
        }
        uint32_t word = static_cast<uint8_t>(file[i]);
        if (i + 1 < file.size()) {
            word |= uint32_t{static_cast<uint8_t>(file[i + 1])} << 8;
        }
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum + file.size());
}

void refreshChecksum(std::string& file) {
    std::optional<PeLayout> layout = readPeLayout(file, nullptr);
    if (layout && layout->checksum != 0) {
        writeU32(file, layout->optionalHeader + 64, peChecksum(file, *layout));
    }
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
