#pragma once
// Byte layouts of the three zip records the reader and the writer share.
// Everything little-endian, no padding.
#include <cstddef>
#include <cstdint>

namespace talvane::zipfmt {

inline constexpr std::uint32_t kLocalSig = 0x04034B50;
inline constexpr std::uint32_t kCentralSig = 0x02014B50;
inline constexpr std::uint32_t kEndSig = 0x06054B50;

inline constexpr std::size_t kLocalSize = 30;
inline constexpr std::size_t kCentralSize = 46;
inline constexpr std::size_t kEndSize = 22;
inline constexpr std::size_t kMaxComment = 65535;

inline constexpr std::uint16_t kMethodStored = 0;
inline constexpr std::uint16_t kMethodDeflated = 8;
inline constexpr std::uint16_t kFlagEncrypted = 0x0001;
inline constexpr std::uint16_t kFlagDataDescriptor = 0x0008;
inline constexpr unsigned kHostUnix = 3;

inline std::uint16_t Get16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t Get32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void Put16(unsigned char* p, std::uint16_t v) {
    p[0] = static_cast<unsigned char>(v & 0xFF);
    p[1] = static_cast<unsigned char>(v >> 8);
}
inline void Put32(unsigned char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>((v >> (8 * i)) & 0xFF);
}

struct EndRecord {
    std::uint16_t thisDisk = 0;
    std::uint16_t centralDisk = 0;
    std::uint16_t entriesHere = 0;
    std::uint16_t entriesTotal = 0;
    std::uint32_t centralSize = 0;
    std::uint32_t centralOffset = 0;
    std::uint16_t commentLength = 0;

    static EndRecord Parse(const unsigned char* p) {
        EndRecord r;
        r.thisDisk = Get16(p + 4);
        r.centralDisk = Get16(p + 6);
        r.entriesHere = Get16(p + 8);
        r.entriesTotal = Get16(p + 10);
        r.centralSize = Get32(p + 12);
        r.centralOffset = Get32(p + 16);
        r.commentLength = Get16(p + 20);
        return r;
    }
    void Write(unsigned char* p) const {
        Put32(p, kEndSig);
        Put16(p + 4, thisDisk);
        Put16(p + 6, centralDisk);
        Put16(p + 8, entriesHere);
        Put16(p + 10, entriesTotal);
        Put32(p + 12, centralSize);
        Put32(p + 16, centralOffset);
        Put16(p + 20, commentLength);
    }
};

struct CentralRecord {
    std::uint32_t signature = kCentralSig;
    std::uint16_t versionMadeBy = 20;
    std::uint16_t versionNeeded = 20;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint16_t modTime = 0;
    std::uint16_t modDate = 0;
    std::uint32_t crc = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t uncompressedSize = 0;
    std::uint16_t nameLength = 0;
    std::uint16_t extraLength = 0;
    std::uint16_t commentLength = 0;
    std::uint16_t diskStart = 0;
    std::uint16_t internalAttr = 0;
    std::uint32_t externalAttr = 0;
    std::uint32_t localOffset = 0;

    static CentralRecord Parse(const unsigned char* p) {
        CentralRecord r;
        r.signature = Get32(p);
        r.versionMadeBy = Get16(p + 4);
        r.versionNeeded = Get16(p + 6);
        r.flags = Get16(p + 8);
        r.method = Get16(p + 10);
        r.modTime = Get16(p + 12);
        r.modDate = Get16(p + 14);
        r.crc = Get32(p + 16);
        r.compressedSize = Get32(p + 20);
        r.uncompressedSize = Get32(p + 24);
        r.nameLength = Get16(p + 28);
        r.extraLength = Get16(p + 30);
        r.commentLength = Get16(p + 32);
        r.diskStart = Get16(p + 34);
        r.internalAttr = Get16(p + 36);
        r.externalAttr = Get32(p + 38);
        r.localOffset = Get32(p + 42);
        return r;
    }
    void Write(unsigned char* p) const {
        Put32(p, signature);
        Put16(p + 4, versionMadeBy);
        Put16(p + 6, versionNeeded);
        Put16(p + 8, flags);
        Put16(p + 10, method);
        Put16(p + 12, modTime);
        Put16(p + 14, modDate);
        Put32(p + 16, crc);
        Put32(p + 20, compressedSize);
        Put32(p + 24, uncompressedSize);
        Put16(p + 28, nameLength);
        Put16(p + 30, extraLength);
        Put16(p + 32, commentLength);
        Put16(p + 34, diskStart);
        Put16(p + 36, internalAttr);
        Put32(p + 38, externalAttr);
        Put32(p + 42, localOffset);
    }
};

struct LocalHeader {
    std::uint32_t signature = kLocalSig;
    std::uint16_t versionNeeded = 20;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint16_t modTime = 0;
    std::uint16_t modDate = 0;
    std::uint32_t crc = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t uncompressedSize = 0;
    std::uint16_t nameLength = 0;
    std::uint16_t extraLength = 0;

    static LocalHeader Parse(const unsigned char* p) {
        LocalHeader r;
        r.signature = Get32(p);
        r.versionNeeded = Get16(p + 4);
        r.flags = Get16(p + 6);
        r.method = Get16(p + 8);
        r.modTime = Get16(p + 10);
        r.modDate = Get16(p + 12);
        r.crc = Get32(p + 14);
        r.compressedSize = Get32(p + 18);
        r.uncompressedSize = Get32(p + 22);
        r.nameLength = Get16(p + 26);
        r.extraLength = Get16(p + 28);
        return r;
    }
    void Write(unsigned char* p) const {
        Put32(p, signature);
        Put16(p + 4, versionNeeded);
        Put16(p + 6, flags);
        Put16(p + 8, method);
        Put16(p + 10, modTime);
        Put16(p + 12, modDate);
        Put32(p + 14, crc);
        Put32(p + 18, compressedSize);
        Put32(p + 22, uncompressedSize);
        Put16(p + 26, nameLength);
        Put16(p + 28, extraLength);
    }
};

}  // namespace talvane::zipfmt
