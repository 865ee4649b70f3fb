#include "zip/zip_writer.h"

#include <zlib.h>

#include <algorithm>
#include <ctime>

#include "common/atomic_file.h"
#include "common/log.h"
#include "common/log_sites.h"
#include "platform/file_io.h"
#include "platform/platform.h"
#include "zip/zip_format.h"
#include "zip/zip_zlib.h"

namespace talvane {

using zipfmt::CentralRecord;
using zipfmt::EndRecord;
using zipfmt::LocalHeader;

namespace {

constexpr std::size_t kBufferSize = 256 * 1024;
constexpr unsigned long long kMax32 = 0xFFFFFFFFull;
constexpr std::size_t kMaxEntries = 0xFFFF;

// Collects small writes into one buffer; keeps the running offset.
class BufferedOut {
  public:
    explicit BufferedOut(AtomicFile& file) : file_(file) { buf_.reserve(kBufferSize); }
    bool Write(const void* data, std::size_t len) {
        offset_ += len;
        if (buf_.size() + len > kBufferSize && !Flush()) return false;
        if (len >= kBufferSize) return static_cast<bool>(file_.Write(data, len));
        const auto* p = static_cast<const unsigned char*>(data);
        buf_.insert(buf_.end(), p, p + len);
        return true;
    }
    bool Flush() {
        const bool ok = static_cast<bool>(file_.Write(buf_.data(), buf_.size()));
        buf_.clear();
        return ok;
    }
    unsigned long long Offset() const { return offset_; }

  private:
    AtomicFile& file_;
    std::vector<unsigned char> buf_;
    unsigned long long offset_ = 0;
};

// What deflating one file onto the spool gave.
struct Deflated {
    unsigned long long length = 0;  // bytes read
    uLong crc = 0;
    unsigned long long start = 0, cursor = 0;  // where its deflated data begins and ends
};

std::string LastComponent(const std::string& path) {
    const auto pos = path.find_last_of("/\\");
    return pos == std::string::npos ? path : path.substr(pos + 1);
}

}  // namespace

// One entry: its name, comment, headers and where its deflated data sits in the spool.
class ZipFile {
  public:
    std::string name;
    std::string comment;
    LocalHeader local;
    CentralRecord central;
    unsigned long long spoolOffset = 0;

    // Encodes the file's time stamp (local time) into both headers.
    void SetTime(std::time_t when) {
        std::tm tmv{};
        platform::LocalTime(when, tmv);
        local.modTime = DosTime(tmv.tm_hour, tmv.tm_min, tmv.tm_sec);
        local.modDate = DosDate(tmv.tm_year + 1900, tmv.tm_mon + 1, tmv.tm_mday);
        central.modTime = local.modTime;
        central.modDate = local.modDate;
    }
};

class ZipWriter::Spool {
  public:
    bool Open() { return file_.Open(); }
    unsigned long long End() const { return end_; }
    // Writes at `cursor` without moving the end; Commit() then accepts what was written.
    bool Append(const void* data, std::size_t len, unsigned long long& cursor) {
        if (!file_.WriteAt(data, len, cursor)) return false;
        cursor += len;
        return true;
    }
    void Commit(unsigned long long newEnd) { end_ = newEnd; }
    long long ReadAt(void* buf, std::size_t len, unsigned long long offset) const {
        return file_.ReadAt(buf, len, offset);
    }
    // Deflates all of `in` from the end on, which stays put until Commit().
    bool Deflate(const fileio::ReadOnlyFile& in, const std::string& filePath, Deflated& out);

