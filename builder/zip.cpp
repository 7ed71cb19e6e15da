#include "zip.h"

#include <zlib.h>

#include <algorithm>
#include <fstream>

namespace morix::builder {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kLocalHeader = 0x04034B50;
constexpr uint32_t kCentralHeader = 0x02014B50;
constexpr uint32_t kEndOfCentralDirectory = 0x06054B50;
constexpr uint16_t kStored = 0;
constexpr uint16_t kDeflated = 8;
// Names are UTF-8 (general purpose flag bit 11).
constexpr uint16_t kUtf8Names = 0x0800;
// Zip 2.0 (deflate, directories), made on Unix so that unzip there applies the permissions below.
constexpr uint16_t kVersionNeeded = 20;
constexpr uint16_t kVersionMadeBy = 3 << 8 | 20;
constexpr uint32_t kMsDosDirectory = 0x10;
constexpr size_t kChunk = 1 << 20;
constexpr uint64_t kMaxOffset = 0xFFFFFFFFu;
constexpr size_t kMaxEntries = 0xFFFF;
constexpr size_t kMaxNameBytes = 0xFFFF;

void put16(std::string& out, uint16_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>(value >> 8);
}
void put32(std::string& out, uint32_t value) {
    put16(out, static_cast<uint16_t>(value & 0xFFFF));
    put16(out, static_cast<uint16_t>(value >> 16));
}
uint16_t get16(const std::string& in, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(in[at]) | static_cast<uint8_t>(in[at + 1]) << 8);
}
uint32_t get32(const std::string& in, size_t at) {
    return get16(in, at) | static_cast<uint32_t>(get16(in, at + 2)) << 16;
}

// Unix permissions in the upper half of the external attributes: programs and libraries executable.
uint32_t externalAttributes(const std::string& name) {
    if (name.ends_with("/")) {
        return 040755u << 16 | kMsDosDirectory;
    }
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
    const bool program = lower.ends_with(".exe") || lower.ends_with(".dll");
    return (program ? 0100755u : 0100644u) << 16;
}

struct Written {
    uint32_t crc = 0;
    uint64_t compressed = 0;
    uint64_t size = 0;
};

struct DeflateStream {
    z_stream z{};
    bool ready = false;
    ~DeflateStream() {
        if (ready) {
            deflateEnd(&z);
        }
    }
};

// Deflates the file's content onto `out` (raw deflate, as zip stores it).
bool deflateFile(const fs::path& source, std::ofstream& out, Written& written, std::string& problem) {
    std::ifstream in(source, std::ios::binary);
    if (!in) {
        problem = "cannot read " + source.string();
        return false;
    }
    DeflateStream stream;
    if (deflateInit2(&stream.z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) !=
        Z_OK) {
        problem = "cannot start the compression";
        return false;
    }
    stream.ready = true;
    std::vector<char> input(kChunk);
    std::vector<char> output(kChunk);
    written.crc = static_cast<uint32_t>(crc32(0, nullptr, 0));
    int flush = Z_NO_FLUSH;
    while (flush != Z_FINISH) {
        in.read(input.data(), static_cast<std::streamsize>(input.size()));
        const auto got = static_cast<size_t>(in.gcount());
        if (in.bad()) {
            problem = "cannot read " + source.string();
            return false;
        }
        flush = in.eof() ? Z_FINISH : Z_NO_FLUSH;
        written.crc = static_cast<uint32_t>(
            crc32(written.crc, reinterpret_cast<const Bytef*>(input.data()), static_cast<uInt>(got)));
        written.size += got;
        stream.z.next_in = reinterpret_cast<Bytef*>(input.data());
        stream.z.avail_in = static_cast<uInt>(got);
        do {
            stream.z.next_out = reinterpret_cast<Bytef*>(output.data());
            stream.z.avail_out = static_cast<uInt>(output.size());
            if (deflate(&stream.z, flush) == Z_STREAM_ERROR) {
                problem = "the compression of " + source.string() + " failed";
                return false;
            }
            const size_t produced = output.size() - stream.z.avail_out;
            out.write(output.data(), static_cast<std::streamsize>(produced));
            written.compressed += produced;
        } while (stream.z.avail_out == 0);
        if (written.size > kMaxOffset || written.compressed > kMaxOffset) {
            problem = source.string() + " is larger than 4 GB, more than a zip without zip64 records holds";
            return false;
        }
    }
    return static_cast<bool>(out);
}

// The fields that the local header and the central directory share, from "version needed" to the name's
// length.
void putEntryFields(std::string& out, size_t nameLength, uint16_t method, const DosTime& time,
                    const Written& w) {
    put16(out, kVersionNeeded);
    put16(out, kUtf8Names);
    put16(out, method);
    put16(out, time.time);
    put16(out, time.date);
    put32(out, w.crc);
    put32(out, static_cast<uint32_t>(w.compressed));
    put32(out, static_cast<uint32_t>(w.size));
    put16(out, static_cast<uint16_t>(nameLength));
}

std::string localHeader(const ZipEntry& entry, uint16_t method, const DosTime& time, const Written& w) {
    std::string header;
    put32(header, kLocalHeader);
    putEntryFields(header, entry.name.size(), method, time, w);
    put16(header, 0); // no extra field
    return header + entry.name;
}

} // namespace

