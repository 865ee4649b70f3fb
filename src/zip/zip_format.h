#pragma once
// Byte layouts of the zip records the reader and the writer share, and of the
// Zip64 records the reader follows. Everything little-endian, no padding.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string_view>

namespace talvane::zipfmt {

inline constexpr std::uint32_t kLocalSig = 0x04034B50;
inline constexpr std::uint32_t kCentralSig = 0x02014B50;
inline constexpr std::uint32_t kEndSig = 0x06054B50;
inline constexpr std::uint32_t kZip64EndSig = 0x06064B50;
inline constexpr std::uint32_t kZip64LocatorSig = 0x07064B50;

inline constexpr std::size_t kLocalSize = 30;
inline constexpr std::size_t kCentralSize = 46;
inline constexpr std::size_t kEndSize = 22;
inline constexpr std::size_t kZip64EndSize = 56;
inline constexpr std::size_t kZip64LocatorSize = 20;
inline constexpr std::size_t kMaxComment = 65535;

inline constexpr std::uint16_t kMethodStored = 0;
inline constexpr std::uint16_t kMethodDeflated = 8;
inline constexpr std::uint16_t kMethodAes = 99;
inline constexpr std::uint16_t kFlagEncrypted = 0x0001;
inline constexpr std::uint16_t kFlagDataDescriptor = 0x0008;
inline constexpr std::uint16_t kFlagStrongEncryption = 0x0040;
inline constexpr std::uint16_t kFlagUtf8 = 0x0800;
inline constexpr std::uint16_t kExtraZip64 = 0x0001;
inline constexpr std::uint16_t kExtraUnicodePath = 0x7075;
// A 32-bit size or offset with all bits set stands for its Zip64 field.
inline constexpr std::uint32_t kZip64Marker = 0xFFFFFFFF;
inline constexpr unsigned kHostUnix = 3;

inline std::uint16_t Get16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t Get32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t Get64(const unsigned char* p) {
    return Get32(p) | (static_cast<std::uint64_t>(Get32(p + 4)) << 32);
}
inline void Put16(unsigned char* p, std::uint16_t v) {
    p[0] = static_cast<unsigned char>(v & 0xFF);
    p[1] = static_cast<unsigned char>(v >> 8);
}
inline void Put32(unsigned char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>((v >> (8 * i)) & 0xFF);
}

// The end record; the reader widens its fields to take a Zip64 end record's values.
struct EndRecord {
    std::uint32_t thisDisk = 0;
    std::uint32_t centralDisk = 0;
    std::uint64_t entriesHere = 0;
    std::uint64_t entriesTotal = 0;
    std::uint64_t centralSize = 0;
    std::uint64_t centralOffset = 0;
    std::uint16_t commentLength = 0;
    std::uint32_t diskCount = 1;  // from a Zip64 locator

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
    // Takes the Zip64 end record's fields (`p` at its signature).
    void TakeZip64(const unsigned char* p) {
        thisDisk = Get32(p + 16);
        centralDisk = Get32(p + 20);
        entriesHere = Get64(p + 24);
        entriesTotal = Get64(p + 32);
        centralSize = Get64(p + 40);
        centralOffset = Get64(p + 48);
    }
    // The writer keeps every field within its 16 or 32 bits.
    void Write(unsigned char* p) const {
        Put32(p, kEndSig);
        Put16(p + 4, static_cast<std::uint16_t>(thisDisk));
        Put16(p + 6, static_cast<std::uint16_t>(centralDisk));
        Put16(p + 8, static_cast<std::uint16_t>(entriesHere));
        Put16(p + 10, static_cast<std::uint16_t>(entriesTotal));
        Put32(p + 12, static_cast<std::uint32_t>(centralSize));
        Put32(p + 16, static_cast<std::uint32_t>(centralOffset));
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
    std::uint64_t compressedSize = 0;  // 64 bits once a Zip64 field is taken
    std::uint64_t uncompressedSize = 0;
    std::uint16_t nameLength = 0;
    std::uint16_t extraLength = 0;
    std::uint16_t commentLength = 0;
    std::uint16_t diskStart = 0;
    std::uint16_t internalAttr = 0;
    std::uint32_t externalAttr = 0;
    std::uint64_t localOffset = 0;

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
        Put32(p + 20, static_cast<std::uint32_t>(compressedSize));
        Put32(p + 24, static_cast<std::uint32_t>(uncompressedSize));
        Put16(p + 28, nameLength);
        Put16(p + 30, extraLength);
        Put16(p + 32, commentLength);
        Put16(p + 34, diskStart);
        Put16(p + 36, internalAttr);
        Put32(p + 38, externalAttr);
        Put32(p + 42, static_cast<std::uint32_t>(localOffset));
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
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
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
        Put32(p + 18, static_cast<std::uint32_t>(compressedSize));
        Put32(p + 22, static_cast<std::uint32_t>(uncompressedSize));
        Put16(p + 26, nameLength);
        Put16(p + 28, extraLength);
    }
};

// The data of extra field `id` within `extra`; nullopt when absent or cut short.
inline std::optional<std::string_view> FindExtra(std::string_view extra, std::uint16_t id) {
    while (extra.size() >= 4) {
        const auto* p = reinterpret_cast<const unsigned char*>(extra.data());
        const std::size_t len = Get16(p + 2);
        if (len > extra.size() - 4) return std::nullopt;
        if (Get16(p) == id) return extra.substr(4, len);
        extra.remove_prefix(4 + len);
    }
    return std::nullopt;
}

// Replaces each of `fields` that holds kZip64Marker by the next 8 bytes of the Zip64
// extra field, in the order given; false when that field is too short. Without one,
// the values stand as they are (older writers filled a field to the last bit).
inline bool TakeZip64Fields(std::string_view extra, std::initializer_list<std::uint64_t*> fields) {
    const std::optional<std::string_view> zip64 = FindExtra(extra, kExtraZip64);
    if (!zip64) return true;
    std::size_t at = 0;
    for (std::uint64_t* field : fields) {
        if (*field != kZip64Marker) continue;
        if (zip64->size() < at + 8) return false;
        *field = Get64(reinterpret_cast<const unsigned char*>(zip64->data()) + at);
        at += 8;
    }
    return true;
}

}  // namespace talvane::zipfmt
