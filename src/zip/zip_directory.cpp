#include "zip/zip_directory.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "zip/zip_names.h"

namespace talvane::zipimpl {

using zipfmt::CentralRecord;
using zipfmt::EndRecord;
using zipfmt::LocalHeader;

namespace {

// The end record plus the longest comment it can carry.
constexpr long long kTailSize =
    static_cast<long long>(zipfmt::kEndSize) + static_cast<long long>(zipfmt::kMaxComment);

}  // namespace

long long Archive::FindEndRecord() const {
    if (fileSize < 4) return 0;
    const long long tailStart = std::max({0LL, fileSize - kTailSize, file.AtHandFrom()});
    std::vector<unsigned char> tail(static_cast<std::size_t>(fileSize - tailStart));
    if (file.ReadAt(tail.data(), tail.size(), tailStart) != static_cast<long long>(tail.size()))
        return 0;
    long long nearest = 0;
    for (long long i = static_cast<long long>(tail.size()) - 4; i >= 0; --i) {
        const unsigned char* p = tail.data() + i;
        if (zipfmt::Get32(p) != zipfmt::kEndSig) continue;
        if (nearest == 0) nearest = tailStart + i + 1;
        const long long avail = static_cast<long long>(tail.size()) - i;
        if (avail >= static_cast<long long>(zipfmt::kEndSize) &&
            i + static_cast<long long>(zipfmt::kEndSize) + zipfmt::Get16(p + 20) ==
                static_cast<long long>(tail.size()))
            return tailStart + i + 1;
    }
    return nearest;
}

bool Archive::ReadEnd(EndRecord& out) const {
    unsigned char b[zipfmt::kEndSize];
    if (file.ReadAt(b, sizeof b, endPosition - 1) != static_cast<long long>(sizeof b)) return false;
    out = EndRecord::Parse(b);
    unsigned char loc[zipfmt::kZip64LocatorSize];
    const long long locatorPos = endPosition - 1 - static_cast<long long>(sizeof loc);
    if (locatorPos < 0 ||
        file.ReadAt(loc, sizeof loc, locatorPos) != static_cast<long long>(sizeof loc) ||
        zipfmt::Get32(loc) != zipfmt::kZip64LocatorSig)
        return true;
    out.diskCount = zipfmt::Get32(loc + 16);
    const std::uint64_t at = zipfmt::Get64(loc + 8);
    unsigned char z[zipfmt::kZip64EndSize];
    if (at > static_cast<std::uint64_t>(fileSize) ||
        file.ReadAt(z, sizeof z, static_cast<long long>(at)) != static_cast<long long>(sizeof z) ||
        zipfmt::Get32(z) != zipfmt::kZip64EndSig)
        return false;
    out.TakeZip64(z);
    // Beyond the end it is as unreadable as at the end; counts stay signed.
    out.centralOffset = std::min(out.centralOffset, static_cast<std::uint64_t>(fileSize));
    constexpr auto kMost = static_cast<std::uint64_t>(std::numeric_limits<long long>::max());
    out.entriesTotal = std::min(out.entriesTotal, kMost);
    out.entriesHere = std::min(out.entriesHere, kMost);
    return true;
}

bool Archive::SpansDisks(const EndRecord& end) {
    return end.thisDisk != 0 || end.centralDisk != 0 || end.entriesHere != end.entriesTotal ||
           end.diskCount > 1;
}

void Archive::RaiseDamaged(Reporter& report, long long index) const {
    if (index == 0) {
        report.Error(kZipErrDamaged, "The end record of " + path + " is cut short");
        return;
    }
    report.Error(kZipErrDamaged, "The central directory of " + path + " is damaged at entry " +
                                     std::to_string(index));
}

bool Archive::ReadCentral(long long& pos, CentralEntry& entry) const {
    unsigned char b[zipfmt::kCentralSize];
    if (file.ReadAt(b, sizeof b, pos) != static_cast<long long>(sizeof b)) return false;
    CentralRecord& cr = entry.cr;
    cr = CentralRecord::Parse(b);
    if (cr.signature != zipfmt::kCentralSig) return false;
    // Name and extra field in one read; the name stays.
    std::string& bytes = entry.rawName;
    bytes.resize(static_cast<std::size_t>(cr.nameLength) + cr.extraLength);
    if (!bytes.empty() &&
        file.ReadAt(bytes.data(), bytes.size(), pos + 46) != static_cast<long long>(bytes.size()))
        return false;
    const std::string_view name = std::string_view(bytes).substr(0, cr.nameLength);
    const std::string_view extra = std::string_view(bytes).substr(cr.nameLength);
    if (!zipfmt::TakeZip64Fields(extra,
                                 {&cr.uncompressedSize, &cr.compressedSize, &cr.localOffset}))
        return false;
    entry.name = DecodeName(name, cr.flags, extra);
    bytes.resize(cr.nameLength);
    pos += static_cast<long long>(zipfmt::kCentralSize) + cr.nameLength + cr.extraLength +
           cr.commentLength;
    return pos <= fileSize;
}

LocalData Archive::ReadLocal(const CentralEntry& entry) const {
    using Status = LocalData::Status;
    LocalData out;
    const CentralRecord& cr = entry.cr;
    if (cr.localOffset > static_cast<std::uint64_t>(fileSize)) return {Status::BeyondEnd};
    const auto at = static_cast<long long>(cr.localOffset);
    // The header and, when it is the one meant, the very name of its central record.
    std::string head(zipfmt::kLocalSize + entry.rawName.size(), '\0');
    const long long got = file.ReadAt(head.data(), head.size(), at);
    const auto* p = reinterpret_cast<const unsigned char*>(head.data());
    if (got >= 4 && zipfmt::Get32(p) != zipfmt::kLocalSig) return {Status::Mismatch};
    if (got != static_cast<long long>(head.size())) return {Status::BeyondEnd};
    LocalHeader lh = LocalHeader::Parse(p);
    if (lh.nameLength != entry.rawName.size() ||
        head.compare(zipfmt::kLocalSize, std::string::npos, entry.rawName) != 0)
        out.status = Status::OtherName;
    const long long extraPos = at + static_cast<long long>(zipfmt::kLocalSize) + lh.nameLength;
    out.dataPos = extraPos + lh.extraLength;
    out.flags = lh.flags;
    // Streamed archives leave CRC and sizes to the central record.
    if (lh.flags & zipfmt::kFlagDataDescriptor) {
        out.crc = cr.crc;
        out.compSize = cr.compressedSize;
        return out;
    }
    if (lh.compressedSize == zipfmt::kZip64Marker || lh.uncompressedSize == zipfmt::kZip64Marker) {
        std::string extra(lh.extraLength, '\0');
        if (file.ReadAt(extra.data(), extra.size(), extraPos) !=
                static_cast<long long>(extra.size()) ||
            !zipfmt::TakeZip64Fields(extra, {&lh.uncompressedSize, &lh.compressedSize}))
            return {Status::Mismatch};
    }
    // Both records must tell of the same data: bytes spliced from another
    // version of the archive keep their own local header, whose CRC they pass.
    if (out.status == Status::Ok && (lh.crc != cr.crc || lh.compressedSize != cr.compressedSize ||
                                     lh.uncompressedSize != cr.uncompressedSize))
        out.status = Status::OtherData;
    out.crc = lh.crc;
    out.compSize = lh.compressedSize;
    return out;
}

// Each local header and its data belong to one entry only: records sharing
// bytes would unpack the same data over and over. Records that cannot be
// followed are left to the walk, which reports them.
bool Archive::RefuseOverlaps(const EndRecord& end, Reporter& report) const {
    struct Span {
        long long start, end;
        std::size_t entry;
    };
    std::vector<Span> spans;
    std::vector<std::string> names;
    long long pos = static_cast<long long>(end.centralOffset);
    CentralEntry entry;
    for (std::uint64_t i = 1; i <= end.entriesTotal && ReadCentral(pos, entry); ++i) {
        const LocalData local = ReadLocal(entry);
        const bool found = local.status == LocalData::Status::Ok ||
                           local.status == LocalData::Status::OtherName ||
                           local.status == LocalData::Status::OtherData;
        if (!found || local.dataPos > fileSize ||
            local.compSize > static_cast<std::uint64_t>(fileSize - local.dataPos))
            continue;
        spans.push_back({static_cast<long long>(entry.cr.localOffset),
                         local.dataPos + static_cast<long long>(local.compSize), names.size()});
        names.push_back(WithSlashes(entry.name));
    }
    std::sort(spans.begin(), spans.end(),
              [](const Span& a, const Span& b) { return a.start < b.start; });
    long long reach = -1;
    std::size_t holder = 0;
    for (const Span& s : spans) {
        if (s.start < reach) {
            report.Error(kZipErrOverlap, "Refused " + path + ": the entry " + names[s.entry] +
                                             " overlaps the entry " + names[holder] +
                                             " (invalid zip file with overlapped components, "
                                             "possible zip bomb)");
            return false;
        }
        reach = s.end;
        holder = s.entry;
    }
    return true;
}

}  // namespace talvane::zipimpl
