#include "zip/zip_directory.h"

#include <algorithm>
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
    const long long tailStart = std::max(0LL, fileSize - kTailSize);
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
    return true;
}

void Archive::RaiseDamaged(Reporter& report, long long index) const {
    if (index == 0) {
        report.Error(kZipErrDamaged, "The end record of " + path + " is cut short");
        return;
    }
    report.Error(kZipErrDamaged, "The central directory of " + path + " is damaged at entry " +
                                     std::to_string(index));
}

bool Archive::ReadCentral(long long& pos, CentralRecord& cr, std::string& name) const {
    unsigned char b[zipfmt::kCentralSize];
    if (file.ReadAt(b, sizeof b, pos) != static_cast<long long>(sizeof b)) return false;
    cr = CentralRecord::Parse(b);
    if (cr.signature != zipfmt::kCentralSig) return false;
    name.assign(cr.nameLength, '\0');
    if (cr.nameLength > 0 && file.ReadAt(name.data(), name.size(), pos + 46) != cr.nameLength)
        return false;
    pos += static_cast<long long>(zipfmt::kCentralSize) + cr.nameLength + cr.extraLength +
           cr.commentLength;
    return pos <= fileSize;
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
    long long pos = end.centralOffset;
    CentralRecord cr;
    std::string name;
    for (long long i = 1; i <= end.entriesTotal && ReadCentral(pos, cr, name); ++i) {
        unsigned char hb[zipfmt::kLocalSize];
        if (file.ReadAt(hb, sizeof hb, cr.localOffset) != static_cast<long long>(sizeof hb))
            continue;
        const LocalHeader lh = LocalHeader::Parse(hb);
        if (lh.signature != zipfmt::kLocalSig) continue;
        const long long size =
            (lh.flags & zipfmt::kFlagDataDescriptor) ? cr.compressedSize : lh.compressedSize;
        const long long dataEnd = static_cast<long long>(cr.localOffset) +
                                  static_cast<long long>(zipfmt::kLocalSize) + lh.nameLength +
                                  lh.extraLength + size;
        if (dataEnd > fileSize) continue;
        spans.push_back({cr.localOffset, dataEnd, names.size()});
        names.push_back(WithSlashes(name));
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