DosTime dosTime(int64_t seconds) {
    seconds = std::max(seconds, kEarliestZipTime);
    // Days to a civil date in the proleptic Gregorian calendar (the usual era arithmetic).
    const int64_t days = seconds / 86400;
    const int64_t secondsOfDay = seconds % 86400;
    const int64_t z = days + 719468;
    const int64_t era = z / 146097;
    const int64_t dayOfEra = z - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t mp = (5 * dayOfYear + 2) / 153;
    const int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    // A DOS date ends with 2107; later times are kept at its last day.
    if (year > 2107) {
        return {static_cast<uint16_t>(23 << 11 | 59 << 5 | 29),
                static_cast<uint16_t>(127 << 9 | 12 << 5 | 31)};
    }
    DosTime t;
    t.time = static_cast<uint16_t>(secondsOfDay / 3600 << 11 | (secondsOfDay / 60 % 60) << 5 |
                                   (secondsOfDay % 60) / 2);
    t.date = static_cast<uint16_t>((year - 1980) << 9 | month << 5 | day);
    return t;
}

bool writeZip(const fs::path& file, std::vector<ZipEntry> entries, int64_t secondsSinceEpoch,
              std::string& problem) {
    std::sort(entries.begin(), entries.end(),
              [](const ZipEntry& a, const ZipEntry& b) { return a.name < b.name; });
    if (entries.size() > kMaxEntries) {
        problem = "the image has " + std::to_string(entries.size()) +
                  " entries; a zip without zip64 records holds " + std::to_string(kMaxEntries);
        return false;
    }
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) {
        problem = "cannot write " + file.string();
        return false;
    }
    const DosTime time = dosTime(secondsSinceEpoch);
    std::string central;
    uint64_t offset = 0;
    for (const ZipEntry& entry : entries) {
        if (entry.name.empty() || entry.name.size() > kMaxNameBytes) {
            problem = "an entry name of " + std::to_string(entry.name.size()) + " bytes";
            return false;
        }
        const bool directory = entry.source.empty();
        const uint16_t method = directory ? kStored : kDeflated;
        Written w;
        const std::string placeholder = localHeader(entry, method, time, w);
        out.write(placeholder.data(), static_cast<std::streamsize>(placeholder.size()));
        if (!directory) {
            if (!deflateFile(entry.source, out, w, problem)) {
                return false;
            }
            // The sizes and checksum are known only now: the header is written again in its place.
            out.seekp(static_cast<std::streamoff>(offset));
            const std::string header = localHeader(entry, method, time, w);
            out.write(header.data(), static_cast<std::streamsize>(header.size()));
            out.seekp(0, std::ios::end);
        }
        put32(central, kCentralHeader);
        put16(central, kVersionMadeBy);
        putEntryFields(central, entry.name.size(), method, time, w);
        put32(central, 0); // extra field and comment lengths
        put32(central, 0); // disk number and internal attributes
        put32(central, externalAttributes(entry.name));
        put32(central, static_cast<uint32_t>(offset));
        central += entry.name;
        offset += placeholder.size() + w.compressed;
        if (offset + central.size() > kMaxOffset) {
            problem = "the image is larger than 4 GB, more than a zip without zip64 records holds";
            return false;
        }
    }
    std::string end;
    put32(end, kEndOfCentralDirectory);
    put32(end, 0); // this disk, the disk of the central directory
    put16(end, static_cast<uint16_t>(entries.size()));
    put16(end, static_cast<uint16_t>(entries.size()));
    put32(end, static_cast<uint32_t>(central.size()));
    put32(end, static_cast<uint32_t>(offset));
    put16(end, 0);
    out.write(central.data(), static_cast<std::streamsize>(central.size()));
    out.write(end.data(), static_cast<std::streamsize>(end.size()));
    out.flush();
    if (!out) {
        problem = "cannot write " + file.string();
        return false;
    }
    return true;
}

std::optional<std::vector<std::string>> zipEntryNames(std::istream& in) {
    // The end record is in the last 22 bytes plus at most a 65535-byte comment.
    in.seekg(0, std::ios::end);
    const auto size = static_cast<uint64_t>(in.tellg());
    const uint64_t tailSize = std::min<uint64_t>(size, 22 + 0xFFFF);
    std::string tail(tailSize, '\0');
    in.seekg(static_cast<std::streamoff>(size - tailSize));
    if (!in.read(tail.data(), static_cast<std::streamsize>(tailSize)) || tailSize < 22) {
        return std::nullopt;
    }
    size_t at = tailSize - 22;
    while (get32(tail, at) != kEndOfCentralDirectory) {
        if (at == 0) {
            return std::nullopt;
        }
        --at;
    }
    const uint16_t count = get16(tail, at + 10);
    const uint32_t centralSize = get32(tail, at + 12);
    const uint32_t centralOffset = get32(tail, at + 16);
    if (count == 0xFFFF || centralOffset == 0xFFFFFFFFu || uint64_t{centralOffset} + centralSize > size) {
        return std::nullopt;
    }
    std::string central(centralSize, '\0');
    in.seekg(centralOffset);
    if (!in.read(central.data(), centralSize)) {
        return std::nullopt;
    }
    std::vector<std::string> names;
    size_t pos = 0;
    for (uint16_t i = 0; i < count; ++i) {
        if (pos + 46 > central.size() || get32(central, pos) != kCentralHeader) {
            return std::nullopt;
        }
        const size_t nameLength = get16(central, pos + 28);
        const size_t rest = nameLength + get16(central, pos + 30) + get16(central, pos + 32);
        if (pos + 46 + rest > central.size()) {
            return std::nullopt;
        }
        names.push_back(central.substr(pos + 46, nameLength));
        pos += 46 + rest;
    }
    return names;
}

} // namespace morix::builder
