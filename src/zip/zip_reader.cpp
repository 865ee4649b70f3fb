#include "zip/zip_reader.h"

#include <zlib.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "common/event_pump.h"
#include "common/files.h"
#include "common/log.h"
#include "common/strings.h"
#include "zip/zip_format.h"
#include "platform/file_io.h"
#include "zip/zip_zlib.h"

namespace talvane {

using zipfmt::CentralRecord;
using zipfmt::EndRecord;
using zipfmt::LocalHeader;

namespace {

constexpr std::size_t kBufferSize = 256 * 1024;
// The end record plus the longest comment it can carry.
constexpr long long kTailSize = static_cast<long long>(zipfmt::kEndSize + zipfmt::kMaxComment);
// Deflate cannot expand its input more than about 1032 times, so an archive
// never honestly unpacks to more than this many times its own size.
constexpr long long kMaxExpansion = 1032;

// i / total * 100, rounded to the nearest whole number, halves to even.
long RoundedPercent(long long i, long long total) {
    if (total <= 0) return 0;
    const long long num = i * 100;
    long long q = num / total;
    const long long twice = 2 * (num % total);
    if (twice > total || (twice == total && (q % 2) != 0)) ++q;
    return static_cast<long>(q);
}

std::string JoinForText(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

std::string WithSlashes(std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

// Splits an entry name at '/' and '\'. Empty and "." components are dropped.
// nullopt for names that could land outside the destination or are no file name:
// a leading separator, a drive letter, a ".." component, a NUL byte, no last component.
std::optional<std::vector<std::string>> SplitSafeName(const std::string& name) {
    if (name.empty() || name.front() == '/' || name.front() == '\\') return std::nullopt;
    if (name.size() >= 2 && name[1] == ':') return std::nullopt;
    if (name.find('\0') != std::string::npos) return std::nullopt;
    const char last = name.back();
    if (last == '/' || last == '\\') return std::nullopt;
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find_first_of("/\\", start);
        if (end == std::string::npos) end = name.size();
        std::string part = name.substr(start, end - start);
        if (part == "..") return std::nullopt;
        if (!part.empty() && part != ".") parts.push_back(std::move(part));
        start = end + 1;
    }
    if (parts.empty()) return std::nullopt;
    return parts;
}

// Permission bits for a new file: the recorded Unix bits without set-id, sticky or
// group/other write; otherwise the default. The process umask applies on top.
unsigned FileMode(const CentralRecord& cr) {
    const unsigned host = cr.versionMadeBy >> 8;
    const unsigned bits = (cr.externalAttr >> 16) & 0777u;
    if (host == zipfmt::kHostUnix && bits != 0) return bits & ~022u;
    return 0644;
}

// What became of one entry.
enum class Outcome { Done, Refused, Fatal };

// Where an entry's bytes go: a file beside its target, or memory.
class EntrySink {
  public:
    virtual ~EntrySink() = default;
    virtual bool Put(const void* data, std::size_t len) = 0;
};

class TempFileSink : public EntrySink {
  public:
    explicit TempFileSink(fileio::Destination& dest) : dest_(dest) {}
    bool Put(const void* data, std::size_t len) override { return dest_.WriteTemp(data, len); }

  private:
    fileio::Destination& dest_;
};

class MemorySink : public EntrySink {
  public:
    explicit MemorySink(std::string& out) : out_(out) {}
    bool Put(const void* data, std::size_t len) override {
        out_.append(static_cast<const char*>(data), len);
        return true;
    }

  private:
    std::string& out_;
};

}  // namespace

struct ZipExtractionClass::Impl {
    explicit Impl(ZipExtractionClass& o) : owner(o) {}

    ZipExtractionClass& owner;
    fileio::ReadOnlyFile file;
    fileio::Destination dest;
    std::string path;
    long long endPosition = 0;  // 1-based position of the end record; 0: none open
    long long fileSize = 0;
    std::vector<unsigned char> inBuf;
    std::vector<unsigned char> outBuf;
    long long budget = 0;  // bytes the running walk may still produce

    void RaiseStatus(const std::string& text) {
        if (owner.Status) owner.Status(text);
    }
    void RaiseError(long number, const std::string& text) {
        if (owner.ZipError) owner.ZipError(number, text);
    }

    void EnsureBuffers() {
        if (inBuf.empty()) inBuf.resize(kBufferSize);
        if (outBuf.empty()) outBuf.resize(kBufferSize);
    }

