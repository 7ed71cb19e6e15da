// Little-endian fields of the payload and of PE images, at offsets the caller has checked against the
// bytes' size. The one place where the payload library turns bytes into numbers and back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace morix::payload {

template <typename T>
T readLittleEndian(std::string_view bytes, uint64_t offset) {
    uint64_t value = 0;
    for (size_t i = 0; i < sizeof(T); ++i) {
        value |= uint64_t{static_cast<uint8_t>(bytes[offset + i])} << (8 * i);
    }
    return static_cast<T>(value);
}

inline uint16_t readU16(std::string_view bytes, uint64_t offset) {
    return readLittleEndian<uint16_t>(bytes, offset);
}

inline uint32_t readU32(std::string_view bytes, uint64_t offset) {
    return readLittleEndian<uint32_t>(bytes, offset);
}

inline uint64_t readU64(std::string_view bytes, uint64_t offset) {
    return readLittleEndian<uint64_t>(bytes, offset);
}

template <typename T>
void writeLittleEndian(std::string& out, uint64_t offset, T value) {
    for (size_t i = 0; i < sizeof(T); ++i) {
        out[offset + i] = static_cast<char>((static_cast<uint64_t>(value) >> (8 * i)) & 0xFF);
    }
}

inline void writeU16(std::string& out, uint64_t offset, uint16_t value) {
    writeLittleEndian(out, offset, value);
}

inline void writeU32(std::string& out, uint64_t offset, uint32_t value) {
    writeLittleEndian(out, offset, value);
}

template <typename T>
void appendLittleEndian(std::string& out, T value) {
    out.resize(out.size() + sizeof(T));
    writeLittleEndian(out, out.size() - sizeof(T), value);
}

inline void appendU16(std::string& out, uint16_t value) {
    appendLittleEndian(out, value);
}

inline void appendU32(std::string& out, uint32_t value) {
    appendLittleEndian(out, value);
}

inline void appendU64(std::string& out, uint64_t value) {
    appendLittleEndian(out, value);
}

} // namespace morix::payload
