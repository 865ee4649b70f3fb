#pragma once
// Helpers for the zip tests: hand-built archives (for damaged and hostile ones),
// real outside tools, and a recorder of the reader's events.
#include <zlib.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/file_util.h"
#include "zip/zip_format.h"
#include "zip/zip_reader.h"

namespace talvane::ziptest {

namespace fs = std::filesystem;
inline constexpr const char* kPython = "/usr/bin/python3";

using testing::Exists;
using testing::ReadFile;
using testing::RunProgram;
using testing::WriteFile;

inline std::string RawDeflate(const std::string& data, int level = Z_DEFAULT_COMPRESSION) {
    z_stream zs{};
    deflateInit2(&zs, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&zs, data.size()), '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

inline std::uint32_t Crc(const std::string& d) {
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(d.data()), static_cast<uInt>(d.size())));
}

// One hand-built entry; the sizes and CRC default to the truth and can be overridden.
struct RawEntry {
    RawEntry(std::string n, std::string c, std::uint16_t m = 8, std::string p = {})
        : name(std::move(n)), content(std::move(c)), method(m), payload(std::move(p)) {}
    std::string name;
    std::string content;  // uncompressed
    std::uint16_t method = 8;
    std::string payload;  // bytes stored; empty: derived from content and method
    long long crc = -1, compSize = -1, size = -1;
    std::uint16_t madeBy = 20;
    std::uint32_t external = 0;
};

struct RawZip {
    std::vector<RawEntry> entries;
    std::string comment;
    std::uint16_t thisDisk = 0, centralDisk = 0;
    long long totalOverride = -1;

    std::string Build() const {
        std::string out, central;
        for (const auto& e : entries) {
            const std::string payload = !e.payload.empty()
                                            ? e.payload
                                            : (e.method == 8 ? RawDeflate(e.content) : e.content);
            zipfmt::LocalHeader lh;
            lh.method = e.method;
            lh.crc = e.crc >= 0 ? static_cast<std::uint32_t>(e.crc) : Crc(e.content);
            lh.compressedSize =
                static_cast<std::uint32_t>(e.compSize >= 0 ? e.compSize : payload.size());
            lh.uncompressedSize =
                static_cast<std::uint32_t>(e.size >= 0 ? e.size : e.content.size());
            lh.nameLength = static_cast<std::uint16_t>(e.name.size());
            zipfmt::CentralRecord cr;
            cr.versionMadeBy = e.madeBy;
            cr.method = lh.method;
            cr.crc = lh.crc;
            cr.compressedSize = lh.compressedSize;
            cr.uncompressedSize = lh.uncompressedSize;
            cr.nameLength = lh.nameLength;
            cr.externalAttr = e.external;
            cr.localOffset = static_cast<std::uint32_t>(out.size());
            unsigned char b[46];
            lh.Write(b);
            out.append(reinterpret_cast<char*>(b), 30).append(e.name).append(payload);
            cr.Write(b);
            central.append(reinterpret_cast<char*>(b), 46).append(e.name);
        }
        zipfmt::EndRecord end;
        end.thisDisk = thisDisk;
        end.centralDisk = centralDisk;
        end.entriesHere = end.entriesTotal = static_cast<std::uint16_t>(
            totalOverride >= 0 ? totalOverride : static_cast<long long>(entries.size()));
        end.centralSize = static_cast<std::uint32_t>(central.size());
        end.centralOffset = static_cast<std::uint32_t>(out.size());
        end.commentLength = static_cast<std::uint16_t>(comment.size());
        unsigned char b[22];
        end.Write(b);
        return out + central + std::string(reinterpret_cast<char*>(b), 22) + comment;
    }
};

// Everything the reader raised.
struct Recorder {
    std::vector<std::string> statuses;
    std::vector<std::pair<long, std::string>> errors;
    std::vector<long> percents;
    long cancelAt = -1;  // cancel when this percent is reached

    void Attach(ZipExtractionClass& z) {
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
inline std::map<std::string, std::string> Tree(const std::string& root, bool skipEmpty = false) {
    std::map<std::string, std::string> files;
    for (const auto& it : fs::recursive_directory_iterator(root)) {
        if (!it.is_regular_file() || (skipEmpty && it.file_size() == 0)) continue;
        files[fs::relative(it.path(), root).generic_string()] = ReadFile(it.path().string());
    }
    return files;
}

}  // namespace talvane::ziptest
