// A launcher template for the builder's tests on any host: the smallest 32-bit PE image the builder
// accepts.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace morix::test {

// A 32-bit PE image of two sections without resources, with 0x80 bytes of "symbol table" after them.
inline std::string fakeTemplate(bool signed_ = false) {
    std::string image(0x580, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    uint32_t pe = 0x80;
    std::memcpy(&image[0x3C], &pe, 4);
    std::memcpy(&image[pe], "PE\0\0", 4);
    uint16_t machine = 0x14C, sections = 2, optional = 0xE0, magic = 0x10B;
    std::memcpy(&image[pe + 4], &machine, 2);
    std::memcpy(&image[pe + 6], &sections, 2);
    std::memcpy(&image[pe + 20], &optional, 2);
    const uint32_t opt = pe + 24;
    const uint32_t fields[][2] = {{32, 0x1000}, {36, 0x200}, {56, 0x3000}, {60, 0x200}, {92, 16}};
    std::memcpy(&image[opt], &magic, 2);
    for (const auto& [offset, value] : fields) {
        std::memcpy(&image[opt + offset], &value, 4);
    }
    if (signed_) {
        const uint32_t certificates[2] = {0x580, 0x80};
        std::memcpy(&image[opt + 96 + 8 * 4], certificates, 8);
    }
    uint32_t table = opt + optional;
    uint32_t raw[2][4] = {{0x200, 0x1000, 0x200, 0x200}, {0x100, 0x2000, 0x100, 0x400}};
    for (int i = 0; i < 2; ++i) {
        std::memcpy(&image[table + 40 * i + 8], raw[i], 16);
    }
    std::memset(&image[0x500], 'S', 0x80);
    return image;
}

} // namespace morix::test