  private:
    fileio::ScratchFile file_;
    unsigned long long end_ = 0;
};

bool ZipWriter::Spool::Deflate(const fileio::ReadOnlyFile& in, const std::string& filePath,
                               Deflated& out) {
    std::vector<unsigned char> inBuf(kBufferSize);
    std::vector<unsigned char> outBuf(kBufferSize);
    zipfmt::RawZStream def(zipfmt::RawZStream::Mode::Deflate);
    if (!def.Ok()) return false;
    z_stream& zs = def.Stream();
    uLong crc = crc32(0L, Z_NULL, 0);
    unsigned long long length = 0;
    const unsigned long long start = End();
    unsigned long long cursor = start;
    bool atEnd = false;
    while (true) {
        if (zs.avail_in == 0 && !atEnd) {
            const long long n =
                in.ReadAt(inBuf.data(), inBuf.size(), static_cast<long long>(length));
            if (n < 0) {
                DPrint(logsite::kAddFile + ": can't read " + filePath);
                return false;
            }
            atEnd = n == 0;
            length += static_cast<unsigned long long>(n);
            if (length > kMax32) return false;  // beyond what the format holds
            crc = crc32(crc, inBuf.data(), static_cast<uInt>(n));
            zs.next_in = inBuf.data();
            zs.avail_in = static_cast<uInt>(n);
        }
        zs.next_out = outBuf.data();
        zs.avail_out = static_cast<uInt>(outBuf.size());
        const int rc = deflate(&zs, atEnd ? Z_FINISH : Z_NO_FLUSH);
        const std::size_t have = outBuf.size() - zs.avail_out;
        if (have > 0 && !Append(outBuf.data(), have, cursor)) return false;
        if (rc == Z_STREAM_END) break;
        if (rc != Z_OK && rc != Z_BUF_ERROR) return false;
    }
    out = {length, crc, start, cursor};
    return true;
}

std::uint16_t DosTime(int hour, int minute, int second) {
    const unsigned h = static_cast<unsigned>(hour) & 0x1F;
    const unsigned m = static_cast<unsigned>(minute) & 0x3F;
    const unsigned s = static_cast<unsigned>(second / 2) & 0x1F;
    return static_cast<std::uint16_t>((h << 11) | (m << 5) | s);
}

std::uint16_t DosDate(int year, int month, int day) {
    const unsigned y = static_cast<unsigned>(year - 1980) & 0x7F;
    const unsigned m = static_cast<unsigned>(month) & 0x0F;
    const unsigned d = static_cast<unsigned>(day) & 0x1F;
    return static_cast<std::uint16_t>((y << 9) | (m << 5) | d);
}

ZipWriter::ZipWriter() : spool_(std::make_unique<Spool>()) {}
ZipWriter::~ZipWriter() = default;

long ZipWriter::FileCount() const {
    return static_cast<long>(files_.size());
}

void ZipWriter::Comment(const std::string& s) {
    comment_ = s.substr(0, zipfmt::kMaxComment);
}

bool ZipWriter::AddFile(const std::string& filePath, const std::string& entryName,
                        const std::string& comment) {
    fileio::FileFacts facts;
    if (!fileio::StatFile(filePath, facts)) return false;
    if (facts.size > kMax32) {
        // Refused before deflating gigabytes only to find the sizes do not fit.
        DPrint(logsite::kAddFile + ": " + filePath + " is larger than a zip entry can hold");
        return false;
    }
    auto entry = std::make_unique<ZipFile>();
    entry->name = entryName.empty() ? LastComponent(filePath) : entryName;
    if (entry->name.empty() || entry->name.size() > 0xFFFF) return false;
    entry->comment = comment.substr(0, 0xFFFF);
    entry->SetTime(facts.modified);

    fileio::ReadOnlyFile in;
    if (in.Open(filePath) != fileio::ReadOnlyFile::OpenResult::Ok || !spool_->Open()) {
        DPrint(logsite::kAddFile + ": can't read " + filePath);
        return false;
    }
    Deflated d;
    if (!spool_->Deflate(in, filePath, d)) return false;
    const unsigned long long compressed = d.cursor - d.start;
    if (compressed > kMax32) return false;

    LocalHeader& lh = entry->local;
    CentralRecord& cr = entry->central;
    lh.versionNeeded = cr.versionNeeded = 20;
    lh.flags = cr.flags = 2;
    // Names are UTF-8; other tools read a name without this flag in an old code page.
    const bool ascii = std::all_of(entry->name.begin(), entry->name.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (!ascii) lh.flags = cr.flags = 2 | zipfmt::kFlagUtf8;
    cr.versionMadeBy = 20;
    if (d.length == 0) {
        // An empty file is a stored entry of length 0; nothing of the deflate output is kept.
        lh.method = cr.method = zipfmt::kMethodStored;
        lh.crc = cr.crc = 0;
        lh.compressedSize = cr.compressedSize = 0;
        lh.uncompressedSize = cr.uncompressedSize = 0;
    } else {
        lh.method = cr.method = zipfmt::kMethodDeflated;
        lh.crc = cr.crc = static_cast<std::uint32_t>(d.crc);
        lh.compressedSize = cr.compressedSize = static_cast<std::uint32_t>(compressed);
        lh.uncompressedSize = cr.uncompressedSize = static_cast<std::uint32_t>(d.length);
        spool_->Commit(d.cursor);
    }
    entry->spoolOffset = d.start;
    lh.nameLength = cr.nameLength = static_cast<std::uint16_t>(entry->name.size());
    lh.extraLength = cr.extraLength = 0;
    cr.commentLength = static_cast<std::uint16_t>(entry->comment.size());
    cr.diskStart = 0;
    cr.internalAttr = 0x0020;
    cr.externalAttr = 0;
    if (unixModes_) {
        cr.versionMadeBy = static_cast<std::uint16_t>((zipfmt::kHostUnix << 8) | 20);
        constexpr std::uint32_t kRegularFile = 0100000;
        cr.externalAttr = (kRegularFile | (facts.mode & 0777u)) << 16;
    }
    files_.push_back(std::move(entry));
    return true;
}

bool ZipWriter::WriteZip(const std::string& zipPath, bool overwrite) {
    // An existing archive is replaced only once its successor is complete.
    if (fileio::EntryExists(zipPath)) {
        if (!overwrite) return false;
        if (fileio::KindOf(zipPath) == fileio::PathKind::Folder) {
            DPrint(logsite::kWriteZip + ": can't remove " + zipPath);
            return false;
        }
    }
    if (files_.size() > kMaxEntries) {
        DPrint(logsite::kWriteZip + ": too many entries for one archive");
        return false;
    }
    AtomicFile out;
    if (auto created = out.Create(zipPath, 0644); !created) {
        DPrint(logsite::kWriteZip + ": can't create " + zipPath + " (" + created.error().message +
               ")");
        return false;
    }
    auto fail = [&] {
        out.Discard();
        DPrint(logsite::kWriteZip + ": can't write " + zipPath);
        return false;
    };

    BufferedOut w(out);
    std::vector<unsigned char> copyBuf(kBufferSize);
    for (auto& f : files_) {
        if (w.Offset() > kMax32) return fail();
        f->central.localOffset = static_cast<std::uint32_t>(w.Offset());
        unsigned char hb[zipfmt::kLocalSize];
        f->local.Write(hb);
        if (!w.Write(hb, sizeof hb) || !w.Write(f->name.data(), f->name.size())) return fail();
        unsigned long long pos = f->spoolOffset;
        unsigned long long left = f->local.compressedSize;
        while (left > 0) {
            const std::size_t want =
                left < copyBuf.size() ? static_cast<std::size_t>(left) : copyBuf.size();
            const long long n = spool_->ReadAt(copyBuf.data(), want, pos);
            if (n != static_cast<long long>(want) || !w.Write(copyBuf.data(), want)) return fail();
            pos += want;
            left -= want;
        }
    }
    const unsigned long long centralStart = w.Offset();
    for (auto& f : files_) {
        unsigned char cb[zipfmt::kCentralSize];
        f->central.Write(cb);
        if (!w.Write(cb, sizeof cb) || !w.Write(f->name.data(), f->name.size()) ||
            !w.Write(f->comment.data(), f->comment.size()))
            return fail();
    }
    const unsigned long long centralEnd = w.Offset();
    if (centralEnd > kMax32) return fail();
    EndRecord end;
    end.entriesHere = end.entriesTotal = static_cast<std::uint16_t>(files_.size());
    end.centralSize = static_cast<std::uint32_t>(centralEnd - centralStart);
    end.centralOffset = static_cast<std::uint32_t>(centralStart);
    end.commentLength = static_cast<std::uint16_t>(comment_.size());
    unsigned char eb[zipfmt::kEndSize];
    end.Write(eb);
    if (!w.Write(eb, sizeof eb) || !w.Write(comment_.data(), comment_.size()) || !w.Flush() ||
        !out.Commit())
        return fail();
    return true;
}

}  // namespace talvane