    // The signature nearest the end whose record ends exactly at the end of the file;
    // when none does, the nearest one at all. 0 when there is none.
    long long FindEndRecord() {
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

    bool ReadEnd(EndRecord& out) {
        unsigned char b[zipfmt::kEndSize];
        if (file.ReadAt(b, sizeof b, endPosition - 1) != static_cast<long long>(sizeof b))
            return false;
        out = EndRecord::Parse(b);
        return true;
    }

    void RaiseDamaged(long long index) {
        if (index == 0) {
            RaiseError(kZipErrDamaged, "The end record of " + path + " is cut short");
            return;
        }
        RaiseError(kZipErrDamaged, "The central directory of " + path + " is damaged at entry " +
                                       std::to_string(index));
    }

    // Reads the central record at `pos`; false when it is cut short or not a central record.
    bool ReadCentral(long long& pos, CentralRecord& cr, std::string& name) {
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

    // Streams one entry's data into `out` (or nowhere when out < 0), checking what it must.
    Outcome StreamEntry(const CentralRecord& cr, const std::string& shownName, EntrySink* out,
                        bool checkStored) {
        unsigned char hb[zipfmt::kLocalSize];
        const long long localPos = cr.localOffset;
        const long long got = file.ReadAt(hb, sizeof hb, localPos);
        if (got != static_cast<long long>(sizeof hb)) {
            if (got >= 4 && zipfmt::Get32(hb) != zipfmt::kLocalSig) return Outcome::Refused;
            RaiseError(kZipErrDamaged,
                       "The data of " + shownName + " lies beyond the end of " + path);
            return Outcome::Refused;
        }
        LocalHeader lh = LocalHeader::Parse(hb);
        if (lh.signature != zipfmt::kLocalSig) return Outcome::Refused;  // silently, as ever
        // Streamed archives leave these to the central record.
        if (lh.flags & zipfmt::kFlagDataDescriptor) {
            lh.crc = cr.crc;
            lh.compressedSize = cr.compressedSize;
        }
        const long long dataPos =
            localPos + static_cast<long long>(zipfmt::kLocalSize) + lh.nameLength + lh.extraLength;
        const long long compSize = lh.compressedSize;

        if (cr.method != zipfmt::kMethodStored && cr.method != zipfmt::kMethodDeflated) {
            std::string localName(lh.nameLength, '\0');
            const long long n = file.ReadAt(localName.data(), localName.size(), localPos + 30);
            localName.resize(static_cast<std::size_t>(std::max(0LL, n)));
            RaiseError(kZipErrMethod,
                       "The compression Method for " + localName + " is unsupported");
            return Outcome::Refused;
        }
        // Encrypted data cannot be read without the password: a stored entry would
        // otherwise be written out scrambled, with no check to notice.
        if ((cr.flags | lh.flags) & zipfmt::kFlagEncrypted) {
            RaiseError(kZipErrEncrypted, "The file " + shownName + " is encrypted");
            return Outcome::Refused;
        }
        if (compSize == 0) {
            RaiseError(kZipErrDamaged, "The archive " + path + " holds no data for " + shownName);
            return Outcome::Fatal;
        }
        if (dataPos + compSize > fileSize) {
            RaiseError(kZipErrDamaged,
                       "The data of " + shownName + " lies beyond the end of " + path);
            return Outcome::Refused;
        }
        // Only lies about sizes can exhaust the budget; each entry is charged
        // before a byte of it is produced.
        const long long yield = cr.method == zipfmt::kMethodStored
                                    ? compSize
                                    : static_cast<long long>(cr.uncompressedSize);
        if (yield > budget) {
            RaiseError(kZipErrSizeMismatch,
                       "The entry " + shownName + " would take " + path + " past " +
                           std::to_string(kMaxExpansion * fileSize) +
                           " bytes unpacked, more than its size allows (possible zip bomb)");
            return Outcome::Refused;
        }
        budget -= yield;
        EnsureBuffers();
        if (cr.method == zipfmt::kMethodStored)
            return CopyStored(dataPos, compSize, lh.crc, shownName, out, checkStored);
        return InflateEntry(dataPos, compSize, cr.uncompressedSize, lh.crc, shownName, out);
    }

    Outcome ReadFailed(const std::string& shownName) {
        RaiseError(kZipErrDamaged, "Can't read the data of " + shownName + " from " + path);
        return Outcome::Refused;
    }
    Outcome WriteFailed(const std::string& shownName) {
        RaiseError(kZipErrWriteFailed, "Can't write the file " + shownName);
        return Outcome::Fatal;
    }

    Outcome CopyStored(long long pos, long long size, std::uint32_t expectedCrc,
                       const std::string& shownName, EntrySink* out, bool checkCrc) {
        uLong crc = crc32(0L, Z_NULL, 0);
        while (size > 0) {
            const auto want = static_cast<std::size_t>(
                std::min<long long>(size, static_cast<long long>(inBuf.size())));
            const long long n = file.ReadAt(inBuf.data(), want, pos);
            if (n != static_cast<long long>(want)) return ReadFailed(shownName);
            if (checkCrc) crc = crc32(crc, inBuf.data(), static_cast<uInt>(want));
            if (out && !out->Put(inBuf.data(), want)) return WriteFailed(shownName);
            pos += n;
            size -= n;
        }
        if (checkCrc && crc != expectedCrc) {
            RaiseError(kZipErrChecksum, "Data checksum error in " + shownName);
            return Outcome::Refused;
        }
        return Outcome::Done;
    }

    Outcome InflateEntry(long long pos, long long remaining, std::uint32_t declared,
                         std::uint32_t expectedCrc, const std::string& shownName,
                         EntrySink* out) {
        zipfmt::RawZStream inf(zipfmt::RawZStream::Mode::Inflate);
        if (!inf.Ok()) {
            RaiseError(kZipErrNoZlib, "Zlib is not installed");
            return Outcome::Fatal;
        }
        z_stream& zs = inf.Stream();
        uLong crc = crc32(0L, Z_NULL, 0);
        unsigned long long produced = 0;
        auto checksumError = [&] {
            RaiseError(kZipErrChecksum, "Data checksum error in " + shownName);
            return Outcome::Refused;
        };
        for (;;) {
            if (zs.avail_in == 0 && remaining > 0) {
                const auto want = static_cast<std::size_t>(
                    std::min<long long>(remaining, static_cast<long long>(inBuf.size())));
                const long long n = file.ReadAt(inBuf.data(), want, pos);
                if (n != static_cast<long long>(want)) return ReadFailed(shownName);
                pos += n;
                remaining -= n;
                zs.next_in = inBuf.data();
                zs.avail_in = static_cast<uInt>(n);
            }
            zs.next_out = outBuf.data();
            zs.avail_out = static_cast<uInt>(outBuf.size());
            const int rc = inflate(&zs, Z_NO_FLUSH);
            const std::size_t have = outBuf.size() - zs.avail_out;
            if (have > 0) {
                produced += have;
                if (produced > declared) {
                    RaiseError(kZipErrSizeMismatch, "The entry " + shownName +
                                                        " inflates to more than its " +
                                                        std::to_string(declared) + " bytes");
                    return Outcome::Refused;
                }
                crc = crc32(crc, outBuf.data(), static_cast<uInt>(have));
                if (out && !out->Put(outBuf.data(), have)) return WriteFailed(shownName);
            }
            if (rc == Z_STREAM_END) break;
            if (rc == Z_OK) continue;
            if (rc == Z_BUF_ERROR && (zs.avail_in > 0 || remaining > 0)) continue;
            return checksumError();  // corrupt or cut-short deflate data
        }
        if (produced != declared) {
            RaiseError(kZipErrSizeMismatch, "The entry " + shownName + " inflates to " +
                                                std::to_string(produced) + " bytes, not " +
                                                std::to_string(declared));
            return Outcome::Refused;
        }
        if (crc != expectedCrc) return checksumError();
        return Outcome::Done;
    }

    // Writes one entry through a temporary file beside the target, renamed into place
    // only when the data checked out.
    Outcome WriteEntry(const CentralRecord& cr, const std::string& fileName,
                       const std::string& shownName) {
        if (!dest.CreateTemp(FileMode(cr))) return WriteFailed(shownName);
        TempFileSink sink(dest);
        Outcome result = StreamEntry(cr, shownName, &sink, false);
        if (result != Outcome::Done) {
            dest.DiscardTemp();
            return result;
        }
        if (!dest.CommitTemp(fileName)) {
            // The new file replaces the old one in a single rename; only something
            // that is not a file (a folder) can stand in its way.
            if (dest.Exists(fileName)) {
                RaiseError(kZipErrCantRemove, "Can't remove the file " + shownName);
                return Outcome::Refused;
            }
            return WriteFailed(shownName);
        }
        return Outcome::Done;
    }

    Outcome ExtractOne(const CentralRecord& cr, const std::string& rawName,
                       const std::string& folder, bool preservePath, bool overwrite) {
        const auto parts = SplitSafeName(rawName);
        if (!parts) {
            RaiseError(kZipErrUnsafeName, "Refused the entry " + WithSlashes(rawName) +
                                              ": its name leads outside " + folder);
            return Outcome::Refused;
        }
        const std::string& fileName = parts->back();
        std::string shownRel = WithSlashes(rawName);
        if (!preservePath) shownRel = fileName;
        const std::string shown = JoinForText(folder, shownRel);

        std::string failedAt;
        switch (dest.Enter(*parts, preservePath ? parts->size() - 1 : 0, failedAt)) {
            case fileio::Destination::FolderResult::Ok:
                break;
            case fileio::Destination::FolderResult::Link:
                RaiseError(kZipErrUnsafeName, "Refused the entry " + shownRel +
                                                  ": it would be written through the link " +
                                                  JoinForText(folder, failedAt));
                return Outcome::Refused;
            case fileio::Destination::FolderResult::Failed:
                RaiseError(kZipErrWriteFailed,
                           "Can't create the folder " + JoinForText(folder, failedAt));
                return Outcome::Fatal;
        }

        RaiseStatus("Extracting .../" + shownRel);
        // An existing file is never removed first: the checked new one replaces it.
        if (!overwrite && dest.Exists(fileName)) {
            RaiseError(kZipErrExists, "The file " + shown + " already exists");
            return Outcome::Refused;
        }
        return WriteEntry(cr, fileName, shown);
    }

    // Each local header and its data belong to one entry only: records sharing
    // bytes would unpack the same data over and over. Records that cannot be
    // followed are left to the walk, which reports them.
    bool RefuseOverlaps(const EndRecord& end) {
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
                RaiseError(kZipErrOverlap, "Refused " + path + ": the entry " + names[s.entry] +
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

    // Walks the central directory; `visit` returns false to stop (its result is then the
    // walk's). Progress and the message loop run after every entry.
    template <typename Visit>
    bool Walk(Visit&& visit, bool& completed) {
        completed = false;
        EndRecord end;
        if (!ReadEnd(end)) {
            RaiseDamaged(0);
            return false;
        }
        if (end.thisDisk != end.centralDisk) {
            RaiseStatus("Extraction Complete");
            return false;
        }
        if (!RefuseOverlaps(end)) return false;
        budget = kMaxExpansion * fileSize;
        const long long total = end.entriesTotal;
        long long pos = end.centralOffset;
        CentralRecord cr;
        std::string name;
        for (long long i = 1; i <= total; ++i) {
            if (!ReadCentral(pos, cr, name)) {
                RaiseDamaged(i);
                return false;
            }
            if (!visit(cr, name)) return false;
            DoEvents();
            long percent = RoundedPercent(i, total);
            bool cancel = false;
            if (owner.Progress) owner.Progress(percent, cancel);
            if (cancel) return false;
        }
        completed = true;
        return true;
    }
};

ZipExtractionClass::ZipExtractionClass() : impl_(std::make_unique<Impl>(*this)) {}

ZipExtractionClass::~ZipExtractionClass() {
    // The object's end closes the archive without raising events at a half-gone owner.
    impl_->file.Close();
}

bool ZipExtractionClass::OpenZip(const std::string& ZipPath) {
    impl_->RaiseStatus("Opening Zip");
    CloseZip();
    const auto opened = impl_->file.Open(ZipPath);
    impl_->path = ZipPath;
    if (opened == fileio::ReadOnlyFile::OpenResult::NotAFile) {
        impl_->RaiseError(kZipErrMissing, "The file " + ZipPath + " doesn't exist");
        return false;
    }
    if (opened != fileio::ReadOnlyFile::OpenResult::Ok) {
        impl_->RaiseError(kZipErrNotZip, "The file " + ZipPath + " is not a Zip file");
        return false;
    }
    impl_->fileSize = impl_->file.Size();
    const long long position = impl_->FindEndRecord();
    if (position == 0) {
        impl_->RaiseError(kZipErrNotZip, "The file " + ZipPath + " is not a Zip file");
        return false;
    }
    impl_->endPosition = position;
    impl_->RaiseStatus("Zip Opened");
    return true;
}

void ZipExtractionClass::CloseZip() {
    if (impl_->file.IsOpen()) {
        impl_->file.Close();
        impl_->RaiseStatus("Zip Closed");
    }
    impl_->endPosition = 0;
}

std::string ZipExtractionClass::ZLibVersion() {
    const char* v = zlibVersion();
    if (v == nullptr || *v == '\0') {
        impl_->RaiseError(kZipErrNoZlib, "Zlib is not installed");
        return {};
    }
    return v;
}

bool ZipExtractionClass::Extract(const std::string& FolderPath, bool PreservePath, bool Overwrite) {
    if (ZLibVersion().empty()) return false;
    impl_->RaiseStatus("Extracting Files");
    if (impl_->endPosition == 0) {
        impl_->RaiseError(kZipErrNoZipOpen, "There is no Zip File Open");
        return false;
    }
    if (fileio::KindOf(FolderPath) == fileio::PathKind::None && !fileio::MakeFolder(FolderPath)) {
        impl_->RaiseError(kZipErrCantCreateFolder, "Can't create the folder " + FolderPath);
        return false;
    }
    if (!impl_->dest.Open(FolderPath)) {
        impl_->RaiseError(kZipErrCantCreateFolder, "Can't create the folder " + FolderPath);
        return false;
    }
    bool completed = false;
    const bool walked = impl_->Walk(
        [&](const CentralRecord& cr, const std::string& name) {
            if (cr.uncompressedSize < 1) return true;  // folders and empty files
            return impl_->ExtractOne(cr, name, FolderPath, PreservePath, Overwrite) !=
                   Outcome::Fatal;
        },
        completed);
    impl_->dest.Close();
    if (!walked || !completed) return false;
    impl_->RaiseStatus("Extraction Complete");
    return true;
}

bool ZipExtractionClass::ReadEntry(const std::string& name, std::size_t maxSize,
                                   std::string& out) {
    out.clear();
    if (impl_->endPosition == 0) {
        impl_->RaiseError(kZipErrNoZipOpen, "There is no Zip File Open");
        return false;
    }
    bool found = false, ok = false, completed = false;
    impl_->Walk(
        [&](const CentralRecord& cr, const std::string& entryName) {
            if (ToLower(WithSlashes(entryName)) != ToLower(name)) return true;
            found = true;
            if (cr.uncompressedSize > maxSize) {
                impl_->RaiseError(kZipErrSizeMismatch, "The entry " + name + " is larger than " +
                                                           std::to_string(maxSize) + " bytes");
                return false;
            }
            MemorySink sink(out);
            ok = impl_->StreamEntry(cr, name, &sink, true) == Outcome::Done;
            return false;
        },
        completed);
    if (!found) impl_->RaiseError(kZipErrMissing, "The archive holds no " + name);
    if (!ok) out.clear();
    return ok;
}

bool ZipExtractionClass::ListEntries(const std::function<void(const ZipEntryInfo&)>& onEntry) {
    if (impl_->endPosition == 0) {
        impl_->RaiseError(kZipErrNoZipOpen, "There is no Zip File Open");
        return false;
    }
    EndRecord end;
    if (!impl_->ReadEnd(end)) {
        impl_->RaiseDamaged(0);
        return false;
    }
    long long pos = end.centralOffset;
    CentralRecord cr;
    ZipEntryInfo info;
    for (long long i = 1; i <= end.entriesTotal; ++i) {
        if (!impl_->ReadCentral(pos, cr, info.name)) {
            impl_->RaiseDamaged(i);
            return false;
        }
        info.size = cr.uncompressedSize;
        info.compressedSize = cr.compressedSize;
        info.crc = cr.crc;
        info.method = cr.method;
        info.mode =
            (cr.versionMadeBy >> 8) == zipfmt::kHostUnix ? (cr.externalAttr >> 16) & 07777u : 0u;
        if (onEntry) onEntry(info);
    }
    return true;
}

bool ZipExtractionClass::TestEntries() {
    if (impl_->endPosition == 0) {
        impl_->RaiseError(kZipErrNoZipOpen, "There is no Zip File Open");
        return false;
    }
    bool completed = false;
    const bool walked = impl_->Walk(
        [&](const CentralRecord& cr, const std::string& name) {
            if (cr.uncompressedSize < 1) return true;
            const std::string shown = WithSlashes(name);
            if (!SplitSafeName(name)) {
                impl_->RaiseError(kZipErrUnsafeName, "Refused the entry " + shown +
                                                         ": its name leads outside "
                                                         "the destination");
                return true;
            }
            impl_->RaiseStatus("Testing .../" + shown);
            return impl_->StreamEntry(cr, shown, nullptr, true) != Outcome::Fatal;
        },
        completed);
    return walked && completed;
}

bool ExtractZipFile(const std::string& zipPath, const std::string& destination,
                    std::string* firstError) {
    if (!DoesFileExist(zipPath)) {
        if (firstError) *firstError = "The file " + zipPath + " is missing";
        return false;
    }
    ZipExtractionClass zip;
    zip.ZipError = [firstError](long number, const std::string& text) {
        DPrint("modZip\\UnzipFile ZipError " + std::to_string(number) + ": " + text);
        if (firstError && firstError->empty()) *firstError = text;
    };
    if (!zip.OpenZip(zipPath)) return false;
    const bool result = zip.Extract(destination, true, true);
    zip.CloseZip();
    return result;
}

}  // namespace talvane
