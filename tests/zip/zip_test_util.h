#pragma once
// Hand-built archives, outside tools and a recorder of the reader's events.
#include <zlib.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/file_util.h"
#include "zip/zip_reader.h"

namespace talvane::ziptest {

namespace fs = std::filesystem;
inline constexpr const char* kPython = "/usr/bin/python3";

using namespace testing;
using Longs = std::vector<long>;
using Files = std::map<std::string, std::string>;  // relative path -> content

// Raw deflate of `data` repeated `times` times, streamed: a gigabyte never sits in memory.
inline std::string RawDeflate(const std::string& data, unsigned long times = 1) {
    z_stream zs{};
    deflateInit2(&zs, Z_BEST_SPEED, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out, chunk(1 << 16, '\0');
    for (unsigned long i = 1; i <= times; ++i) {
        zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
        zs.avail_in = static_cast<uInt>(data.size());
        do {
            zs.next_out = reinterpret_cast<Bytef*>(chunk.data());
            zs.avail_out = static_cast<uInt>(chunk.size());
            deflate(&zs, i < times ? Z_NO_FLUSH : Z_FINISH);
            out.append(chunk.data(), chunk.size() - zs.avail_out);
        } while (zs.avail_out == 0);
    }
    deflateEnd(&zs);
    return out;
}

inline std::uint32_t Crc(const std::string& d) {
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(d.data()), static_cast<uInt>(d.size())));
}

// One hand-built entry; CRC, sizes and local offset default to the truth (-1).
struct RawEntry {
    RawEntry(const std::string& n, const std::string& c, std::uint16_t m = 8,
             const std::string& p = {}, long long r = -1, long long s = -1, long long o = -1)
        : name(n), content(c), method(m), payload(p), crc(r), size(s), offset(o) {}
    std::string name, content;  // content uncompressed
    std::uint16_t method;
    std::string payload;  // bytes stored; empty: derived from content and method
    long long crc, size, offset, compSize = -1;
    std::uint16_t madeBy = 20, flags = 0;  // flag 8: CRC and sizes follow the data, as streamed
    std::uint32_t external = 0;
    std::string extra;  // in both headers
};

// Little-endian fields of 2 and 4 bytes.
inline std::string Le(std::uint64_t v, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
}
inline const auto U16 = [](std::uint64_t v) { return Le(v, 2); };
inline const auto U32 = [](std::uint64_t v) { return Le(v, 4); };

struct RawZip {
    std::vector<RawEntry> entries;
    std::string comment;
    std::uint16_t thisDisk = 0;
    long long totalOverride = -1;
    bool zip64 = false;      // Zip64 end record and locator; the end record's fields all ones
    std::uint64_t base = 0;  // bytes the caller puts before the archive

    std::string Build() const {
        std::string out, central;
        const auto pick = [](long long v, std::uint64_t truth) {
            return v >= 0 ? static_cast<std::uint64_t>(v) : truth;
        };
        for (const auto& e : entries) {
            const std::string data = !e.payload.empty() ? e.payload
                                     : e.method == 8    ? RawDeflate(e.content)
                                                        : e.content;
            const std::string sums = U32(pick(e.crc, Crc(e.content))) +
                                     U32(pick(e.compSize, data.size())) +
                                     U32(pick(e.size, e.content.size()));
            const bool streamed = e.flags & 8;
            // From "version needed" to "extra length"; streamed, the local one has no CRC or sizes.
            const auto head = [&](const std::string& s) {
                return U16(20) + U16(e.flags) + U16(e.method) + U32(0) + s + U16(e.name.size()) +
                       U16(e.extra.size());
            };
            central += U32(0x02014B50) + U16(e.madeBy) + head(sums) + Le(0, 6) + U32(e.external) +
                       U32(pick(e.offset, base + out.size())) + e.name + e.extra;
            out += U32(0x04034B50) + head(streamed ? std::string(12, 0) : sums) + e.name + e.extra +
                   data + (streamed ? U32(0x08074B50) + sums : "");
        }
        const auto total = pick(totalOverride, entries.size());
        const std::uint64_t at = base + out.size(), ones = zip64 ? ~0ULL : 0;
        const std::string zip64End =
            !zip64 ? ""
                   : U32(0x06064B50) + Le(44, 8) + U32(45) + Le(0, 8) + Le(total, 8) +
                         Le(total, 8) + Le(central.size(), 8) + Le(at, 8) + U32(0x07064B50) +
                         U32(0) + Le(at + central.size(), 8) + U32(1);
        return out + central + zip64End + U32(0x06054B50) + U16(thisDisk) + U16(0) +
               U16(total | ones) + U16(total | ones) + U32(central.size() | ones) + U32(at | ones) +
               U16(comment.size()) + comment;
    }
};

// Everything the reader raised.
struct Recorder {
    std::vector<std::string> statuses;
    std::vector<std::pair<long, std::string>> errors;
    std::vector<long> percents;
    long cancelAt = -1;  // cancel when this percent is reached

    void Attach(ZipReader& z) {
        z.Status = [this](const std::string& t) { statuses.push_back(t); };
        z.ZipError = [this](long n, const std::string& d) { errors.emplace_back(n, d); };
        z.Progress = [this](long& p, bool& cancel) {
            percents.push_back(p);
            if (p == cancelAt) cancel = true;
        };
    }
    std::vector<long> Numbers() const {
        std::vector<long> n;
        for (const auto& e : errors) n.push_back(e.first);
        return n;
    }
};

// Regular files below root: relative path -> content. Empty files are left out when asked.
inline Files Tree(const std::string& root, bool skipEmpty = false) {
    Files files;
    const auto utf8 = [](const fs::path& p) {  // not the ANSI code page on Windows
        const std::u8string s = p.generic_u8string();
        return std::string(s.begin(), s.end());
    };
    for (const auto& it : fs::recursive_directory_iterator(root)) {
        if (!it.is_regular_file() || (skipEmpty && it.file_size() == 0)) continue;
        files[utf8(fs::relative(it.path(), root))] = ReadFile(utf8(it.path()));
    }
    return files;
}

}  // namespace talvane::ziptest
